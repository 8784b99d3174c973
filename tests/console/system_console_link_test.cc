#include <gtest/gtest.h>

#include "carriers/carriers_console.h"
#include "console/console_fixture.h"
#include "link/recording_client.h"
#include "platform/message_queue.h"
#include "support/data_access.h"

namespace zv::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class LinkEventsTest : public ConsoleFixture {
 protected:
  RecordingClient& Attach(uint8_t type = 2) {
    TDataAccess::WriteToIni("ConsoleSys", "ConnectionId", type);
    auto client = std::make_unique<RecordingClient>(Console(), FSent, type);
    RecordingClient& ref = *client;
    Console().SetClientServer(std::move(client));
    return ref;
  }
  std::string Output() {
    std::string out = FScript.Output;
    FScript.Output.clear();
    return out;
  }

  std::vector<TStringList> FSent;
};

TEST_F(LinkEventsTest, TheRoadOfAStartLogsInLoadsSavesAndConfirms) {
  RecordingClient& client = Attach();
  client.Login(1, "Please log in");
  ASSERT_EQ(client.Logins.size(), 1u);
  // The account id is the password, sent encoded.
  EXPECT_EQ(client.Logins[0],
            "TerminalAgent/" + TZVSystemConsole::EncodeLoginData("TerminalAgent", 1));
  EXPECT_TRUE(Console().LinkStarting());
  client.Login(2, "Welcome");
  EXPECT_EQ(Console().Status(), TZVState::ipsRunning);
  EXPECT_EQ(client.Loads, 1);
  client.OnLoadObjects(true, TZVEditObject::eoCarrier, "loaded");
  EXPECT_EQ(client.Ready, 1);
  EXPECT_TRUE(std::filesystem::exists(FFolder.Path() / "Settings" / "ZVCarriers.ccr"));
  Output();
  client.Connection(true, 12, "Hello from the server");
  EXPECT_EQ(Output(), "\nConnected to the server\nHello from the server\nZorvane Send >");
  EXPECT_FALSE(Console().LinkStarting());
  EXPECT_TRUE(Console().IsConnected());
}

TEST_F(LinkEventsTest, LocalLinkPrintsItsOwnReadyLineWithoutPrompt) {
  RecordingClient& client = Attach(1);
  Output();
  client.OnLoadObjects(false, TZVEditObject::eoCarrier, "failed");
  EXPECT_EQ(Output(), "Connected to the server\nClient \"Console Client\" on " +
                          Console().IPAddress() + " ready to communicate\n");
}

TEST_F(LinkEventsTest, StoppingResultsFreeTheClientAndSay) {
  struct Case {
    bool login;
    int32_t code;
    const char* shown;  // empty: nothing printed
  };
  const Case cases[] = {
      {false, 10, "\nLost connection to the server\nbye\ndebug\nZorvane Send >"},
      {false, 7, "\nbye\nZorvane Send >"},
      {false, 13, ""},
      {true, 3, "\nbye\nZorvane Send >"},
      {true, 6, "bye\nZorvane Send >"},
  };
  for (const Case& c : cases) {
    RecordingClient& client = Attach();
    Output();
    if (c.login) {
      client.Login(c.code, "bye");
    } else {
      client.Connection(false, c.code, "bye");
    }
    // The handler never frees its caller: the stop runs on the next pass.
    EXPECT_EQ(Console().ClientServer(), &client) << c.code;
    platform::MessageDispatcher::Main().DispatchPending();
    EXPECT_EQ(Console().ClientServer(), nullptr) << c.code;
    EXPECT_EQ(Output(), c.shown) << c.code;
  }
}

TEST_F(LinkEventsTest, ServerTextsCannotDriveTheTerminal) {
  RecordingClient& client = Attach();
  Output();
  client.Connection(false, 11, "evil\x1b]0;owned\x07\x1b[2J");
  const std::string out = Output();
  EXPECT_THAT(out, Not(HasSubstr("\x1b"))) << out;
  EXPECT_THAT(out, Not(HasSubstr("\x07"))) << out;
  EXPECT_THAT(out, HasSubstr("evil"));
}

TEST_F(LinkEventsTest, SysErrorLogsAndStopsSilently) {
  RecordingClient& client = Attach();
  Output();
  client.OnSysError(0, "unknown command");
  platform::MessageDispatcher::Main().DispatchPending();
  EXPECT_EQ(Output(), "");
  EXPECT_EQ(Console().ClientServer(), nullptr);
  EXPECT_THAT(Log(), HasSubstr("System Error\r\nDescription: unknown command\r\n"));
}

TEST_F(LinkEventsTest, MessagesNotTakenAreToldCountedAndResultsAwaited) {
  RecordingClient& client = Attach();
  Run("555,Hello");
  EXPECT_EQ(Console().PendingResults(), 1);
  EXPECT_FALSE(Console().AnyMessageFailed());
  client.Refusal = "the link did not take it in time";
  const std::string out = Run("556,Again");
  EXPECT_THAT(out, HasSubstr("to \"556\" was not sent: the link did not take it in time"));
  EXPECT_TRUE(Console().AnyMessageFailed());
  EXPECT_EQ(Console().PendingResults(), 1);
  // A stop with a result still outstanding counts it as lost.
  Console().Stop();
  EXPECT_EQ(Console().PendingResults(), 0);
}

}  // namespace
}  // namespace zv::testing
