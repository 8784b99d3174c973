#include "link/server_client_com.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

#include "carriers/carriers_console.h"
#include "link/fake_link_context.h"
#include "link/fake_local_server.h"
#include "platform/private_bus.h"
#include "protocol/remote_msg.h"
#include "support/exceptions.h"

namespace zv::testing {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr auto kShortTimeout = 300ms;
const std::string kMe = "TerminalAgent";

FakeLocalServer::Config Failing(const std::string& method, const std::string& message) {
  FakeLocalServer::Config config;
  config.Failing[method] = message;
  return config;
}

FakeLocalServer::Config Silent(const std::string& method) {
  FakeLocalServer::Config config;
  config.Silent = {method};
  return config;
}

class ServerClientComTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { FBus = std::make_unique<testutil::PrivateBus>(); }
  static void TearDownTestSuite() { FBus.reset(); }

  // A fresh client on the private bus whose events are recorded as text.
  TZVServerClientCom& Make(const std::string& address = FBus->Address()) {
    FContext = std::make_unique<FakeLinkContext>(1);
    auto client = std::make_unique<TZVServerClientCom>(*FContext);
    TZVServerClientCom& ref = *client;
    ref.SetBusAddress(address);
    ref.SetCallTimeout(kShortTimeout);
    ref.OnConnectInfo = [this](int32_t code, const std::string& msg) {
      Events.push_back("connect " + std::to_string(code) + " " + msg);
    };
    ref.OnServerNotice = [this](int32_t code, const std::string& msg) {
      Events.push_back("notice " + std::to_string(code) + " " + msg);
    };
    ref.OnLoginRequest = [this](int32_t code, const std::string&) {
      Events.push_back("request " + std::to_string(code));
    };
    ref.OnLogin = [this](TZVLoginResult code, const std::string&, const std::string& account) {
      Events.push_back("login " + std::to_string(static_cast<int>(code)) + " " + account);
    };
    ref.OnLogError = [this](int32_t code, const std::string&) {
      Events.push_back("error " + std::to_string(code));
    };
    ref.OnLoadObjects = [this](bool ok, TZVEditObject kind, const std::string& msg) {
      Events.push_back("load " + std::to_string(ok) + " " + std::to_string(static_cast<int>(kind)) +
                       " " + msg);
    };
    ref.OnMsg = [this](const TZVRemoteMsg& msg) { Messages.push_back(msg); };
    ref.OnMsgFailed = [this](int32_t msgNo, TMsgFailure failure, const std::string& reason) {
      Events.push_back("failed " + std::to_string(msgNo) +
                       (failure == TMsgFailure::mfNotSent ? " not sent: " : " no answer: ") +
                       reason);
    };
    FContext->Client = std::move(client);
    return ref;
  }
  TZVServerClientCom* Client() { return static_cast<TZVServerClientCom*>(FContext->Client.get()); }

  // Runs the main loop's dispatch until `done` holds; false after `bound`.
  bool Until(const std::function<bool()>& done, std::chrono::milliseconds bound = 10s) {
    const auto deadline = platform::DeadlineAfter(bound);
    while (true) {
      FContext->Dispatch();
      if (done()) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      pollfd p{FContext->Dispatcher().WakeFd(), POLLIN, 0};
      platform::PollUntil(&p, 1, std::min(deadline, platform::DeadlineAfter(20ms)));
    }
  }
  bool Loaded() {
    return std::any_of(Events.begin(), Events.end(),
                       [](const std::string& e) { return e.starts_with("load"); });
  }
  bool HasEvent(const std::string& event) {
    return std::find(Events.begin(), Events.end(), event) != Events.end();
  }
  // Started, logged in as kMe and through with the login's events.
  TZVServerClientCom& StartAndLogIn() {
    TZVServerClientCom& client = Make();
    client.StartZVServer();
    EXPECT_TRUE(Until([&] { return HasEvent("request 1"); }));
    std::string password = kMe;
    client.LogIn(kMe, "", 1, password);  // the fake accepts every login
    EXPECT_TRUE(Until([&] { return HasEvent("login 2 " + kMe); }));
    return client;
  }
  static platform::DBusArgs Result(const std::string& account, int32_t id) {
    return {id,
            account,
            std::string("555"),
            std::string("Sent"),
            std::string("Hello"),
            std::string("Bob"),
            int32_t{1},
            46000.5,
            46000.75,
            int32_t{0x102}};
  }

  static std::unique_ptr<testutil::PrivateBus> FBus;
  std::unique_ptr<FakeLinkContext> FContext;
  std::vector<std::string> Events;
  std::vector<TZVRemoteMsg> Messages;
};

std::unique_ptr<testutil::PrivateBus> ServerClientComTest::FBus;

TEST_F(ServerClientComTest, TheRoadOfAStartAMessageAndAStop) {
  FakeLocalServer::Config config;
  config.Carriers = {"1=Pager"};
  config.CarrierIds[1] = {1, "Pager", 80, 1, 1, "TAP", "pager id", {"a"}};
  FakeLocalServer server(FBus->Address(), config);
  TZVServerClientCom& client = StartAndLogIn();
  client.StartZVServer();  // active already: nothing goes out
  TZVCarriersConsole carriers;
  client.LoadClientCarriers(carriers);
  ASSERT_TRUE(Until([&] { return carriers.Count() == 1; }));
  EXPECT_EQ(carriers.GetItem(0)->ObjectName(), "Pager");
  client.ConfirmReady();
  client.SendMessage(
      {"Hello\x03"
       "7,1,555"});
  // The call goes out without waiting: the fake's own result comes first.
  ASSERT_TRUE(Until([&] { return Messages.size() == 1; }));
  server.Emit("OnZVMessage", Result(kMe, 8));
  ASSERT_TRUE(Until([&] { return Messages.size() == 2; }));
  EXPECT_EQ(Messages[0].TransactionId(), 7);  // the fake's own result
  const TZVRemoteMsg& msg = Messages[1];
  EXPECT_EQ(msg.TransactionId(), 8);
  EXPECT_EQ(msg.TcpCommand(), TTcpCommand::tcpSendMsg);
  EXPECT_EQ(msg.Protocol(), 18);
  EXPECT_EQ(msg.ResultMsg(), "Sent");
  EXPECT_EQ(msg.ContactName(), "Bob");
  EXPECT_EQ(msg.AddressType(), TZVAddressType::atSMS);  // the low byte of 0x102
  EXPECT_EQ(msg.DateSent(), (TDateTime{2025, 12, 9, 12, 0, 0, 0}));
  EXPECT_EQ(msg.DateReceived(), (TDateTime{2025, 12, 9, 18, 0, 0, 0}));

  client.SetUserDisconnects(true);
  client.StopZVServer();
  EXPECT_FALSE(client.IsActive());
  EXPECT_FALSE(client.HasServer());
  EXPECT_THAT(server.Calls(), ElementsAre("Start()", "ConnectToServer(Unknown,127.0.0.1)",
                                          StartsWith("Login(TerminalAgent,"), "CarrierById(1)",
                                          "ClientReady(TerminalAgent,127.0.0.1,true)",
                                          "SendMsg(TerminalAgent,127.0.0.1,[Hello\x03"
                                          "7,1,555])",
                                          "Logout(TerminalAgent,127.0.0.1)", "Stop()"));
  EXPECT_THAT(server.Calls()[2], ::testing::EndsWith(",127.0.0.1,1)"));
  EXPECT_EQ(server.Calls()[2].find("TerminalAgent,TerminalAgent"), std::string::npos)
      << "the password goes out encoded";
}

TEST_F(ServerClientComTest, AStopThatTheOperatorDidNotAskForSendsNoLogout) {
  FakeLocalServer server(FBus->Address(), {});
  StartAndLogIn();
  FContext->Client.reset();  // the program's exit: the client goes, the link with it
  EXPECT_THAT(server.Calls(), ElementsAre("Start()", "ConnectToServer(Unknown,127.0.0.1)",
                                          StartsWith("Login("), "Stop()"));
}

TEST_F(ServerClientComTest, AFailedStartPostsCode3WithTheBusReasonAndKeepsNoServer) {
  struct Case {
    const char* name;
    FakeLocalServer::Config config;
    bool serve;
    std::string address;
    const char* reason;  // a part of the bus's own text
  };
  const Case cases[] = {
      {"no server, no service", {}, false, FBus->Address(), "org.zorvane.Server"},
      {"no bus", {}, false, "unix:path=/nonexistent/zvcc-test/socket", "No bus is reachable"},
      {"server refuses", Failing("Start", "not licensed"), true, FBus->Address(), "not licensed"},
      {"server silent", Silent("ConnectToServer"), true, FBus->Address(), "timed out"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<FakeLocalServer> server;
    if (c.serve) server = std::make_unique<FakeLocalServer>(FBus->Address(), c.config);
    Events.clear();
    TZVServerClientCom& client = Make(c.address);
    const auto begun = std::chrono::steady_clock::now();
    client.StartZVServer();
    EXPECT_LT(std::chrono::steady_clock::now() - begun, kShortTimeout) << c.name;
    ASSERT_TRUE(Until([&] { return !Events.empty(); })) << c.name;
    EXPECT_FALSE(client.IsActive()) << c.name;
    EXPECT_FALSE(client.HasServer()) << c.name;
    EXPECT_THAT(Events.front(),
                StartsWith("connect 3 Cannot connect to the local Zorvane Server (COM).\r\n"))
        << c.name;
    EXPECT_THAT(Events.front(), HasSubstr(c.reason)) << c.name;
    EXPECT_EQ(FContext->Stops, 0) << c.name;
    EXPECT_THAT(FContext->LogText(), HasSubstr("Creating COM Client Failed")) << c.name;
    EXPECT_THAT(FContext->LogText(), HasSubstr("Unable to connect to the COM server")) << c.name;
  }
}

TEST_F(ServerClientComTest, OtherAccountsEventsAndDuplicateLoginsAreIgnored) {
  FakeLocalServer server(FBus->Address(), {});
  TZVServerClientCom& client = StartAndLogIn();
  Events.clear();
  server.Emit("OnLogin", {false, int32_t{3}, std::string("refused"), std::string("Other")});
  server.Emit("OnConnect", {false, int32_t{7}, std::string("bye"), std::string("Other")});
  server.Emit("OnZVMessage", Result("Other", 1));
  server.Emit("OnLogin", {false, int32_t{6}, std::string("twice"), kMe});
  // A fence: on the logged-in link it is the server's notice.
  server.Emit("OnConnect", {false, int32_t{8}, std::string("noted"), kMe});
  ASSERT_TRUE(Until([&] { return !Events.empty(); }));
  EXPECT_THAT(Events, ElementsAre("notice 8 noted"));
  EXPECT_TRUE(client.IsActive());
  EXPECT_TRUE(Messages.empty());
  EXPECT_EQ(FContext->Stops, 0);
}

TEST_F(ServerClientComTest, StoppingResultsAndALostServerStopTheLinkFromTheQueue) {
  FakeLocalServer server(FBus->Address(), {});
  for (int32_t code : {4, 6, 7, 9, 10, 13}) {
    Events.clear();
    Make().StartZVServer();
    ASSERT_TRUE(Until([&] { return HasEvent("request 1"); })) << code;
    server.Emit("OnConnect", {false, code, std::string("bye"), std::string("Unknown")});
    ASSERT_TRUE(Until([&] { return FContext->Stops == 1; })) << code;
    EXPECT_THAT(Events.back(), StartsWith("connect " + std::to_string(code) + " bye")) << code;
    // The server ended the session: the stop tells it nothing.
    ASSERT_TRUE(Until([&] { return FContext->Client == nullptr; })) << code;
    EXPECT_EQ(server.Calls().back(), "ConnectToServer(Unknown,127.0.0.1)") << code;
  }
  Events.clear();
  Make().StartZVServer();
  ASSERT_TRUE(Until([&] { return HasEvent("request 1"); }));
  server.Emit("OnLogin",
              {false, int32_t{3}, std::string("wrong password"), std::string("Unknown")});
  ASSERT_TRUE(Until([&] { return FContext->Stops == 1; }));
  EXPECT_TRUE(HasEvent("error 3"));

  // The server leaves the bus.
  Events.clear();
  Make().StartZVServer();
  ASSERT_TRUE(Until([&] { return HasEvent("request 1"); }));
  server.Quit();
  ASSERT_TRUE(Until([&] { return FContext->Stops == 1; }));
  EXPECT_THAT(Events.back(),
              StartsWith("connect 10 The local Zorvane Server (COM) is no longer reachable.\r\n"));
  EXPECT_THAT(Events.back(), HasSubstr("no owner"));
}

TEST_F(ServerClientComTest, ABrokenBusConnectionIsALostConnection) {
  auto bus = std::make_unique<testutil::PrivateBus>();
  auto server = std::make_unique<FakeLocalServer>(bus->Address(), FakeLocalServer::Config{});
  Make(bus->Address()).StartZVServer();
  ASSERT_TRUE(Until([&] { return HasEvent("request 1"); }));
  bus->Kill();
  ASSERT_TRUE(Until([&] { return FContext->Stops == 1; }));
  EXPECT_THAT(Events.back(), StartsWith("connect 10 "));
  EXPECT_THAT(Events.back(), HasSubstr("broke"));
}

TEST_F(ServerClientComTest, CarrierLoadAsksForEveryItemEvenWithoutAPositiveId) {
  const TZVCarrierFields odd{9, "Odd", 10, 2, 2, "GSM", "mobile", {}};
  const TZVCarrierFields pager{5, "Pager", 80, 1, 1, "TAP", "pager id", {"x", "y"}};
  struct Case {
    TStringList list;
    std::vector<std::string> asked;
    std::vector<int32_t> ids;
  };
  const Case cases[] = {
      {{"0=Zero", "abc=Bad", "5=Pager", "-2=Neg", "7"},
       {"CarrierById(0)", "CarrierById(0)", "CarrierById(5)", "CarrierById(0)", "CarrierById(7)"},
       {9, 9, 5, 9, 9}},
      {{}, {}, {}},
  };
  for (const Case& c : cases) {
    FakeLocalServer::Config config;
    config.Carriers = c.list;
    config.CarrierIds = {{0, odd}, {5, pager}, {7, odd}};
    FakeLocalServer server(FBus->Address(), config);
    Events.clear();
    TZVServerClientCom& client = Make();
    client.StartZVServer();
    ASSERT_TRUE(Until([&] { return HasEvent("request 1"); }));
    TZVCarriersConsole carriers;
    carriers.Add(std::make_unique<TZVCarrierConsole>("3,Old", ',', 18));
    client.LoadClientCarriers(carriers);
    ASSERT_TRUE(Until([&] { return Loaded(); }));
    std::vector<int32_t> ids;
    for (int32_t i = 0; i < carriers.Count(); ++i) ids.push_back(carriers.GetItem(i)->ObjectId());
    EXPECT_EQ(ids, c.ids);
    auto calls = server.Calls();
    calls.erase(calls.begin(), calls.begin() + 2);  // Start, ConnectToServer
    EXPECT_EQ(calls, c.asked);
    EXPECT_EQ(Events.back(), "load 1 10 Client Carrier objects successfully loaded");
  }
}

TEST_F(ServerClientComTest, AMessageTakenEndsInItsReplyOnce) {
  struct Case {
    const char* name;
    FakeLocalServer::Config config;
    bool serverQuits;
    std::string event;  // the failure raised; empty for none
  };
  const Case cases[] = {
      {"answered", {}, false, ""},
      {"refused", Failing("SendMsg", "queue full"), false, "failed 41 not sent: queue full"},
      {"unanswered", Silent("SendMsg"), false,
       "failed 41 no answer: no answer within 0.3 s; the server may have received it"},
      {"server gone", Silent("SendMsg"), true, "the server may have received it"},
  };
  for (const Case& c : cases) {
    FakeLocalServer server(FBus->Address(), c.config);
    TZVServerClientCom& client = StartAndLogIn();
    if (c.serverQuits) client.SetCallTimeout(20s);
    Events.clear();
    const auto begun = std::chrono::steady_clock::now();
    client.SendMessage(
        {"a\x03,b\x03"
         "41,3,555,2,0,Subj,TerminalAgent"});
    EXPECT_LT(std::chrono::steady_clock::now() - begun, kShortTimeout) << c.name;
    if (c.serverQuits) {
      ASSERT_TRUE(Until([&] { return server.Calls().back().starts_with("SendMsg"); }));
      server.Quit();
    }
    ASSERT_TRUE(Until([&] { return c.event.empty() ? !Messages.empty() : !Events.empty(); }))
        << c.name;
    Until([] { return false; }, 500ms);  // nothing more comes
    std::vector<std::string> failures;
    std::copy_if(Events.begin(), Events.end(), std::back_inserter(failures),
                 [](const std::string& e) { return e.starts_with("failed"); });
    if (c.event.empty()) {
      EXPECT_TRUE(failures.empty()) << c.name;
    } else {
      ASSERT_EQ(failures.size(), 1u) << c.name;
      EXPECT_THAT(failures.front(), HasSubstr(c.event)) << c.name;
      EXPECT_THAT(failures.front(), StartsWith(c.serverQuits ? "failed 41 no answer: " : "failed"))
          << c.name;
    }
    Messages.clear();
  }
}

TEST_F(ServerClientComTest, TheMessageNumberIsTheFirstFieldAfterTheText) {
  EXPECT_EQ(TZVServerClientCom::MsgNoOf({"Hi\x03"
                                         "12,3,555,2,0,S,Me"}),
            12);
  // The text may hold the separators; the fields hold no ",".
  EXPECT_EQ(TZVServerClientCom::MsgNoOf({"a,\x03"
                                         "9,b\x03"
                                         "7,3,555,2,0,S\x03,Me"}),
            7);
  EXPECT_EQ(TZVServerClientCom::MsgNoOf({"Hello\x03"
                                         "7,1,555"}),
            7);
  EXPECT_EQ(TZVServerClientCom::MsgNoOf({"no mark"}), 0);
  EXPECT_EQ(TZVServerClientCom::MsgNoOf({}), 0);
}

TEST_F(ServerClientComTest, ALoadThatFailsKeepsTheOldListAndStopsTheLink) {
  FakeLocalServer::Config config = Failing("CarrierById", "being rebuilt");
  config.Carriers = {"1=Pager", "2=Mail"};
  FakeLocalServer server(FBus->Address(), config);
  TZVServerClientCom& client = StartAndLogIn();
  Events.clear();
  TZVCarriersConsole carriers;
  carriers.Add(std::make_unique<TZVCarrierConsole>("3,Old", ',', 18));
  client.LoadClientCarriers(carriers);
  ASSERT_TRUE(Until([&] { return FContext->Stops == 1; }));
  EXPECT_EQ(FContext->StopCode, kConnFailedStop);
  EXPECT_EQ(FContext->StopReason, "being rebuilt");
  EXPECT_THAT(Events, ElementsAre("error 4"));
  ASSERT_EQ(carriers.Count(), 1);
  EXPECT_EQ(carriers.GetItem(0)->ObjectId(), 3);
  EXPECT_THAT(FContext->LogText(), HasSubstr("Loading Carriers Failed"));
}

// A large load is answered in slices: every dispatch pass returns soon, and
// what the main loop has to do meanwhile is done before the load ends.
TEST_F(ServerClientComTest, TheMainLoopIsServedDuringALargeCarrierLoad) {
  constexpr int32_t kCarriers = 1500;
  FakeLocalServer::Config config;
  for (int32_t id = 1; id <= kCarriers; ++id) {
    config.Carriers.push_back(std::to_string(id) + "=C");
    config.CarrierIds[id] = {id, "C", 80, 1, 1, "TAP", "pager id", {}};
  }
  FakeLocalServer server(FBus->Address(), config);
  TZVServerClientCom& client = StartAndLogIn();
  client.SetCallTimeout(20s);
  Events.clear();
  TZVCarriersConsole carriers;
  client.LoadClientCarriers(carriers);
  platform::MessageQueue keys(FContext->Dispatcher());
  int served = 0;
  std::chrono::steady_clock::duration longest{};
  ASSERT_TRUE(Until([&] {
    keys.Post([&] {
      if (!Loaded()) ++served;
    });
    const auto begun = std::chrono::steady_clock::now();
    FContext->Dispatch();
    longest = std::max(longest, std::chrono::steady_clock::now() - begun);
    return Loaded();
  }));
  EXPECT_EQ(carriers.Count(), kCarriers);
  EXPECT_EQ(carriers.GetItem(kCarriers - 1)->ObjectId(), kCarriers);
  EXPECT_GT(served, kCarriers / static_cast<int>(TZVServerClientCom::kCarrierCallsInFlight) / 2);
  EXPECT_LT(longest, 250ms);
}

TEST_F(ServerClientComTest, AStopActsWithinASecondWhateverIsOutstanding) {
  FakeLocalServer::Config config;
  config.Silent = {"SendMsg", "Logout", "Stop"};
  FakeLocalServer server(FBus->Address(), config);
  TZVServerClientCom& client = StartAndLogIn();
  client.SetCallTimeout(20s);
  Events.clear();
  client.SendMessage(
      {"Hi\x03"
       "5,3,555,2,0,S,TerminalAgent"});
  ASSERT_TRUE(Until([&] { return server.Calls().back().starts_with("SendMsg"); }));
  client.SetUserDisconnects(true);
  const auto begun = std::chrono::steady_clock::now();
  client.StopZVServer();
  const auto took = std::chrono::steady_clock::now() - begun;
  EXPECT_LT(took, TZVServerClientCom::kStopWait + 300ms);
  EXPECT_FALSE(client.HasServer());
  Until([] { return false; }, 300ms);
  EXPECT_TRUE(Events.empty()) << "the outstanding page is the console's to name";
  ASSERT_TRUE(Until([&] { return server.Calls().back() == "Stop()"; }));
  EXPECT_THAT(server.Calls()[server.Calls().size() - 2], StartsWith("Logout("));
}

// The account calls go out and return; their outcome comes later, and only a
// failure of the bus or the server stops the link.
TEST_F(ServerClientComTest, AccountDeletesReportWhatTheServerAnswers) {
  struct Case {
    const char* name;
    FakeLocalServer::Config config;
    std::string account;
    std::string calledLast;  // the fake's last call
    std::string event;       // the event raised; empty for none
    int stops;
    std::string logged;  // a part of the log; empty for nothing
  };
  FakeLocalServer::Config known;
  known.Accounts = {kMe};
  FakeLocalServer::Config refusing = Failing("DeleteOldMsgs", "store locked");
  refusing.Accounts = {kMe};
  const Case cases[] = {
      {"found", known, kMe, "DeleteOldMsgs(30)", "", 0, ""},
      {"no such account", known, "Nobody", "AccountById(Nobody)", "error 3", 0,
       "Cannot find account \"Nobody\" on Zorvane Server"},
      {"lookup fails", Failing("AccountById", "index broken"), kMe, "AccountById(TerminalAgent)",
       "error 4", 1, "index broken"},
      {"delete refused", refusing, kMe, "DeleteOldMsgs(30)", "error 4", 1, "store locked"},
  };
  for (const Case& c : cases) {
    FakeLocalServer server(FBus->Address(), c.config);
    Events.clear();
    TZVServerClientCom& client = Make();
    client.StartZVServer();
    ASSERT_TRUE(Until([&] { return HasEvent("request 1"); })) << c.name;
    Events.clear();
    client.DeleteOldMsgs(c.account, 30);
    EXPECT_TRUE(Events.empty()) << c.name;
    ASSERT_TRUE(Until([&] { return server.Calls().back() == c.calledLast; })) << c.name;
    if (!c.event.empty()) {
      ASSERT_TRUE(Until([&] { return !Events.empty(); })) << c.name;
    }
    Until([] { return false; }, 100ms);  // nothing more comes
    EXPECT_EQ(Events, c.event.empty() ? std::vector<std::string>{} : std::vector{c.event})
        << c.name;
    EXPECT_EQ(FContext->Stops, c.stops) << c.name;
    EXPECT_THAT(FContext->LogText(), HasSubstr(c.logged)) << c.name;
  }
}

// A server whose program the bus starts but which never takes its name.
class HangingStartTest : public ServerClientComTest {
 protected:
  static void SetUpTestSuite() {
    FBus = std::make_unique<testutil::PrivateBus>();
    FBus->AddHangingService(kZVServerBusName);
  }
};

TEST_F(HangingStartTest, TheStartReturnsAtOnceAndFailsAfterTheCallTimeout) {
  TZVServerClientCom& client = Make();
  const auto begun = std::chrono::steady_clock::now();
  client.StartZVServer();
  EXPECT_LT(std::chrono::steady_clock::now() - begun, 100ms);
  EXPECT_TRUE(client.IsActive());
  ASSERT_TRUE(Until([&] { return !Events.empty(); }));
  const auto took = std::chrono::steady_clock::now() - begun;
  EXPECT_GE(took, kShortTimeout);
  EXPECT_LT(took, kShortTimeout + 300ms);
  EXPECT_THAT(
      Events,
      ElementsAre(StartsWith("connect 3 Cannot connect to the local Zorvane Server (COM).\r\n")));
  EXPECT_THAT(Events.front(), HasSubstr("timed out"));
  EXPECT_FALSE(client.IsActive());
}

// A stop or an exit while the connect is pending forgets it at once: nothing
// goes out to the server, nothing is reported later.
TEST_F(ServerClientComTest, AStopDuringTheConnectForgetsIt) {
  FakeLocalServer server(FBus->Address(), {});
  for (const bool exit : {false, true}) {
    Events.clear();
    TZVServerClientCom& client = Make();
    client.StartZVServer();
    client.SetUserDisconnects(true);
    const auto begun = std::chrono::steady_clock::now();
    if (exit) {
      FContext->Client.reset();
    } else {
      client.StopZVServer();
      EXPECT_FALSE(client.IsActive());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - begun, 100ms) << exit;
    Until([] { return false; }, kShortTimeout);
    EXPECT_TRUE(Events.empty()) << exit;
    EXPECT_TRUE(server.Calls().empty()) << exit;
  }
}

// A bus that refuses the console's signal matches: the start fails and says
// why, rather than waiting for events that never come.
TEST_F(ServerClientComTest, ARefusedWatchFailsTheStart) {
  testutil::PrivateBus bus(R"(<limit name="max_match_rules_per_connection">0</limit>)");
  FakeLocalServer server(bus.Address(), {});
  Make(bus.Address()).StartZVServer();
  ASSERT_TRUE(Until([&] { return !Events.empty(); }));
  EXPECT_THAT(Events.front(), StartsWith("connect 3 Cannot connect"));
  EXPECT_THAT(Events.front(), HasSubstr("refused to watch the owner of org.zorvane.Server"));
  EXPECT_TRUE(server.Calls().empty());
}

TEST(GetCollectionArrayTest, TakesTheNamePartsAsIdsAndZeroWhereNotPositive) {
  std::vector<int32_t> a{4, 4};
  TZVServerClientCom::GetCollectionArray({}, a);
  EXPECT_EQ(a, (std::vector<int32_t>{4, 4}));
  TZVServerClientCom::GetCollectionArray({"12=SMS=x", "0=a", "-1=b", "x=c", "=d", "7", "$10=e"}, a);
  EXPECT_EQ(a, (std::vector<int32_t>{12, 0, 0, 0, 0, 7, 16}));
}

}  // namespace
}  // namespace zv::testing
