// TXmlCarrier: reads and writes the carrier setup file Settings/ZVCarriers.ccr
// for one load or one save. Failures are not raised: they are kept in LastError
// and written to the report file Settings/ZVSettingsError.log, which creation
// rewrites to say the settings are correct. The file is a cache of the last
// connection's carriers, so a failure to write it or the report (a full disk)
// costs the record, never the caller's work: each load or save tells it in one
// line to the warning sink. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <pugixml.hpp>
#include <string>
#include <string_view>

#include "support/helpers.h"

namespace zv {

class TZVCarrierConsole;
class TZVCarriersConsole;

class TXmlCarrier {
 public:
  // Writes the report file.
  TXmlCarrier();

  // Where the one-line warnings of every load and save go; without a sink
  // they are dropped.
  using TWarningSink = std::function<void(const std::string& line)>;
  static void SetWarningSink(TWarningSink sink);

  // Settings/ZVCarriers.ccr beside the program.
  static std::string SetupFilePath();
  TXmlCarrier(const TXmlCarrier&) = delete;
  TXmlCarrier& operator=(const TXmlCarrier&) = delete;

  // Replaces the contents of `lst`; on failure it keeps the carriers read
  // before the bad one.
  void LoadCarriers(TZVCarriersConsole& lst);
  // Writes a temporary file beside the setup file and renames it over it, so a
  // failed save leaves the old file as it was.
  void SaveCarriers(const TZVCarriersConsole& lst);

  const std::string& LastError() const { return FLastError; }
  bool Active() const { return FActive; }
  const std::string& XMLFileName() const { return FFileName; }
  // Throws EZVFileFormat for an empty name or one without the .ccr extension.
  void SetXMLFileName(const std::string& Value);

  // Quoted with inner quotes doubled; with `replaceCRCF` every CR LF then
  // becomes backslash-n. UnpackString reverses it.
  static std::string PackString(std::string_view str, bool replaceCRCF);
  static std::string UnpackString(std::string_view str, bool replaceCRCF);

  // `errorMsg` is emptied, or set to why the name is unusable; true when empty.
  static bool CheckFileName(std::string_view fileName, std::string_view typeName,
                            std::string extension, std::string& errorMsg);
  // CheckFileName, and the file must exist.
  static bool CheckFile(std::string_view fileName, std::string_view typeName, std::string extension,
                        std::string& errorMsg);

  // The text of the first child element named exactly `nodeName`; throws
  // EZVIncompleteObject when there is none.
  static std::string ReturnNodeValue(std::string_view nodeName, const pugi::xml_node& nodeParent);
  // The same text as a number; `defaultValue` when it is not one.
  static int32_t ReturnNodeValue(std::string_view nodeName, const pugi::xml_node& nodeParent,
                                 int32_t defaultValue);

  // The XML libraries available, joined with `delimiter`.
  static std::string EnumerateDOMVendors(std::string_view delimiter);

 private:
  bool OpenFile(const std::string& fileName);
  void CloseDocument();
  bool CheckFileHeader(const pugi::xml_node& root);
  void LoadFromXML(const std::string& fileName, TZVCarriersConsole& lst);
  void SaveToXML(const std::string& fileName, const TZVCarriersConsole& lst);
  void AddCarrierNode(const TZVCarrierConsole& carrier, pugi::xml_node parent);
  void AddFieldNodes(pugi::xml_node node, const TStringList& names, const TStringList& values);
  void CheckFieldCount(const TStringList& names, const TStringList& values);
  // Writes the report; a failure is kept in FReportError.
  void WriteErrorLog();
  // The one warning of a load or save, if it met a failure.
  void WarnOfFailure(std::string_view failure) const;

  std::string FFileName;
  pugi::xml_document FXMLDoc;
  pugi::xml_node iObjectRoot;  // the root element while the document is open
  std::string FLastError;
  std::string FReportError;  // the first failure to write the report
  const std::string FObjectsLabel = "carriers";
  const std::string FObjectLabel = "carrier";
  const std::string FTypeName = "Carrier";
  bool FActive = false;
};

}  // namespace zv
