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
