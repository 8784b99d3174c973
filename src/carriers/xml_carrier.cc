#include "carriers/xml_carrier.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <utility>

#include "carriers/carriers_console.h"
#include "platform/file_read.h"
#include "platform/file_replace.h"
#include "support/date_time.h"
#include "support/exceptions.h"
#include "support/int_text.h"
#include "support/text.h"

namespace zv {
namespace {

constexpr const char* kLineBreak = "\r\n";
constexpr const char* kExtension = ".ccr";
// A setup file larger than this is not read (taken as corrupted).
constexpr std::size_t kMaxFileBytes = 64 * 1024 * 1024;

// Line ends are kept as written: a CR inside a value reads back as a CR.
constexpr unsigned kParseOptions = pugi::parse_default & ~pugi::parse_eol;

struct TFileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using TFilePtr = std::unique_ptr<std::FILE, TFileCloser>;

// Creates or replaces `path` with `content`; throws EFileCreateError.
void WriteFileBytes(const std::string& path, const std::string& content) {
  TFilePtr file(std::fopen(path.c_str(), "wb"));
  if (!file) throw FileCreateError(path, errno);
  if (std::fwrite(content.data(), 1, content.size(), file.get()) != content.size() ||
      std::fflush(file.get()) != 0) {
    const int err = errno;
    file.reset();
    throw FileCreateError(path, err);
  }
  if (std::fclose(file.release()) != 0) throw FileCreateError(path, errno);
}

// Replaces `path` whole, so that a failure leaves any earlier file untouched;
// throws EFileCreateError.
void ReplaceFile(const std::string& path, const std::string& content) {
  const platform::ReplaceFailure failure = platform::ReplaceFileContents(path, content);
  if (failure.Error != 0) throw FileCreateError(failure.File, failure.Error);
}

// Where a parse error lies: its line (from 1), its position in the line (from
// 1, in UTF-16 units) and the text of that line.
struct TErrorPlace {
  int Line = 1;
  int Position = 1;
  std::string Source;
};

TErrorPlace LocateOffset(const std::string& data, std::ptrdiff_t offset) {
  const std::size_t at =
      std::min(static_cast<std::size_t>(std::max<std::ptrdiff_t>(offset, 0)), data.size());
  TErrorPlace place;
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < at; ++i) {
    if (data[i] == '\n') {
      ++place.Line;
      lineStart = i + 1;
    }
  }
  if (lineStart == 0 && data.compare(0, kUtf8Bom.size(), kUtf8Bom) == 0) {
    lineStart = std::min(kUtf8Bom.size(), at);  // the byte-order mark is not text
  }
  place.Position =
      static_cast<int>(Utf16Length(std::string_view(data).substr(lineStart, at - lineStart))) + 1;
  std::size_t lineEnd = data.find('\n', lineStart);
  if (lineEnd == std::string::npos) lineEnd = data.size();
  if (lineEnd > lineStart && data[lineEnd - 1] == '\r') --lineEnd;
  place.Source = data.substr(lineStart, lineEnd - lineStart);
  return place;
}

bool IsParseError(pugi::xml_parse_status status) {
  return status != pugi::status_ok && status != pugi::status_file_not_found &&
         status != pugi::status_io_error && status != pugi::status_out_of_memory &&
         status != pugi::status_internal_error;
}

pugi::xml_node FindChildElement(const pugi::xml_node& parent, std::string_view name) {
  for (pugi::xml_node child : parent.children()) {
    if (child.type() == pugi::node_element && name == child.name()) return child;
  }
  return {};
}

std::string FailureText(const std::exception& error) {
  const auto* own = dynamic_cast<const Exception*>(&error);
  return std::string(own ? own->ClassName() : "Exception") + " - " + error.what();
}

}  // namespace

std::string TXmlCarrier::SetupFilePath() { return AppFilePath("Settings", "ZVCarriers.ccr"); }

TXmlCarrier::TXmlCarrier() : FFileName(SetupFilePath()) { WriteErrorLog(); }

namespace {

TXmlCarrier::TWarningSink& WarningSink() {
  static TXmlCarrier::TWarningSink sink;
  return sink;
}

}  // namespace

void TXmlCarrier::SetWarningSink(TWarningSink sink) { WarningSink() = std::move(sink); }

void TXmlCarrier::WarnOfFailure(std::string_view failure) const {
  std::string line;
  if (!failure.empty()) {
    line = "The carriers could not be saved for the next start (" + std::string(failure) +
           "); they hold for this run";
  } else if (!FReportError.empty()) {
    line = "The carrier report file could not be written: " + FReportError;
  }
  if (line.empty() || !WarningSink()) return;
  // One line, whatever the reasons hold.
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  WarningSink()(line);
}

void TXmlCarrier::LoadCarriers(TZVCarriersConsole& lst) {
  LoadFromXML(FFileName, lst);
  WarnOfFailure({});
}

void TXmlCarrier::SaveCarriers(const TZVCarriersConsole& lst) {
  SaveToXML(FFileName, lst);
  WarnOfFailure(FLastError);
}

void TXmlCarrier::SetXMLFileName(const std::string& Value) {
  if (!CheckFileName(Value, FTypeName, kExtension, FLastError)) {
    throw EZVFileFormat(FTypeName + " file error." + kLineBreak + FLastError);
  }
  if (Value != FFileName) FFileName = Value;
}

std::string TXmlCarrier::PackString(std::string_view str, bool replaceCRCF) {
  if (replaceCRCF) return EscapeText(str);
  std::string packed = "\"";
  for (char c : str) {
    packed += c;
    if (c == '"') packed += '"';
  }
  packed += '"';
  return packed;
}

std::string TXmlCarrier::UnpackString(std::string_view str, bool replaceCRCF) {
  return replaceCRCF ? UnescapeText(str) : UnquoteText(str);
}

bool TXmlCarrier::CheckFileName(std::string_view fileName, std::string_view typeName,
                                std::string extension, std::string& errorMsg) {
  errorMsg.clear();
  if (fileName.empty()) {
    errorMsg = std::string(typeName) + " file name cannot be an empty string";
    return false;
  }
  if (!extension.empty() && extension.front() != '.') extension.insert(0, ".");
  const std::size_t slash = fileName.find_last_of('/');
  const std::string_view name =
      slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  const std::string_view fileExt =
      dot == std::string_view::npos ? std::string_view() : name.substr(dot);
  if (!SameTextAscii(fileExt, extension)) {
    errorMsg = "File \"" + std::string(name) + "\" is not a \"" + std::string(typeName) + "\" file";
  }
  return errorMsg.empty();
}

bool TXmlCarrier::CheckFile(std::string_view fileName, std::string_view typeName,
                            std::string extension, std::string& errorMsg) {
  if (!CheckFileName(fileName, typeName, std::move(extension), errorMsg)) return false;
  std::error_code ec;
  const auto status = std::filesystem::status(fileName, ec);
  if (ec || !std::filesystem::exists(status) || std::filesystem::is_directory(status)) {
    errorMsg = "Cannot find " + std::string(typeName) + " file \"" + std::string(fileName) + "\"";
  }
  return errorMsg.empty();
}

std::string TXmlCarrier::ReturnNodeValue(std::string_view nodeName,
                                         const pugi::xml_node& nodeParent) {
  const pugi::xml_node node = FindChildElement(nodeParent, nodeName);
  if (!node) {
    throw EZVIncompleteObject("The value for the \"" + std::string(nodeName) +
                              "\" property is missing or corrupted");
  }
  std::string text;
  for (pugi::xml_node child : node.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
      text += child.value();
  }
  return text;
}

int32_t TXmlCarrier::ReturnNodeValue(std::string_view nodeName, const pugi::xml_node& nodeParent,
                                     int32_t defaultValue) {
  return StrToIntDef(ReturnNodeValue(nodeName, nodeParent), defaultValue);
}

std::string TXmlCarrier::EnumerateDOMVendors(std::string_view delimiter) {
  const std::string pugixml = "pugixml " + std::to_string(PUGIXML_VERSION / 1000) + "." +
                              std::to_string(PUGIXML_VERSION % 1000 / 10);
  return ListWithItem("", pugixml, delimiter);
}

bool TXmlCarrier::OpenFile(const std::string& fileName) {
  if (!CheckFile(fileName, FTypeName, kExtension, FLastError)) return false;
  CloseDocument();
  const std::string corrupted = FTypeName + " setup file \"" + fileName + "\" is corrupted";
  try {
    platform::FileContents file = platform::ReadWholeFile(fileName, kMaxFileBytes);
    if (file.Error != 0) throw FileOpenError(fileName, file.Error);
    const std::string data = std::move(file.Bytes);
    const pugi::xml_parse_result parsed =
        FXMLDoc.load_buffer(data.data(), data.size(), kParseOptions);
    if (IsParseError(parsed.status)) {
      CloseDocument();
      std::string reason = parsed.description();
      if (reason.empty() || reason.back() != '\n') reason += kLineBreak;
      const TErrorPlace place = LocateOffset(data, parsed.offset);
      FLastError = corrupted + kLineBreak + kLineBreak + "- " + reason + "- Line in file " +
                   std::to_string(place.Line) + " on position " + std::to_string(place.Position) +
                   kLineBreak + "- Error Text: " + place.Source;
      return false;
    }
    if (!parsed) throw EZVException(parsed.description());
    FActive = true;
    iObjectRoot = FXMLDoc.document_element();
    if (!iObjectRoot) throw EZVException("The document has no root element");
    if (!CheckFileHeader(iObjectRoot)) throw EZVFileFormat(FLastError);
    FFileName = fileName;
    return true;
  } catch (const EZVFileFormat&) {
    CloseDocument();
    return false;
  } catch (const std::exception&) {
    CloseDocument();
    FLastError = corrupted;
    return false;
  }
}

void TXmlCarrier::CloseDocument() {
  FXMLDoc.reset();
  iObjectRoot = pugi::xml_node();
  FActive = false;
}

bool TXmlCarrier::CheckFileHeader(const pugi::xml_node& root) {
  FLastError.clear();
  if (!SameTextAscii(root.name(), FObjectsLabel)) {
    FLastError = std::string("Carriers setup file error.") + kLineBreak +
                 "File header is corrupted, missing or misplaced";
  } else if (!FindChildElement(root, FObjectLabel)) {
    FLastError =
        std::string("Carriers setup file error.") + kLineBreak + "No carrier objects in the file";
  }
  return FLastError.empty();
}

void TXmlCarrier::LoadFromXML(const std::string& fileName, TZVCarriersConsole& lst) {
  lst.Clear();
  int n = 0;
  bool failed = false;
  try {
    if (!FActive && !OpenFile(fileName)) throw EZVFileFormat(FLastError);
    try {
      // Only elements are carriers; text and other nodes between them are skipped.
      for (pugi::xml_node node : iObjectRoot.children()) {
        if (node.type() != pugi::node_element) continue;
        ++n;
        lst.Add(std::make_unique<TZVCarrierConsole>(node));
      }
    } catch (...) {
      CloseDocument();
      throw;
    }
    CloseDocument();
  } catch (const EZVFileFormat&) {
    failed = true;
  } catch (const std::exception& error) {
    failed = true;
    FLastError = "The " + FObjectLabel + " setup file \"" + FFileName + "\" is corrupted." +
                 kLineBreak + kLineBreak + "An error in the carrier no " + std::to_string(n) +
                 ": " + error.what();
  }
  if (failed) WriteErrorLog();
}

void TXmlCarrier::SaveToXML(const std::string& fileName, const TZVCarriersConsole& lst) {
  CloseDocument();
  FActive = true;
  bool failed = false;
  try {
    pugi::xml_node declaration = FXMLDoc.append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "UTF-8";
    iObjectRoot = FXMLDoc.append_child(FObjectsLabel.c_str());
    for (const TZVCarrierConsole& carrier : lst) AddCarrierNode(carrier, iObjectRoot);
    std::ostringstream text;
    FXMLDoc.save(text, "  ", pugi::format_indent, pugi::encoding_utf8);
    ReplaceFile(fileName, text.str());
  } catch (const std::exception& error) {
    failed = true;
    FLastError = FailureText(error);
  }
  CloseDocument();
  if (failed) WriteErrorLog();
}

void TXmlCarrier::AddCarrierNode(const TZVCarrierConsole& carrier, pugi::xml_node parent) {
  static const TStringList kNames = {"carrierId",      "carrierName",    "msgLength",
                                     "carrierType",    "carrierTypeStr", "addressType",
                                     "addressTypeStr", "carrierInfo"};
  std::string info;
  for (const std::string& line : carrier.Info()) info += line + kLineBreak;
  const TStringList values = {std::to_string(carrier.ObjectId()),
                              PackString(carrier.ObjectName(), false),
                              std::to_string(carrier.MsgLength()),
                              std::to_string(static_cast<int>(carrier.CarrierType())),
                              PackString(carrier.CarrierTypeStr(), false),
                              std::to_string(static_cast<int>(carrier.AddressType())),
                              PackString(carrier.AddressTypeStr(), false),
                              PackString(info, true)};
  AddFieldNodes(parent.append_child(FObjectLabel.c_str()), kNames, values);
}

void TXmlCarrier::AddFieldNodes(pugi::xml_node node, const TStringList& names,
                                const TStringList& values) {
  CheckFieldCount(names, values);
  for (std::size_t i = 0; i < names.size(); ++i) {
    node.append_child(names[i].c_str()).text().set(values[i].c_str());
  }
}

void TXmlCarrier::CheckFieldCount(const TStringList& names, const TStringList& values) {
  if (names.size() == values.size()) return;
  FLastError =
      std::string("Error saving a carrier to the file.") + kLineBreak +
      "Adding field values to the carrier failed." + kLineBreak +
      (values.size() < names.size() ? "Some field values are missing."
                                    : "There are to many values for the number of fields.");
  throw EZVIncompleteObject(FLastError);
}

void TXmlCarrier::WriteErrorLog() {
  std::string report =
      FLastError.empty() ? "The \"" + FFileName + "\" file settings are correct." : FLastError;
  report += std::string(kLineBreak) + kLineBreak + LocalDateTimeText(TDateTime::Now()) + kLineBreak;
  try {
    WriteFileBytes(AppFilePath("Settings", "ZVSettingsError.log"), report);
  } catch (const std::exception& e) {
    if (FReportError.empty()) FReportError = e.what();
  }
}

}  // namespace zv
