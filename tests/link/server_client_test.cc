#include "link/server_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "link/fake_link_context.h"
#include "link/recording_client.h"

namespace zv::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// Records every event the client raises, in order.
struct Listener {
  void Attach(TZVServerClient& client) {
    client.OnConnectInfo = [this](int32_t code, const std::string& msg) {
      Events.push_back("connect " + std::to_string(code) + " " + msg);
    };
    client.OnLoginRequest = [this](int32_t code, const std::string& msg) {
      Events.push_back("request " + std::to_string(code) + " " + msg);
    };
    client.OnLogin = [this](TZVLoginResult code, const std::string& msg, const std::string&) {
      Events.push_back("login " + std::to_string(static_cast<int>(code)) + " " + msg);
    };
    client.OnLogError = [this](int32_t code, const std::string& msg) {
      Events.push_back("error " + std::to_string(code) + " " + msg);
    };
    client.OnSysError = [this](int32_t code, const std::string& msg) {
      Events.push_back("sys " + std::to_string(code) + " " + msg);
    };
    client.OnServerNotice = [this](int32_t code, const std::string& msg) {
      Events.push_back("notice " + std::to_string(code) + " " + msg);
    };
    client.OnLoadObjects = [this](bool ok, TZVEditObject kind, const std::string& msg) {
      Events.push_back("load " + std::to_string(ok) + " " + std::to_string(static_cast<int>(kind)) +
                       " " + msg);
    };
  }
  std::vector<std::string> Events;
};

class ServerClientTest : public ::testing::Test {
 protected:
  RecordingClient& Make(int32_t type) {
    FContext = std::make_unique<FakeLinkContext>(type);
    auto client = std::make_unique<RecordingClient>(*FContext, FSent, static_cast<uint8_t>(type));
    RecordingClient& ref = *client;
    FContext->Client = std::move(client);
    FListener.Attach(ref);
    return ref;
  }

  std::unique_ptr<FakeLinkContext> FContext;
  std::vector<TStringList> FSent;
  Listener FListener;
};

TEST_F(ServerClientTest, ConnectionCodesLogShowFlagAndStop) {
  struct Case {
    int32_t code;
    const char* action;  // "" for none
    const char* shown;   // "" for no event
    bool stops;
  };
  const Case cases[] = {
      {0, "Requesting Connection", "connect 0 m", false},
      {1, "", "", false},
      {2, "Connected", "connect 2 m", false},
      {3, "Connection Failed", "connect 3 m\r\nd", false},
      {4, "Connection Failed", "connect 4 m", true},
      {5, "Connection Accepted", "connect 5 m", false},
      {6, "Connection Excess", "connect 6 m", true},
      {7, "Server Disconnects", "connect 7 m", true},
      {8, "User Disconnects", "connect 8 m", false},
      {9, "Administrator Disconnects", "connect 9 m", true},
      {10, "Connection Lost", "connect 10 m\r\nd", true},
      {11, "Not Connected", "connect 11 m", false},
      {12, "Zorvane Client Ready", "connect 12 m", false},
      {13, "Timeout Disconnects", "connect 13 m", true},
      {14, "", "", false},
  };
  for (const Case& c : cases) {
    RecordingClient& client = Make(2);
    FListener.Events.clear();
    client.PostInfo("acc", "m", "d", TTcpCommand::tcpConnect, true, 0, c.code);
    EXPECT_TRUE(FListener.Events.empty()) << "handled before the main loop dispatched";
    FContext->Dispatch();
    EXPECT_EQ(FListener.Events.empty() ? "" : FListener.Events.back(), std::string(c.shown))
        << c.code;
    EXPECT_EQ(FContext->Stops, c.stops ? 1 : 0) << c.code;
    if (!c.stops) {
      EXPECT_TRUE(client.IsActive()) << c.code;
    }
    if (*c.action) {
      EXPECT_THAT(FContext->LogText(), HasSubstr(c.action)) << c.code;
    }
  }
}

TEST_F(ServerClientTest, LoginResultsRaiseTheirEventsAndStopOnRefusal) {
  struct Case {
    int32_t code;
    const char* shown;
    bool stops;
  };
  const Case cases[] = {
      {0, "", false},
      {1, "request 1 m", false},
      {2, "login 2 m", false},
      {3, "error 3 \r\nm", true},
      {4, "error 4 \r\nm", true},
      {5, "", false},
      {6, "error 6 m", true},
      {7, "", false},
      {8, "login 8 m", false},
      {9, "login 9 m", false},
      {300, "", false},
  };
  for (const Case& c : cases) {
    Make(2);
    FListener.Events.clear();
    FContext->Client->PostInfo("acc", "m", "d", TTcpCommand::tcpLogin, false, 0, c.code);
    FContext->Dispatch();
    EXPECT_EQ(FListener.Events.empty() ? "" : FListener.Events.back(), std::string(c.shown))
        << c.code;
    EXPECT_EQ(FContext->Stops, c.stops ? 1 : 0) << c.code;
  }
}

TEST_F(ServerClientTest, LocalLinkKeepsToItsOwnAccountAndIgnoresDuplicateLogins) {
  RecordingClient& client = Make(1);
  std::string password = "secret";
  client.LogIn("TerminalAgent", "", 1, password);
  EXPECT_NE(password, "secret");
  client.ZVServerLogin("TZorvaneServerCom", true, 2, "other", "SomebodyElse");
  client.ZVServerConnect("TZorvaneServerCom", true, 12, "other", "SomebodyElse");
  EXPECT_TRUE(FListener.Events.empty());
  client.ZVServerLogin("TZorvaneServerCom", false, 6, "dup", "TerminalAgent");
  FContext->Dispatch();
  EXPECT_TRUE(FListener.Events.empty());
  EXPECT_EQ(FContext->Stops, 0);
  // Only the low byte of a result counts.
  client.ZVServerLogin("TZorvaneServerCom", true, 0x102, "ok", "TerminalAgent");
  EXPECT_EQ(FListener.Events, std::vector<std::string>{"login 2 ok"});
}

TEST_F(ServerClientTest, ALocalClientKeepsToItsAccountAfterTheSettingTurnsToTcp) {
  FContext = std::make_unique<FakeLinkContext>(2);  // the setting, changed meanwhile
  auto client = std::make_unique<RecordingClient>(*FContext, FSent, 1);
  FListener.Attach(*client);
  client->ZVServerLogin("TZorvaneServerCom", false, 3, "refused", "SomebodyElse");
  client->ZVServerLogin("TZorvaneServerCom", false, 6, "dup", "Unknown");
  FContext->Client = std::move(client);
  FContext->Dispatch();
  EXPECT_TRUE(FListener.Events.empty());
  EXPECT_EQ(FContext->Stops, 0);
}

TEST_F(ServerClientTest, StoppingEventsInsideTheServerCallbackAreDeferred) {
  for (int32_t code : {4, 6, 7, 9, 10, 13}) {
    RecordingClient& client = Make(1);
    std::string password;
    client.LogIn("TerminalAgent", "", 1, password);
    client.ZVServerConnect("TZorvaneServerCom", false, code, "bye", "TerminalAgent");
    EXPECT_EQ(FContext->Stops, 0) << code;
    FContext->Dispatch();
    EXPECT_EQ(FContext->Stops, 1) << code;
  }
}

TEST_F(ServerClientTest, OnALoggedInLinkANoticeKeepsTheLinkUpAndShowsTheServersText) {
  struct Case {
    int32_t code;
    bool success;     // as the reader counts the code
    bool loggedIn;    // the server accepted the login first
    const char* shown;
    bool active;      // IsActive afterwards
    bool stops;
  };
  const Case cases[] = {
      {0, false, true, "notice 0 m", true, false},
      {1, false, true, "notice 1 m", true, false},
      {3, false, true, "notice 3 m", true, false},
      {8, false, true, "notice 8 m", true, false},
      {11, false, true, "notice 11 m", true, false},
      {42, false, true, "notice 42 m", true, false},
      {2, true, true, "connect 2 m", true, false},
      {7, false, true, "connect 7 m", false, true},
      {10, false, true, "connect 10 m", false, true},  // the server's raw text is never shown
      // Before the login a notice is a connection result like any other.
      {3, false, false, "connect 3 m", false, false},
      {8, false, false, "connect 8 m", false, false},
  };
  for (const Case& c : cases) {
    RecordingClient& client = Make(2);
    client.Connection(true, 12, "ready");
    if (c.loggedIn) client.Login(2, "welcome");
    FListener.Events.clear();
    client.ServerConnection(c.success, c.code, "m");
    ASSERT_EQ(FListener.Events.size(), 1u) << c.code;
    EXPECT_EQ(FListener.Events[0], c.shown) << c.code;
    EXPECT_EQ(client.IsActive(), c.active) << c.code << (c.loggedIn ? " logged in" : "");
    EXPECT_EQ(FContext->Stops, c.stops ? 1 : 0) << c.code;
  }
  // The client's own notice that its connect completed may come after the
  // login: it does not take the link down either.
  RecordingClient& client = Make(2);
  client.Login(2, "welcome");
  client.Connection(true, 12, "ready");
  client.Connection(false, 0, "Connection request completed");
  EXPECT_TRUE(client.IsActive());
  EXPECT_EQ(FListener.Events.back(), "connect 0 Connection request completed");
}

TEST_F(ServerClientTest, WhatFollowsAResultThatEndsTheLinkIsDropped) {
  struct Case {
    TTcpCommand cmd;
    int32_t code;
    const char* shown;
  };
  const Case cases[] = {
      {TTcpCommand::tcpConnect, 6, "connect 6 bye"},
      {TTcpCommand::tcpConnect, 7, "connect 7 bye"},
      {TTcpCommand::tcpConnect, 9, "connect 9 bye"},
      {TTcpCommand::tcpConnect, 13, "connect 13 bye"},
      {TTcpCommand::tcpLogin, 3, "error 3 \r\nbye"},
      {TTcpCommand::tcpLogin, 4, "error 4 \r\nbye"},
      {TTcpCommand::tcpLogin, 6, "error 6 bye"},
  };
  for (const Case& c : cases) {
    RecordingClient& client = Make(2);
    FListener.Events.clear();
    // The server ends the link and closes; the reader then reports the loss,
    // before the owner's stop has run.
    client.PostInfo("acc", "bye", "d", c.cmd, false, 0, c.code);
    client.PostInfo("acc", "Connection to 127.0.0.1:6022 lost at now", "reset",
                    TTcpCommand::tcpConnect, false, 0, 10);
    client.PostInfo("acc", "late", "d", TTcpCommand::tcpLogin, true, 0, 1);
    FContext->Dispatch();
    EXPECT_EQ(FListener.Events, std::vector<std::string>{c.shown}) << c.code;
    EXPECT_EQ(FContext->Stops, 1) << c.code;
    EXPECT_THAT(FContext->LogText(), Not(HasSubstr("Connection Lost"))) << c.code;
  }
}

TEST_F(ServerClientTest, RecordsOfAFreedClientAreDropped) {
  RecordingClient& client = Make(2);
  client.PostInfo("acc", "m", "d", TTcpCommand::tcpConnect, true, 0, 7);
  client.PostInfo("acc", "m", "d", TTcpCommand::tcpSendMsg, true, 0, 0);
  FContext->Client.reset();
  FContext->Dispatch();
  EXPECT_TRUE(FListener.Events.empty());
  EXPECT_EQ(FContext->Stops, 0);
}

}  // namespace
}  // namespace zv::testing
