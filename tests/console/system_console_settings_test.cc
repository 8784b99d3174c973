#include <gtest/gtest.h>

#include "console/console_fixture.h"
#include "platform/message_queue.h"
#include "support/data_access.h"

namespace zv::testing {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

class SettingsTest : public ConsoleFixture {};

TEST_F(SettingsTest, DefaultsWithoutASettingsFile) {
  TZVSystemConsole& c = Console();
  EXPECT_EQ(c.ServerIP(), "127.0.0.1");
  EXPECT_EQ(c.ServerPort(), 6022);
  EXPECT_EQ(c.DefaultCarrierId(), 3);
  EXPECT_EQ(c.ConnectionType(), 1);
  EXPECT_EQ(c.MsgPriority(), 4);
  EXPECT_EQ(c.MsgAge(), 120);
  EXPECT_EQ(c.MsgEmailSubject(), "Zorvane Message");
  EXPECT_EQ(c.CmdPrompt(), "Zorvane Send >");
  EXPECT_EQ(c.CurrentUserId(), "TerminalAgent");
  EXPECT_EQ(c.NextMsgId(), 1);
  EXPECT_THAT(Ini(), HasSubstr("LastMsgNo=32\r\n"));  // a block reserved
}

// A clean exit gives back the rest of the block; a kill costs at most the block.
TEST_F(SettingsTest, MessageNumbersWrapAndPersist) {
  for (const bool clean : {true, false}) {
    TDataAccess::WriteToIni("ConsoleSys", "LastMsgNo", 2147483646);
    TDataAccess::SaveIni();
    EXPECT_EQ(Console().NextMsgId(), 1);
    EXPECT_EQ(Console().NextMsgId(), 2);
    if (clean) Console().Save();
    Restart();
    EXPECT_EQ(Console().NextMsgId(), clean ? 3 : 33) << clean;
    Restart();
  }
}

TEST_F(SettingsTest, CommandPrompt) {
  struct Case {
    std::initializer_list<std::string> answers;
    const char* prompt;
    const char* printed;
  };
  const Case cases[] = {
      {{"Pager"}, "Pager >", ""},
      {{"A>B"}, "A>", ""},
      {{"123456789012345"}, "123456789012345 >", ""},
      {{"1234567890123456", ""},
       "Zorvane Send >",
       "Command prompt is to long(16 chars) - max length 15 characters\n"},
      {{"ÄÖÜäöüßÄÖÜäöüßx"}, "ÄÖÜäöüßÄÖÜäöüßx >", ""},
      {{""}, "Zorvane Send >", ""},
  };
  for (const Case& c : cases) {
    Restart();
    std::filesystem::remove(FFolder.Path() / "Settings" / "zvcc.ini");
    TDataAccess::ReloadForTesting();
    const std::string out = Run("cmd", c.answers);
    EXPECT_EQ(Console().CmdPrompt(), c.prompt) << *c.answers.begin();
    if (*c.printed) {
      EXPECT_THAT(out, HasSubstr(c.printed));
    }
  }
  Run("cmd /a", {"Pager"});
  Restart();
  EXPECT_EQ(Console().CmdPrompt(), "Pager >");  // stored at once, kept over a restart
}

TEST_F(SettingsTest, ServerPortEntries) {
  Run("con /s", {"2", "y", "", "0"});
  EXPECT_EQ(Console().ServerPort(), 6022);
  Run("con /s", {"2", "y", "", "-1"});
  EXPECT_EQ(Console().ServerPort(), 6022);
  const std::string out = Run("con /s", {"2", "y", "", "65536", "abc", "65535"});
  EXPECT_THAT(out, HasSubstr("\"65536\" is not a valid port number (1 - 65535)\n"));
  EXPECT_THAT(out, HasSubstr("\"abc\" is not a valid port number (1 - 65535)\n"));
  EXPECT_EQ(Console().ServerPort(), 65535);
  EXPECT_THAT(Ini(), HasSubstr("ServerPort=65535\r\n"));
}

TEST_F(SettingsTest, ServerAddressEntries) {
  const std::string out = Run("con /s", {"2", "Y", "300.1.1.1", "10.0.0", "10.0.0.1", "0"});
  EXPECT_THAT(out, HasSubstr("\"300.1.1.1\" is not a valid IP address\n"));
  EXPECT_THAT(out, HasSubstr("\"10.0.0\" is not a valid IP address\n"));
  EXPECT_EQ(Console().ServerIP(), "10.0.0.1");
  Run("con /s", {"2", "yes", "", "0"});
  EXPECT_EQ(Console().ServerIP(), "10.0.0.1");
  EXPECT_THAT(Ini(), HasSubstr("ServerIP=10.0.0.1\r\n"));
}

TEST_F(SettingsTest, ConnectionChoice) {
  std::string out = Run("con /s", {"3", "x", "", "$2", "n"});
  EXPECT_THAT(out, HasSubstr("Connection with id \"3\" does not exist in the system\n"));
  EXPECT_THAT(out, HasSubstr("\"x\" is not a valid connection id\n"));
  EXPECT_THAT(out, HasSubstr("\"\" is not a valid connection id\n"));
  EXPECT_THAT(out, HasSubstr("New connection id is \"2\": Y/N - n\n"));
  EXPECT_THAT(Screen(), HasSubstr("New connection id NOT set\n\nCurrent Connection:\n"));
  EXPECT_EQ(Console().ConnectionType(), 1);

  out = Run("con /s", {"-4"});
  EXPECT_EQ(Screen(), "");
  EXPECT_EQ(Console().ConnectionType(), 1);

  Run("con /s", {"2", "y", "192.168.5.6", "7000"});
  EXPECT_EQ(Console().ConnectionType(), 2);
  EXPECT_THAT(Screen(), HasSubstr("Server IP: 192.168.5.6\nServer Port: 7000\n"));
  Restart();
  EXPECT_EQ(Console().ConnectionType(), 2);
  EXPECT_EQ(Console().ServerIP(), "192.168.5.6");
}

TEST_F(SettingsTest, ChoiceScreenLayout) {
  Run("con /s", {"0"});
  const std::string& out = FScript.Output;
  // Headings at rows 1, 2 and 4, centred seven columns to the left.
  EXPECT_THAT(out, HasSubstr("\f\n" + std::string(22, ' ') + "Zorvane Console Client\n" +
                             std::string(26, ' ') + "Set Connection\n\n" + std::string(19, ' ') +
                             "List of available connections\n\nAvailable Connections:\n"));
  EXPECT_THAT(out, HasSubstr("(Enter '0' to confirm the current value)\n"
                             "Current connection Id: 1 - Local (COM)\n"
                             "Enter connection Id: 0\n"));
}

TEST_F(SettingsTest, MessageSettings) {
  std::string out = Run("msg /s", {"0", "", "0"});
  EXPECT_THAT(out, HasSubstr("Current priority Id: 4 - Normal\n"));
  EXPECT_THAT(out, HasSubstr("Enter email subject: \n"));
  EXPECT_THAT(out, HasSubstr("Current message age limit: 120 minutes\n"));
  EXPECT_EQ(Console().MsgPriority(), 4);

  out = Run("msg /s", {"7", "2", "Ops \"night\" shift", "1.5", "-5"});
  EXPECT_THAT(out, HasSubstr("Priority with id \"7\" does not exist in the system\n"));
  EXPECT_THAT(out, HasSubstr("\"1.5\" is not a valid message age number\n"));
  EXPECT_EQ(Console().MsgPriority(), 2);
  EXPECT_EQ(Console().MsgAge(), 120);
  EXPECT_EQ(Console().MsgEmailSubject(), "Ops \"night\" shift");
  EXPECT_THAT(Ini(), HasSubstr("MsgSubject=Ops \"night\" shift\r\n"));  // as typed

  Run("msg /s", {"0", "", "999"});
  EXPECT_EQ(Console().MsgAge(), 999);

  Console().Save();
  EXPECT_THAT(Ini(), HasSubstr("MsgSubject=\"Ops \"\"night\"\" shift\"\r\n"));  // escaped
  Restart();
  EXPECT_EQ(Console().MsgEmailSubject(), "Ops \"night\" shift");
  EXPECT_EQ(Console().MsgAge(), 999);
}

TEST_F(SettingsTest, QuotedSubjectReadsBackWithoutItsQuotes) {
  Run("msg /s", {"0", "\"Quoted\"", "0"});
  Restart();
  EXPECT_EQ(Console().MsgEmailSubject(), "Quoted");
}

// A subject that every page would be refused for is refused at the prompt,
// with one line, and asked for again; an empty entry then keeps the old one.
TEST_F(SettingsTest, ASubjectThatWouldStopEveryPageIsRefused) {
  const struct {
    const char* Entry;
    const char* Said;
  } cases[] = {
      {"Disk, db1",
       "\"Disk, db1\" is not a valid email subject: it holds \",\", which the "
       "server takes as a field separator"},
      {"\"Disk, db1\"",
       "\"\"Disk, db1\"\" is not a valid email subject: it holds \",\", which "
       "the server takes as a field separator"},
      {"Tab\there",
       "\"Tab\there\" is not a valid email subject: it holds the control character 0x09"},
      {"Esc\x1B[2J",
       "\"Esc^[[2J\" is not a valid email subject: it holds the control character 0x1B"},
      // Read back at the next start as CR LF.
      {"Two\\nlines",
       "\"Two\\nlines\" is not a valid email subject: it holds the control "
       "character 0x0D"},
  };
  for (const auto& c : cases) {
    const std::string out = Run("msg /s", {"0", c.Entry, "", "0"});
    EXPECT_THAT(out, HasSubstr(std::string("\f") + c.Said + "\n")) << c.Entry;
    EXPECT_EQ(Console().MsgEmailSubject(), "Zorvane Message") << c.Entry;
  }
  EXPECT_THAT(Ini(), Not(HasSubstr("MsgSubject")));
  Run("msg /s", {"0", "a,b", "Disk; db1", "0"});
  EXPECT_EQ(Console().MsgEmailSubject(), "Disk; db1");
}

TEST_F(SettingsTest, DefaultCarrierNeedsALoadedCarrier) {
  // No carriers loaded: only numbers <= 0 end the prompt.
  const std::string out = Run("car /s", {"3", "0"});
  EXPECT_THAT(out, HasSubstr("Carrier with id \"3\" does not exist in the system\n"));
  EXPECT_THAT(out, HasSubstr("Current carrier Id: 3 - Unknown\n"));
  EXPECT_EQ(Console().DefaultCarrierId(), 3);
}

TEST_F(SettingsTest, SaveWritesEveryKeyButTheMessageNumber) {
  Console().Save();
  const std::string ini = Ini();
  EXPECT_EQ(ini.rfind("\xEF\xBB\xBF[ConsoleSys]\r\n", 0), 0u);
  for (const char* line : {"CmdMode=1", "ServerIP=127.0.0.1", "ServerPort=6022", "CarrierId=3",
                           "ConnectionId=1", "MsgPriority=4", "MsgAge=120",
                           "MsgSubject=\"Zorvane Message\"", "CmdPrompt=Zorvane Send >"}) {
    EXPECT_THAT(ini, HasSubstr(std::string(line) + "\r\n"));
  }
  EXPECT_THAT(ini, Not(HasSubstr("LastMsgNo")));
}

// Stored values out of range: one line each at start, the default for the
// run, and the file's text kept by the exit save until the operator sets it.
TEST_F(SettingsTest, StoredValuesOutOfRangeAreReportedAndReplacedForTheRun) {
  const std::string longPrompt(100, 'p');
  const struct {
    const char* key;
    std::string stored;
    std::string rule;
  } cases[] = {
      {"MsgPriority", "99", "is not a number from 1 to 6; the default 4"},
      {"MsgAge", "-4", "is not a number from 1 to 2147483647; the default 120"},
      {"ServerPort", "99999999", "is not a number from 1 to 65535; the default 6022"},
      {"ConnectionId", "7", "is not a number from 1 to 2; the default 1"},
      {"CarrierId", "abc", "is not a number from 1 to 2147483647; the default 3"},
      {"CmdPrompt", longPrompt, "is longer than 17 characters; the default \"Zorvane Send >\""},
      {"LastMsgNo", "-4", "is not a number from 0 to 2147483646; the default 0"},
  };
  for (const auto& c : cases) TDataAccess::WriteToIni("ConsoleSys", c.key, c.stored);
  TDataAccess::SaveIni();
  Console();
  platform::MessageDispatcher::Main().DispatchPending();
  for (const auto& c : cases) {
    const std::string line =
        "Settings: " + std::string(c.key) + "=" + c.stored + " " + c.rule + " is used\n";
    EXPECT_EQ(FScript.Output.find(line), FScript.Output.rfind(line)) << line;
    EXPECT_THAT(FScript.Output, HasSubstr(line));
  }
  TZVSystemConsole& console = Console();
  EXPECT_EQ(console.MsgPriority(), 4);
  EXPECT_EQ(console.MsgAge(), 120);
  EXPECT_EQ(console.ServerPort(), 6022);
  EXPECT_EQ(console.ConnectionType(), 1);
  EXPECT_EQ(console.DefaultCarrierId(), 3);
  EXPECT_EQ(console.CmdPrompt(), "Zorvane Send >");
  EXPECT_EQ(console.NextMsgId(), 1);

  console.Save();
  for (const auto& c : cases) {
    if (std::string(c.key) == "LastMsgNo") continue;  // numbers were drawn
    EXPECT_THAT(Ini(), HasSubstr(std::string(c.key) + "=" + c.stored + "\r\n"));
  }
  Run("msg /s", {"2", "", "0"});
  EXPECT_THAT(Ini(), HasSubstr("MsgPriority=2\r\n"));
  EXPECT_THAT(Ini(), HasSubstr("MsgAge=-4\r\n"));
  EXPECT_THAT(Ini(), HasSubstr("LastMsgNo=1\r\n"));
}

// Outside the prompt setter's 15 characters, the " >" it adds still loads.
TEST_F(SettingsTest, APromptTheSetterStoredLoadsBack) {
  Run("cmd", {"fifteen chars!!"});
  Restart();
  EXPECT_EQ(Console().CmdPrompt(), "fifteen chars!! >");
}

}  // namespace
}  // namespace zv::testing
