#include "protocol/msg_global.h"

#include <gtest/gtest.h>

namespace zv {
namespace {

using L = TZVLoadResult;
using E = TZVEditObject;

TEST(LoadResultTest, ObjectTextAndKindPerValue) {
  struct Case {
    int value;
    bool plural;
    const char* text;
    E object;
  };
  const Case cases[] = {
      {static_cast<int>(L::sorContact), false, "contact object", E::eoContact},
      {static_cast<int>(L::sorGroupError), true, "group objects", E::eoGroup},
      {static_cast<int>(L::sorAccountOk), true, "user account data", E::eoAccount},
      {static_cast<int>(L::sorSysOk), true, "system settings", E::eoSystem},
      {static_cast<int>(L::sorCarrierSum), true, "carrier objects", E::eoCarrier},
      {static_cast<int>(L::sorCarrierSumOk), false, "carrier object", E::eoCarrier},
      {static_cast<int>(L::sorMsgSettingsOK), true, "user message settings", E::eoMsgSettings},
      {static_cast<int>(L::sorRunReport), true, "", E::eoContact},
      {static_cast<int>(L::sorRunReportOK), false, "", E::eoContact},
      {static_cast<int>(L::sorMsg), true, "message objects", E::eoMsg},
      {static_cast<int>(L::sorFolderError), true, "folder objects", E::eoFolder},
      {39, true, "", E::eoContact},  // beyond the table, as read off the wire
      {255, false, "", E::eoContact},
  };
  for (const Case& c : cases) {
    const auto value = static_cast<L>(c.value);
    EXPECT_EQ(LoadResultObjectStr(value, c.plural), c.text) << c.value;
    EXPECT_EQ(LoadResultToEditObject(value), c.object) << c.value;
  }
}

TEST(CaptionTest, LoginAndConnectionCaptionsStayInsideTheirTables) {
  EXPECT_EQ(LoginResultCaption(TZVLoginResult::slrLoginRequest), "Login Request");
  EXPECT_EQ(LoginResultCaption(TZVLoginResult::slrDuplicateLogin), "Duplicate Login Error");
  EXPECT_EQ(LoginResultCaption(TZVLoginResult::slrChangeLoginError), "Change password error");
  EXPECT_EQ(LoginResultCaption(TZVLoginResult::slrNoRights), "");
  EXPECT_EQ(LoginResultCaption(static_cast<TZVLoginResult>(10)), "");
  EXPECT_EQ(LoginResultCaption(static_cast<TZVLoginResult>(255)), "");

  EXPECT_EQ(ConnectionCaption(kConnRequesting), "Requesting Connection");
  EXPECT_EQ(ConnectionCaption(kConnConnect), "");
  EXPECT_EQ(ConnectionCaption(kConnFailedStop), "Connection Failed");
  EXPECT_EQ(ConnectionCaption(kConnClientReady), "Zorvane Client Ready");
  EXPECT_EQ(ConnectionCaption(kConnTimeoutDisconnects), "Timeout Disconnects");
  EXPECT_EQ(ConnectionCaption(14), "");
  EXPECT_EQ(ConnectionCaption(-1), "");
}

TEST(CaptionTest, OnlyConnectedAcceptedAndReadyAreSuccessInTheLowByte) {
  for (int code = -1; code <= 14; ++code) {
    const bool expected = code == 2 || code == 5 || code == 12;
    EXPECT_EQ(IsConnectSuccess(code), expected) << code;
    // Only the low byte is the code.
    EXPECT_EQ(IsConnectSuccess(code + 0x300), expected) << code;
  }
}

TEST(PriorityTest, NamesOneToSixAndUnknownOutside) {
  EXPECT_EQ(PriorityNames(1), "Critical");
  EXPECT_EQ(PriorityNames(kPriorityNormal), "Normal");
  EXPECT_EQ(PriorityNames(6), "Low");
  EXPECT_EQ(PriorityNames(0), "Unknown");
  EXPECT_EQ(PriorityNames(7), "Unknown");
  EXPECT_EQ(PriorityNames(-2147483647 - 1), "Unknown");
}

}  // namespace
}  // namespace zv
