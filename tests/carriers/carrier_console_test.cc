#include "carriers/carrier_console.h"

#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <string>

#include "support/exceptions.h"

namespace zv {
namespace {

constexpr int32_t kV12 = 18;
constexpr const char* kIdMessage =
    "Error creating a carrier object.\r\nObject id must be greater than \"0\"";

TEST(CarrierFromReplyTest, FullRecordWithQuotedInfo) {
  const TZVCarrierConsole c("1,Pager,1,TAP Modem,1,pager id,80,\"line one,line two\"", ',', kV12);
  EXPECT_EQ(c.ObjectId(), 1);
  EXPECT_EQ(c.ObjectIdStr(), "1");
  EXPECT_EQ(c.ObjectName(), "Pager");
  EXPECT_EQ(c.CarrierType(), 1);
  EXPECT_EQ(c.CarrierTypeStr(), "TAP Modem");
  EXPECT_EQ(c.AddressType(), TZVAddressType::atPager);
  EXPECT_EQ(c.AddressTypeStr(), "pager id");
  EXPECT_EQ(c.MsgLength(), 80);
  EXPECT_EQ(c.Info(), (TStringList{"line one", "line two"}));
}

TEST(CarrierFromReplyTest, FieldsThatAreNotNumbersOrDoNotFit) {
  const TZVCarrierConsole c("7;E-mail;x;SMTP;y;addr;z;;extra", ';', kV12);
  EXPECT_EQ(c.ObjectId(), 7);
  EXPECT_EQ(c.CarrierType(), -1);
  EXPECT_EQ(c.AddressType(), TZVAddressType::atUnknown);
  EXPECT_EQ(c.MsgLength(), 0);
  EXPECT_TRUE(c.Info().empty());

  EXPECT_EQ(TZVCarrierConsole("2,a,-128,t,9,s,1,", ',', kV12).CarrierType(), -128);
  EXPECT_EQ(TZVCarrierConsole("2,a,128,t,9,s,1,", ',', kV12).CarrierType(), -1);
  EXPECT_EQ(TZVCarrierConsole("2,a,-129,t,9,s,1,", ',', kV12).CarrierType(), -1);
  EXPECT_EQ(TZVCarrierConsole("2,a,5,t,9,s,1,", ',', kV12).AddressType(),
            TZVAddressType::atUnknown);
}

TEST(CarrierFromReplyTest, ShortRecordOrUnknownProtocolStoresOnlyTheId) {
  for (const auto& [record, protocol] :
       {std::pair{"5,Pager", kV12}, std::pair{"5,Pager,1,TAP,1,pager id,80,\"a\"", 16}}) {
    const TZVCarrierConsole c(record, ',', protocol);
    EXPECT_EQ(c.ObjectId(), 5) << record;
    EXPECT_EQ(c.ObjectName(), "") << record;
    EXPECT_EQ(c.CarrierType(), 0) << record;
    EXPECT_EQ(c.MsgLength(), 0) << record;
    EXPECT_TRUE(c.Info().empty()) << record;
  }
}

TEST(CarrierFromReplyTest, BadIdOrEmptyRecordFails) {
  for (const char* record : {"0,Pager,1,TAP,1,p,80,", ",Pager", "one,Pager", "-3,Pager"}) {
    try {
      TZVCarrierConsole c(record, ',', kV12);
      ADD_FAILURE() << record;
    } catch (const EZVIncompleteObject& e) {
      EXPECT_STREQ(e.what(), kIdMessage) << record;
    }
  }
  try {
    TZVCarrierConsole c("", ',', kV12);
    ADD_FAILURE();
  } catch (const EZVNoObject& e) {
    EXPECT_STREQ(e.what(), "Error creating a carrier object.\r\nZVS has returned an empty string");
  }
}

TEST(CarrierFromServerObjectTest, StoresEveryFieldAndChecksTheId) {
  TZVCarrierFields fields{3, "SMS", 160, 200, 2, "GSM", "mobile number", {"one", "two"}};
  const TZVCarrierConsole c(&fields);
  EXPECT_EQ(c.ObjectId(), 3);
  EXPECT_EQ(c.ObjectName(), "SMS");
  EXPECT_EQ(c.MsgLength(), 160);
  EXPECT_EQ(c.CarrierType(), -1);  // 200 does not fit a signed byte
  EXPECT_EQ(c.AddressType(), TZVAddressType::atSMS);
  EXPECT_EQ(c.CarrierTypeStr(), "GSM");
  EXPECT_EQ(c.AddressTypeStr(), "mobile number");
  EXPECT_EQ(c.Info(), (TStringList{"one", "two"}));

  for (int32_t id : {0, -1}) {
    fields.Id = id;
    try {
      TZVCarrierConsole bad(&fields);
      ADD_FAILURE() << id;
    } catch (const EZVIncompleteObject& e) {
      EXPECT_STREQ(e.what(), kIdMessage) << id;
    }
  }
  try {
    TZVCarrierConsole none(static_cast<const TZVCarrierFields*>(nullptr));
    ADD_FAILURE();
  } catch (const EZVNoObject& e) {
    EXPECT_STREQ(e.what(), "Error creating a carrier object.\r\nICarrier interface cannot be NULL");
  }
}

TEST(CarrierTest, DisplayNames) {
  const TZVCarrierConsole c("12,SMS Gate,2,GSM,2,mobile number,160,", ',', kV12);
  EXPECT_EQ(c.GetDisplayName(TZVTitleType::ttName), "SMS Gate");
  EXPECT_EQ(c.GetDisplayName(TZVTitleType::ttId), "12");
  EXPECT_EQ(c.GetDisplayName(TZVTitleType::ttBoth), "12 - SMS Gate");
}

class CarrierFromXmlTest : public ::testing::Test {
 protected:
  pugi::xml_node Parse(const std::string& xml) {
    EXPECT_TRUE(FDoc.load_string(xml.c_str()));
    return FDoc.document_element();
  }
  static std::string Element(const std::string& id, const std::string& msgLength) {
    std::string xml = "<carrier>";
    if (!id.empty()) xml += "<carrierId>" + id + "</carrierId>";
    xml += "<carrierName>\"Pa\"\"ger\"</carrierName>";
    if (!msgLength.empty()) xml += "<msgLength>" + msgLength + "</msgLength>";
    xml +=
        "<carrierType>-5</carrierType><carrierTypeStr>\"TAP\"</carrierTypeStr>"
        "<addressType>2</addressType><addressTypeStr>\"mobile\"</addressTypeStr>"
        "<carrierInfo>\"a\\nb\\n\"</carrierInfo></carrier>";
    return xml;
  }
  pugi::xml_document FDoc;
};

TEST_F(CarrierFromXmlTest, ReadsEveryElement) {
  const TZVCarrierConsole c(Parse(Element("3", "80")));
  EXPECT_EQ(c.ObjectId(), 3);
  EXPECT_EQ(c.ObjectName(), "Pa\"ger");
  EXPECT_EQ(c.MsgLength(), 80);
  EXPECT_EQ(c.CarrierType(), -5);
  EXPECT_EQ(c.CarrierTypeStr(), "TAP");
  EXPECT_EQ(c.AddressType(), TZVAddressType::atSMS);
  EXPECT_EQ(c.AddressTypeStr(), "mobile");
  EXPECT_EQ(c.Info(), (TStringList{"a", "b"}));
}

TEST_F(CarrierFromXmlTest, MessageLengthThatIsNotANumberIsZero) {
  EXPECT_EQ(TZVCarrierConsole(Parse(Element("3", "abc"))).MsgLength(), 0);
}

TEST_F(CarrierFromXmlTest, InfoSplitsAtEveryKindOfLineBreak) {
  pugi::xml_node node = Parse(Element("3", "1"));
  node.child("carrierInfo").text().set("\"a\rb\nc\\n\\nd\"");
  EXPECT_EQ(TZVCarrierConsole(node).Info(), (TStringList{"a", "b", "c", "", "d"}));
}

TEST_F(CarrierFromXmlTest, MissingOrBadElementsFail) {
  struct Case {
    std::string xml;
    const char* message;
  };
  const Case cases[] = {
      {Element("", "80"), "Error reading a carrier object from the file.\r\nObject id is missing"},
      {Element("0", "80"), kIdMessage},
      {Element("none", "80"), kIdMessage},
      {Element("3", ""), "The value for the \"msgLength\" property is missing or corrupted"},
  };
  for (const Case& c : cases) {
    try {
      TZVCarrierConsole carrier(Parse(c.xml));
      ADD_FAILURE() << c.xml;
    } catch (const EZVIncompleteObject& e) {
      EXPECT_STREQ(e.what(), c.message) << c.xml;
    }
  }
  EXPECT_THROW(TZVCarrierConsole{pugi::xml_node{}}, EZVNoObject);
}

}  // namespace
}  // namespace zv
