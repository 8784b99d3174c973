#include <gtest/gtest.h>

#include "carriers/carriers_console.h"
#include "console/console_fixture.h"
#include "link/recording_client.h"
#include "platform/message_queue.h"
#include "protocol/remote_msg.h"
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

TEST_F(LinkEventsTest, AfterReadyANoticeShowsTheServersTextAndPagesStillGoOut) {
  for (int32_t code : {0, 1, 3, 8, 11}) {
    SCOPED_TRACE(code);
    FSent.clear();
    RecordingClient& client = Attach();
    client.Login(2, "Welcome");
    client.OnLoadObjects(true, TZVEditObject::eoCarrier, "loaded");
    client.Connection(true, 12, "ready");
    Output();
    const std::string text = "Zorvane Server notice " + std::to_string(code);
    client.ServerConnection(false, code, text);
    const std::string shown = Output();
    EXPECT_THAT(shown, HasSubstr("\n" + text + "\nZorvane Send >"));
    EXPECT_THAT(shown, Not(HasSubstr("raw frame")));
    EXPECT_THAT(shown, Not(HasSubstr("Cannot find Zorvane Server")));
    EXPECT_THAT(Run("stat"), HasSubstr("Connected to the server: Yes"));
    EXPECT_THAT(Run("555,Next"), Not(HasSubstr("not sent")));
    ASSERT_EQ(FSent.size(), 1u);
    // A start on the live link changes nothing: the page after it goes out too.
    Run("start");
    EXPECT_THAT(Run("556,After start"), Not(HasSubstr("waits until the server is ready")));
    EXPECT_EQ(FSent.size(), 2u);
    EXPECT_FALSE(Console().LinkStarting());
    Console().Stop();
  }
}

TEST_F(LinkEventsTest, WhatTheLinkDeliversAfterItsEndingIsNotShown) {
  RecordingClient& client = Attach();
  client.Login(2, "Welcome");
  client.Connection(true, 12, "ready");
  Output();
  // Both wait in the link's queue, as the server's ending and the reader's
  // report of the closed socket do.
  client.PostInfo("acc", "Zorvane Server disconnects the client", "raw", TTcpCommand::tcpConnect,
                  false, 0, 7);
  client.PostInfo("acc", "Connection to 127.0.0.1:6022 lost at now", "reset",
                  TTcpCommand::tcpConnect, false, 0, 10);
  platform::MessageDispatcher::Main().DispatchPending();
  platform::MessageDispatcher::Main().DispatchPending();
  EXPECT_EQ(Console().ClientServer(), nullptr);
  const std::string shown = Output();
  EXPECT_THAT(shown, HasSubstr("Zorvane Server disconnects the client"));
  EXPECT_THAT(shown, Not(HasSubstr("Lost connection")));
  EXPECT_THAT(Log(), Not(HasSubstr("Connection Lost")));
}

TEST_F(LinkEventsTest, LocalLinkConfirmsReadinessBeforeTheHeldPagesGo) {
  RecordingClient& client = Attach(1);
  client.Connection(true, 2, "connected");
  EXPECT_THAT(Run("555,Early"), HasSubstr("waits until the server is ready"));
  client.OnLoadObjects(true, TZVEditObject::eoCarrier, "loaded");
  EXPECT_EQ(client.Calls, (std::vector<std::string>{"ready", "send"}));
}

TEST_F(LinkEventsTest, LocalLinkPrintsItsOwnReadyLineWithoutPrompt) {
  RecordingClient& client = Attach(1);
  Output();
  client.OnLoadObjects(true, TZVEditObject::eoCarrier, "loaded");
  EXPECT_EQ(Output(), "Connected to the server\nClient \"Console Client\" on " +
                          Console().IPAddress() + " ready to communicate\n");
  // A failed load says so, and the console carries on to readiness.
  client.OnLoadObjects(false, TZVEditObject::eoCarrier, "no carriers today");
  EXPECT_THAT(Output(), ::testing::StartsWith("The carrier list could not be loaded: no carriers "
                                              "today; the list from the last connection is kept\n"
                                              "Connected to the server\n"));
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
      {false, 13, "\nbye\nZorvane Send >"},
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

TEST_F(LinkEventsTest, SysErrorSaysWhyLogsAndStops) {
  RecordingClient& client = Attach();
  Output();
  client.OnSysError(0, "unknown command");
  platform::MessageDispatcher::Main().DispatchPending();
  EXPECT_EQ(Output(), "\nThe server refused a request: unknown command\nZorvane Send >");
  EXPECT_EQ(Console().ClientServer(), nullptr);
  EXPECT_THAT(Log(), HasSubstr("System Error\r\nDescription: unknown command\r\n"));
}

TEST_F(LinkEventsTest, AfterAFailedStartALineIsToldNotSent) {
  RecordingClient& client = Attach(1);
  client.Connection(false, 3, "no server on the bus");
  EXPECT_THAT(Run("555,Hello"), HasSubstr("was not sent: the link is not up; type start"));
  EXPECT_TRUE(FSent.empty());
  EXPECT_TRUE(Console().AnyMessageFailed());
}

TEST_F(LinkEventsTest, EveryPageEndsInOneOutcome) {
  RecordingClient& client = Attach();
  // Held while the start is under way, sent in order once it is ready.
  EXPECT_THAT(Run("555,Early"), HasSubstr("waits until the server is ready"));
  EXPECT_TRUE(FSent.empty());
  client.Connection(true, 12, "ready");
  ASSERT_EQ(FSent.size(), 1u);
  EXPECT_THAT(FSent[0][0], ::testing::StartsWith("Early\x03"));
  // A field other than the text holding the separator never goes out.
  EXPECT_THAT(Run("5,Hi,\"3,4\""), HasSubstr("its carrier holds \",\""));
  EXPECT_EQ(FSent.size(), 1u);
  client.Refusal = "the link did not take it in time";
  EXPECT_THAT(Run("556,Again"), HasSubstr("to \"556\" was not sent: the link did not take it"));
  client.Refusal.clear();
  Run("557,Third");
  Run("558,Fourth");
  EXPECT_EQ(Console().PendingResults(), 3);
  // Results match by number, then address and text, then address; others count for nothing.
  auto result = [&](int32_t id, const char* address, const char* text) {
    TZVRemoteMsg msg("acc", "ip", id);
    msg.SetMsgAddress(address);
    msg.SetMsg(text);
    Console().MsgResultEvent(msg);
  };
  result(0, "999", "Someone else's");
  EXPECT_EQ(Console().PendingResults(), 3);
  result(0, "557", "Thi");  // a shortened text still matches its address
  EXPECT_EQ(Console().PendingResults(), 2);
  Output();
  Console().Stop();
  EXPECT_THAT(Output(), HasSubstr("No result for messages "));
  EXPECT_EQ(Console().PendingResults(), 0);
  EXPECT_TRUE(Console().AnyMessageFailed());
  // The refused line has no number; the held one was sent first, as 1.
  EXPECT_EQ(Console().Ledger().Summary(), "5 messages: 1 with a result, 4 without (1, 2, 4)");
}

}  // namespace
}  // namespace zv::testing
