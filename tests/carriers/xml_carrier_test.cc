#include "carriers/xml_carrier.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "carriers/carriers_console.h"
#include "support/exceptions.h"
#include "support/file_size_limit.h"
#include "support/scratch_folder.h"

namespace zv {
namespace {

namespace fs = std::filesystem;
using ::testing::EndsWith;
using ::testing::StartsWith;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string CarrierXml(const std::string& id, const std::string& name, bool withMsgLength = true) {
  return "  <carrier>\n    <carrierId>" + id + "</carrierId>\n    <carrierName>\"" + name +
         "\"</carrierName>\n" + (withMsgLength ? "    <msgLength>80</msgLength>\n" : "") +
         "    <carrierType>1</carrierType>\n    <carrierTypeStr>\"TAP\"</carrierTypeStr>\n"
         "    <addressType>1</addressType>\n    <addressTypeStr>\"pager id\"</addressTypeStr>\n"
         "    <carrierInfo>\"\"</carrierInfo>\n  </carrier>\n";
}

// Each test runs in its own program folder with a Settings subfolder.
class XmlCarrierTest : public ::testing::Test {
 protected:
  std::string SetupPath() const {
    return (FFolder.Path() / "Settings" / "ZVCarriers.ccr").string();
  }
  std::string Report() const {
    return ReadFile(FFolder.Path() / "Settings" / "ZVSettingsError.log");
  }

  void WriteSetup(const std::string& carriers, const std::string& root = "carriers") {
    WriteFile(SetupPath(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + root + ">\n" +
                               carriers + "</" + root + ">\n");
  }

  // Loads the setup file into `list`; the load's LastError, which the report
  // must begin with.
  std::string Load(TZVCarriersConsole& list) {
    TXmlCarrier xml;
    xml.LoadCarriers(list);
    if (!xml.LastError().empty()) {
      EXPECT_EQ(Report().rfind(xml.LastError() + "\r\n\r\n", 0), 0u) << Report();
    }
    return xml.LastError();
  }

  std::string Save(const TZVCarriersConsole& list) {
    TXmlCarrier xml;
    xml.SaveCarriers(list);
    return xml.LastError();
  }

  testutil::TScratchFolder FFolder;
};

TEST_F(XmlCarrierTest, CollectionSurvivesASaveAndALoad) {
  TZVCarriersConsole saved;
  saved.FromTcpStr(
      "1,\"Pa\"\"ger, \"\"main\"\"\",-7,TAP <modem> & co,1,pager id,80,"
      "\"first line,\"\"second, with comma\"\",Grüße €\"\x1E"
      "2,Ünïcödé 📟,127,SMS,2,mobile number,160,\"\"",
      ',', 18);
  ASSERT_EQ(saved.Count(), 2);
  ASSERT_EQ(saved.GetItem(0)->ObjectName(), "Pa\"ger, \"main\"");
  ASSERT_EQ(saved.GetItem(0)->Info().size(), 3u);

  EXPECT_EQ(Save(saved), "");
  const std::string text = ReadFile(SetupPath());
  EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<carriers>\n  <carrier>\n"
                       "    <carrierId>1</carrierId>\n",
                       0),
            0u)
      << text;
  EXPECT_NE(
      text.find("<carrierInfo>\"first line\\nsecond, with comma\\nGrüße €\\n\"</carrierInfo>"),
      std::string::npos)
      << text;
  EXPECT_NE(text.find("<carrierInfo>\"\"</carrierInfo>"), std::string::npos);
  EXPECT_FALSE(fs::exists(SetupPath() + ".tmp"));

  TZVCarriersConsole loaded;
  EXPECT_EQ(Load(loaded), "");
  ASSERT_EQ(loaded.Count(), saved.Count());
  for (int32_t i = 0; i < saved.Count(); ++i) {
    const TZVCarrierConsole& a = *saved.GetItem(i);
    const TZVCarrierConsole& b = *loaded.GetItem(i);
    EXPECT_EQ(b.ObjectId(), a.ObjectId());
    EXPECT_EQ(b.ObjectName(), a.ObjectName());
    EXPECT_EQ(b.MsgLength(), a.MsgLength());
    EXPECT_EQ(b.CarrierType(), a.CarrierType());
    EXPECT_EQ(b.CarrierTypeStr(), a.CarrierTypeStr());
    EXPECT_EQ(b.AddressType(), a.AddressType());
    EXPECT_EQ(b.AddressTypeStr(), a.AddressTypeStr());
    EXPECT_EQ(b.Info(), a.Info());
  }
  EXPECT_EQ(Report().rfind("The \"" + SetupPath() + "\" file settings are correct.\r\n\r\n", 0),
            0u);
}

TEST_F(XmlCarrierTest, LoadThroughTheCollection) {
  WriteSetup(CarrierXml("4", "Four") + CarrierXml("5", "Five"));
  TZVCarriersConsole list;
  list.LoadFromFile();
  EXPECT_EQ(list.DisplayNames(TZVTitleType::ttBoth), "4 - Four, 5 - Five");
  list.Clear();
  list.SaveToFile();  // an empty list is written, and then refused on load
  list.LoadFromFile();
  EXPECT_TRUE(list.IsEmpty());
}

TEST_F(XmlCarrierTest, EmptyCollectionSavedThenLoaded) {
  EXPECT_EQ(Save(TZVCarriersConsole()), "");
  EXPECT_NE(ReadFile(SetupPath()).find("<carriers />"), std::string::npos);
  TZVCarriersConsole list;
  EXPECT_EQ(Load(list), "Carriers setup file error.\r\nNo carrier objects in the file");
  EXPECT_TRUE(list.IsEmpty());
}

TEST_F(XmlCarrierTest, FailedSaveKeepsTheOldFile) {
  TZVCarriersConsole list;
  list.FromTcpStr("1,Old,1,T,1,p,80,", ',', 18);
  ASSERT_EQ(Save(list), "");
  const std::string before = ReadFile(SetupPath());

  list.FromTcpStr("2,New,1,T,1,p,80,", ',', 18);
  std::string error;
  {
    const testutil::TFileSizeLimit fullDisk(before.size() / 2);
    error = Save(list);
  }
  EXPECT_THAT(error,
              StartsWith("EFileCreateError - Cannot create file \"" + SetupPath() + ".tmp-"));
  EXPECT_THAT(error, EndsWith("\". File too large"));
  EXPECT_EQ(ReadFile(SetupPath()), before);
  EXPECT_EQ(Report().rfind(error + "\r\n\r\n", 0), 0u);
}

TEST_F(XmlCarrierTest, BrokenXmlNamesLineAndPosition) {
  WriteFile(SetupPath(),
            "<?xml version=\"1.0\"?>\r\n<carriers>\r\n  "
            "<carrier><carrierId>1</carrier>\r\n</carriers>\r\n");
  TZVCarriersConsole list;
  list.FromTcpStr("9,Old", ',', 18);
  const std::string error = Load(list);
  const std::string head = "Carrier setup file \"" + SetupPath() + "\" is corrupted\r\n\r\n- ";
  EXPECT_EQ(error.rfind(head, 0), 0u) << error;
  EXPECT_NE(error.find("\r\n- Line in file 3 on position 26\r\n"
                       "- Error Text:   <carrier><carrierId>1</carrier>"),
            std::string::npos)
      << error;
  EXPECT_EQ(error.back(), '>');  // the source line without its CR
  EXPECT_TRUE(list.IsEmpty());
}

TEST_F(XmlCarrierTest, ThirdCarrierUnreadable) {
  WriteSetup(CarrierXml("1", "A") + CarrierXml("2", "B") + CarrierXml("3", "C", false) +
             CarrierXml("4", "D"));
  TZVCarriersConsole list;
  EXPECT_EQ(Load(list), "The carrier setup file \"" + SetupPath() +
                            "\" is corrupted.\r\n\r\nAn error in the carrier no 3: The value for "
                            "the \"msgLength\" property is missing or corrupted");
  EXPECT_EQ(list.DisplayNames(TZVTitleType::ttId), "1, 2");
}

TEST_F(XmlCarrierTest, CarrierWithoutId) {
  WriteSetup(CarrierXml("1", "A") + "  <carrier><carrierName>\"x\"</carrierName></carrier>\n");
  TZVCarriersConsole list;
  EXPECT_NE(Load(list).find("An error in the carrier no 2: Error reading a carrier object from "
                            "the file.\r\nObject id is missing"),
            std::string::npos);
  EXPECT_EQ(list.Count(), 1);
}

TEST_F(XmlCarrierTest, RootNameIgnoresCaseAndOnlyElementsAreCarriers) {
  WriteSetup("  <!-- cached list -->\n  <?note x?>\n" + CarrierXml("1", "A") + "  stray\n" +
                 CarrierXml("2", "B"),
             "CARRIERS");
  TZVCarriersConsole list;
  EXPECT_EQ(Load(list), "");
  EXPECT_EQ(list.Count(), 2);
}

TEST_F(XmlCarrierTest, HeaderChecks) {
  TZVCarriersConsole list;
  WriteSetup(CarrierXml("1", "A"), "carrierList");
  EXPECT_EQ(Load(list),
            "Carriers setup file error.\r\nFile header is corrupted, missing or misplaced");
  WriteSetup("  <Carrier><carrierId>1</carrierId></Carrier>\n");
  EXPECT_EQ(Load(list), "Carriers setup file error.\r\nNo carrier objects in the file");
  WriteFile(SetupPath(), "");
  EXPECT_EQ(Load(list).rfind("Carrier setup file \"" + SetupPath() + "\" is corrupted", 0), 0u);
}

TEST_F(XmlCarrierTest, MissingFileEmptiesTheCollection) {
  TZVCarriersConsole list;
  list.FromTcpStr("9,Old", ',', 18);
  EXPECT_EQ(Load(list), "Cannot find Carrier file \"" + SetupPath() + "\"");
  EXPECT_TRUE(list.IsEmpty());
}

TEST_F(XmlCarrierTest, CreationRewritesTheReport) {
  WriteFile(FFolder.Path() / "Settings" / "ZVSettingsError.log", "old failure");
  TXmlCarrier xml;
  EXPECT_EQ(Report().rfind("The \"" + SetupPath() + "\" file settings are correct.\r\n\r\n", 0),
            0u);
  EXPECT_EQ(Report().substr(Report().size() - 2), "\r\n");
}

TEST_F(XmlCarrierTest, ReportThatCannotBeWrittenIsOneWarning) {
  std::vector<std::string> warnings;
  TXmlCarrier::SetWarningSink([&](const std::string& line) { warnings.push_back(line); });
  fs::remove_all(FFolder.Path() / "Settings");
  TZVCarriersConsole list;
  EXPECT_NO_THROW(list.LoadFromFile());
  TXmlCarrier::SetWarningSink(nullptr);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(
      warnings[0].rfind("The carrier report file could not be written: Cannot create file", 0), 0u);
}

TEST(XmlCarrierNameTest, FileNameChecks) {
  std::string error = "stale";
  EXPECT_TRUE(TXmlCarrier::CheckFileName("/a.b/Z.CCR", "Carrier", "ccr", error));
  EXPECT_EQ(error, "");
  EXPECT_FALSE(TXmlCarrier::CheckFileName("", "Carrier", ".ccr", error));
  EXPECT_EQ(error, "Carrier file name cannot be an empty string");
  EXPECT_FALSE(TXmlCarrier::CheckFileName("/x.ccr/setup", "Carrier", ".ccr", error));
  EXPECT_EQ(error, "File \"setup\" is not a \"Carrier\" file");
  EXPECT_FALSE(TXmlCarrier::CheckFile("/nonexistent/z.ccr", "Carrier", ".ccr", error));
  EXPECT_EQ(error, "Cannot find Carrier file \"/nonexistent/z.ccr\"");
}

TEST_F(XmlCarrierTest, SettingABadFileNameThrows) {
  TXmlCarrier xml;
  try {
    xml.SetXMLFileName("carriers.xml");
    ADD_FAILURE();
  } catch (const EZVFileFormat& e) {
    EXPECT_STREQ(e.what(),
                 "Carrier file error.\r\nFile \"carriers.xml\" is not a \"Carrier\" file");
  }
  EXPECT_EQ(xml.XMLFileName(), SetupPath());
  xml.SetXMLFileName("/other/list.ccr");
  EXPECT_EQ(xml.XMLFileName(), "/other/list.ccr");
}

TEST(XmlCarrierPackTest, PackingMatchesTheStoredForm) {
  EXPECT_EQ(TXmlCarrier::PackString("Pa\"ger", false), "\"Pa\"\"ger\"");
  EXPECT_EQ(TXmlCarrier::PackString("a\r\nb\r\n", true), "\"a\\nb\\n\"");
  EXPECT_EQ(TXmlCarrier::PackString("a\r\nb", false), "\"a\r\nb\"");
  EXPECT_EQ(TXmlCarrier::PackString("", true), "\"\"");
  EXPECT_EQ(TXmlCarrier::UnpackString("\"a\\nb\"", true), "a\r\nb");
  EXPECT_EQ(TXmlCarrier::UnpackString("\"a\\nb\"", false), "a\\nb");
  EXPECT_EQ(TXmlCarrier::EnumerateDOMVendors(", ").rfind("pugixml", 0), 0u);
}

}  // namespace
}  // namespace zv
