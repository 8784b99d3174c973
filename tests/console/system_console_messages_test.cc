#include <gtest/gtest.h>

#include "console/console_fixture.h"
#include "link/recording_client.h"
#include "platform/message_queue.h"
#include "protocol/remote_msg.h"
#include "support/data_access.h"

namespace zv::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class MessagesTest : public ConsoleFixture {
 protected:
  // Sends `line` through a recording client; returns the one data item sent.
  std::string Sent(const std::string& line) {
    FSent.clear();
    Run(line);
    EXPECT_EQ(FSent.size(), 1u) << line;
    if (FSent.size() != 1 || FSent[0].size() != 1) return {};
    return FSent[0][0];
  }
  // A client whose start has reached readiness, so lines go straight out.
  void Connect() {
    auto client = std::make_unique<RecordingClient>(Console(), FSent);
    RecordingClient& ready = *client;
    Console().SetClientServer(std::move(client));
    ready.Connection(true, 12, "ready");
  }

  std::vector<TStringList> FSent;
};

TEST_F(MessagesTest, NotConnectedUsesUpTheNumberAndLogs) {
  TDataAccess::WriteToIni("ConsoleSys", "LastMsgNo", 6);
  EXPECT_EQ(Run("555,Hello"), "Not connected to the server on 127.0.0.1:6022\n");
  EXPECT_TRUE(FLastResult);
  // The file holds a reserved block, not each number.
  EXPECT_THAT(Ini(), HasSubstr("LastMsgNo=38\r\n"));
  const std::string log = Log();
  EXPECT_THAT(log, HasSubstr("Log Item: 1 ("));
  EXPECT_THAT(log, HasSubstr(")\r\nSending Message\r\nDescription: Sending message to \"555\"\r\n"
                             "Debug Info: \"7,555,Hello,3,4,Zorvane Message,120\"\r\n\r\n"));
  Run("1,Hi");
  EXPECT_THAT(Log(), HasSubstr("Debug Info: \"8,1,Hi,"));
  EXPECT_THAT(Ini(), HasSubstr("LastMsgNo=38\r\n"));
}

TEST_F(MessagesTest, FieldsAndDefaults) {
  TDataAccess::WriteToIni("ConsoleSys", "LastMsgNo", 6);
  Connect();
  struct Case {
    const char* line;
    const char* item;
  };
  const Case cases[] = {
      {"555,Hello",
       "Hello\x03"
       "7,3,555,4,120,Zorvane Message,TerminalAgent"},
      {"555;Hello;9",
       "Hello\x03"
       "8,9,555,4,120,Zorvane Message,TerminalAgent"},
      {"555,Hello,,2",
       "Hello\x03"
       "9,3,555,2,120,Zorvane Message,TerminalAgent"},
      {"555 , Hello there ,9",
       "Hello there \x03"
       "10,9,555,4,120,Zorvane Message,TerminalAgent"},
      {"555,\"Hello, world\"",
       "Hello, world\x03"
       "11,3,555,4,120,Zorvane Message,TerminalAgent"},
      {"555,",
       "\x03"
       "12,3,555,4,120,Zorvane Message,TerminalAgent"},
      {"1,Hi,3,4,a,b",
       "Hi\x03"
       "13,3,1,4,b,a,TerminalAgent"},
      {"help, me",
       "me\x03"
       "14,3,help,4,120,Zorvane Message,TerminalAgent"},
      {" 7 ; x ; 2 ; 1 ; Sub ; 30 ",
       "x \x03"
       "15,2,7,1,30,Sub,TerminalAgent"},
      // The text may hold the other control characters and the reply's
      // delimiters: only what follows the 0x03 is split.
      {"7,\"a;b\tc\x01\x1B\"",
       "a;b\tc\x01\x1B\x03"
       "16,3,7,4,120,Zorvane Message,TerminalAgent"},
  };
  for (const Case& c : cases) EXPECT_EQ(Sent(c.line), c.item) << c.line;
}

TEST_F(MessagesTest, SevenFieldsSendNothingAndSaySo) {
  Connect();
  FSent.clear();
  const std::string out = Run("1,2,3,4,5,6,7");
  EXPECT_EQ(out, "Nothing was sent: a message line has at most six fields\n");
  EXPECT_TRUE(FSent.empty());
  EXPECT_TRUE(Console().AnyMessageFailed());  // a script ends with status 3
  EXPECT_THAT(Ini(), Not(HasSubstr("LastMsgNo")));
}

// A block of numbers that cannot be saved costs the record, not the message.
TEST_F(MessagesTest, NumberingFailureIsReportedOnceAndTheMessageStillGoesOut) {
  Connect();
  Console();
  std::filesystem::remove_all(FFolder.Path() / "Settings");
  FSent.clear();
  Run("555,Hello");
  const std::string out = Run("556,Hello");
  platform::MessageDispatcher::Main().DispatchPending();
  EXPECT_EQ(FSent.size(), 2u);
  EXPECT_THAT(FScript.Output,
              HasSubstr("Message numbers could not be saved (Cannot create file \""));
  EXPECT_TRUE(FLastResult);
}

TEST_F(MessagesTest, MessageResultPrintsTwoLinesAndThePrompt) {
  TZVRemoteMsg msg("TerminalAgent", "127.0.0.1", 42);
  msg.SetResultMsg("Message accepted");
  msg.SetMsgAddress("555");
  msg.SetMsg("Hello");
  Console();
  FScript.Output = "Zorvane Send >";
  Console().MsgResultEvent(msg);
  EXPECT_EQ(FScript.Output,
            "Zorvane Send >\nMessage Result: Message accepted\n42, 555, Hello\nZorvane Send >");
  EXPECT_THAT(Log(), HasSubstr("Send Message Result\r\nDescription: Message accepted\r\n"
                               "Debug Info: \"42,555,unknown,Hello\"\r\n"));
}

TEST_F(MessagesTest, ConnectionMessagesByCode) {
  struct Case {
    int type;
    int code;
    const char* expected;
  };
  const Case cases[] = {
      {1, 1, "text\n"},
      {2, 10, "\nLost connection to the server\ntext\nP >"},
      {1, 10, "\nLost connection to the server\ntext\n"},
      {2, 12, "\nConnected to the server\ntext\nP >"},
      {1, 12, "Connected to the server\ntext\n"},
      {1, 4,
       "\nCannot find Zorvane Server\n- Check the server IP address and port number\n"
       "- Check whether the server is running\n- Check your network connection\n"
       "- Reported error: text\nP >"},
      {2, 3,
       "\nCannot find Zorvane Server\n- Check whether the server is installed and "
       "registered on the machine\n- Reported error: text\nP >"},
      {1, 6, "text\n"},
      {2, 7, "\ntext\nP >"},
      {1, 9, "\ntext\nP >"},
      {2, 11, "\ntext\nP >"},
      {2, 13, "\ntext\nP >"},  // an idle link ended by the server says why
      {2, 0, ""},
      {2, 99, ""},
  };
  for (const Case& c : cases) {
    Restart();
    TDataAccess::WriteToIni("ConsoleSys", "ConnectionId", c.type);
    TDataAccess::WriteToIni("ConsoleSys", "CmdPrompt", "P >");
    Console();
    FScript.Output.clear();
    Console().ConnectInfoEvent(c.code, "text");
    EXPECT_EQ(FScript.Output, c.expected) << "type " << c.type << " code " << c.code;
  }
}

// A NUL inside the text is a character like the other controls: what is sent
// and what is logged both keep the whole text.
TEST_F(MessagesTest, ANulInTheTextIsKeptInWhatIsSentAndWhatIsLogged) {
  using namespace std::string_literals;
  Connect();
  EXPECT_EQ(Sent("555,He\0llo"s),
            "He\0llo\x03"
            "1,3,555,4,120,Zorvane Message,TerminalAgent"s);
  EXPECT_THAT(Log(), HasSubstr("Debug Info: \"1,555,He\" 00 \"llo,3,4,Zorvane Message,120\""));
}

// A character that the server or the frame reads as a separator would move
// the page's fields, and with them its address: such a page never leaves,
// is told as not sent, and costs no number.
TEST_F(MessagesTest, APageThatCouldReachAnotherAddressIsRefused) {
  using namespace std::string_literals;
  struct Case {
    std::string line;
    const char* said;
  };
  const Case cases[] = {
      {"555,\"Disk full\x03"
       "1,3,999,4,120,Hacked,TerminalAgent\""s,
       "Nothing was sent to \"555\": its text holds 0x03, which starts the message's fields"},
      {"555,\"one\x1Etwo\""s,
       "Nothing was sent to \"555\": its text holds 0x1E, which separates the items of a send "
       "request"},
      {"555,a\x02z"s,
       "Nothing was sent to \"555\": its text holds 0x02, which ends the header of "
       "a zVP message"},
      {"555,a\x1Dz\x03"s,
       "Nothing was sent to \"555\": its text holds 0x1D, which separates the "
       "account in a zVP header"},
      {"555,a\x1Fz,3"s,
       "Nothing was sent to \"555\": its text holds 0x1F, which separates the "
       "dates in a zVP header"},
      {"5\0"
       "55,Hello"s,
       "Nothing was sent to \"5^@55\": its address holds the control character 0x00"},
      {"5\x1B[2J5,Hello"s,
       "Nothing was sent to \"5^[[2J5\": its address holds the control character 0x1B"},
      {" ,Hello"s, "Nothing was sent: its address is empty"},
      {",Hello"s, "Nothing was sent: its address is empty"},
      {"5,Hi,\"3,4\""s,
       "Nothing was sent to \"5\": its carrier holds \",\", which the server takes as a field "
       "separator"},
      {"5,Hi,3\x7F"
       "4"s,
       "Nothing was sent to \"5\": its carrier holds the control character 0x7F"},
      {"5,Hi,,\"2,\""s,
       "Nothing was sent to \"5\": its priority holds \",\", which the server "
       "takes as a field separator"},
      {"5,Hi,,,Sub\tject"s,
       "Nothing was sent to \"5\": its subject holds the control character 0x09"},
      {"5,Hi,,,,1\x01"
       "20"s,
       "Nothing was sent to \"5\": its age limit holds the control character 0x01"},
  };
  Connect();
  for (const Case& c : cases) {
    FSent.clear();
    EXPECT_EQ(Run(c.line), std::string(c.said) + "\n") << c.line;
    EXPECT_TRUE(FSent.empty()) << c.line;
  }
  EXPECT_TRUE(Console().AnyMessageFailed());
  EXPECT_THAT(Ini(), Not(HasSubstr("LastMsgNo")));
  // `zvcc send` hands its page over the same way.
  FSent.clear();
  FScript.Output.clear();
  Console().SendOrder(" ", "Hello");
  Console().SendOrder("555",
                      "Disk full\x03"
                      "1,3,999");
  EXPECT_EQ(
      FScript.Output,
      "Nothing was sent: its address is empty\n"
      "Nothing was sent to \"555\": its text holds 0x03, which starts the message's fields\n");
  EXPECT_TRUE(FSent.empty());
}

// A reply numbered as a page but for another address or text is printed and
// answers nothing; the page waits for its own result.
TEST_F(MessagesTest, AResultForAnotherAddressUnderAPagesNumberLeavesThePageWaiting) {
  Connect();
  Run("555,db1 is DOWN");
  ASSERT_EQ(FSent.size(), 1u);
  const auto result = [&](const std::string& address, const std::string& text) {
    TZVRemoteMsg msg("TerminalAgent", "127.0.0.1", 1);
    msg.SetResultMsg("Result for " + address);
    msg.SetMsgAddress(address);
    msg.SetMsg(text);
    Console().MsgResultEvent(msg);
  };
  result("5", "Unsolicited result 1");
  EXPECT_THAT(FScript.Output,
              HasSubstr("Message Result: Result for 5\n1, 5, Unsolicited result 1"));
  EXPECT_EQ(Console().Ledger().Outstanding(), 1u);
  result("555", "db1 is DOWN");
  EXPECT_EQ(Console().Ledger().Outstanding(), 0u);
  EXPECT_EQ(Console().Ledger().Answered(), 1);
}

}  // namespace
}  // namespace zv::testing
