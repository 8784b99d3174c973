#include "link/server_client_tcp.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "link/fake_link_context.h"
#include "link/link_session.h"
#include "link/zvp_reply.h"
#include "platform/tcp_listener.h"
#include "protocol/frame_reader.h"
#include "protocol/frame_writer.h"
#include "protocol/remote_msg.h"

namespace zv::testing {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

constexpr auto kDeadline = 10s;

// A server on a loopback port, run by a thread: every frame received is parsed
// and recorded, and answered with whatever the test's responder returns.
class FakeServer {
 public:
  using Responder = std::function<std::vector<std::string>(const TZVRemoteMsg& request)>;

  explicit FakeServer(Responder responder)
      : FListener("127.0.0.1", 0), FResponder(std::move(responder)) {
    FThread = std::thread([this] { Run(); });
  }
  ~FakeServer() {
    FStop = true;
    FThread.join();
  }
  uint16_t Port() const { return FListener.Port(); }

  // "<command> <result>" of every request received, across connections.
  std::vector<std::string> Received() {
    std::lock_guard lock(FMutex);
    return FReceived;
  }
  int Connections() {
    std::lock_guard lock(FMutex);
    return FConnections;
  }

  // A reply as the server writes it.
  static std::string Reply(TTcpCommand cmd, int32_t result, const std::string& body,
                           int32_t id = 0) {
    return ZvpReply(cmd, result, body, id);
  }

 private:
  void Run() {
    while (!FStop) {
      auto socket = FListener.Accept(20ms);
      if (!socket) continue;
      {
        std::lock_guard lock(FMutex);
        ++FConnections;
      }
      Serve(*socket);
    }
  }
  void Serve(platform::TcpSocket& socket) {
    TFrameReader reader;
    char chunk[4096];
    try {
      while (!FStop) {
        if (socket.WaitReadable(20ms) != platform::TcpSocket::WaitResult::kReadable) continue;
        reader.Append(chunk, socket.ReadSome(chunk, sizeof chunk));
        while (auto text = reader.Next()) {
          auto msg = TZVProtocol().CreateMsgFromTcp(*text, "127.0.0.1");
          {
            std::lock_guard lock(FMutex);
            FReceived.push_back(msg->TcpCommandStr() + " " + std::to_string(msg->MsgResult()) +
                                " " + msg->Msg());
          }
          for (const std::string& reply : FResponder(*msg)) {
            if (reply.empty()) return;  // hang up
            socket.WriteAll(reply, 1s);
          }
        }
      }
    } catch (const std::exception&) {
      // The console went away.
    }
  }

  platform::TcpListener FListener;
  Responder FResponder;
  std::atomic<bool> FStop{false};
  std::mutex FMutex;
  std::vector<std::string> FReceived;
  int FConnections = 0;
  std::thread FThread;
};

class TcpClientTest : public ::testing::Test {
 protected:
  TZVServerClientTcp& Start(uint16_t port, platform::HostResolveFunction resolve = nullptr) {
    FContext.Port = port;
    auto client = std::make_unique<TZVServerClientTcp>(FContext);
    TZVServerClientTcp& ref = *client;
    if (resolve) ref.SetHostResolver(std::move(resolve));
    FContext.Client = std::move(client);
    ref.OnConnectInfo = [this](int32_t code, const std::string& msg) {
      Events.push_back("connect " + std::to_string(code) + " " + msg);
    };
    ref.OnLoginRequest = [this, &ref](int32_t, const std::string&) {
      Events.push_back("login request");
      std::string password = "TerminalAgent";
      ref.LogIn("TerminalAgent", "", 1, password);
    };
    ref.OnLogin = [this](TZVLoginResult, const std::string& msg, const std::string&) {
      Events.push_back("login " + msg);
    };
    ref.OnMsg = [this](const TZVRemoteMsg& msg) {
      Events.push_back("result " + msg.ResultMsg() + "|" + msg.MsgAddress() + "|" +
                       msg.AddressTypeStr() + "|" + msg.Msg() + "|" + msg.ContactName());
    };
    ref.StartZVServer();
    return ref;
  }

  // Runs the main loop's dispatch until `done` holds.
  void DispatchUntil(const std::function<bool()>& done, const char* what) {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!done()) {
      ASSERT_LT(std::chrono::steady_clock::now(), end) << "waiting for " << what;
      FContext.Dispatch();
      std::this_thread::yield();
    }
  }
  bool Saw(const std::string& prefix) const {
    for (const auto& e : Events) {
      if (e.rfind(prefix, 0) == 0) return true;
    }
    return false;
  }

  FakeLinkContext FContext;
  std::vector<std::string> Events;
};

TEST_F(TcpClientTest, ConnectLoginSendResultAndLogoutOnAFreshConnection) {
  FakeServer server([](const TZVRemoteMsg& request) -> std::vector<std::string> {
    switch (request.TcpCommand()) {
      case TTcpCommand::tcpConnect:
        if (request.MsgResult() != kConnConnect) return {};
        return {FakeServer::Reply(TTcpCommand::tcpConnect, kConnConnected, "hi"),
                FakeServer::Reply(TTcpCommand::tcpLogin, 1, "log in")};
      case TTcpCommand::tcpLogin:
        return {FakeServer::Reply(TTcpCommand::tcpLogin, 2, "welcome")};
      case TTcpCommand::tcpSendMsg:
        return {FakeServer::Reply(TTcpCommand::tcpSendMsg, 0,
                                  "Sent\x03"
                                  "555,1,Hello,\"Bob, Jr\"")};
      default:
        return {};
    }
  });
  TZVServerClientTcp& client = Start(server.Port());
  DispatchUntil([&] { return Saw("login welcome"); }, "the login");
  client.SendMessage(
      {"Hello\x03"
       "1,3,555,4,120,Subject,TerminalAgent"});
  DispatchUntil([&] { return Saw("result"); }, "the message result");
  EXPECT_EQ(Events.back(), "result Sent|555|pager id|Hello|Bob, Jr");

  const std::vector<std::string> got = server.Received();
  ASSERT_GE(got.size(), 3u);
  EXPECT_EQ(got[0],
            "CONNECT 1 Connecting to Zorvane Server on 127.0.0.1:" + std::to_string(server.Port()));
  EXPECT_THAT(got[1], HasSubstr("LOGIN 0 TerminalAgent,"));
  EXPECT_THAT(got[2], HasSubstr("MSG_SEND 0 Hello\x03"
                                "1,3,555"));

  client.SetUserDisconnects(true);
  client.StopZVServer();
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  while (server.Received().size() < 4 && std::chrono::steady_clock::now() < end) {
    std::this_thread::yield();
  }
  EXPECT_EQ(server.Connections(), 2);
  EXPECT_EQ(server.Received().back(),
            "CONNECT 8 Account \"TerminalAgent\" logging out from Zorvane Server");
  EXPECT_THAT(FContext.LogText(), HasSubstr("Logging Out"));
}

TEST_F(TcpClientTest, AServerThatHangsUpMidFrameIsALostConnection) {
  FakeServer server([](const TZVRemoteMsg&) -> std::vector<std::string> {
    const std::string reply = FakeServer::Reply(TTcpCommand::tcpConnect, kConnConnected, "hi");
    return {reply.substr(0, reply.size() / 2), ""};
  });
  Start(server.Port());
  DispatchUntil([&] { return FContext.Stops > 0; }, "the stop");
  EXPECT_TRUE(Saw("connect 10 Connection to 127.0.0.1:")) << Events.back();
}

TEST_F(TcpClientTest, AReplyThatCannotBeReadIsNamedInTheLossAndTheLog) {
  struct Case {
    const char* what;
    std::string reply;
    std::string named;  // what the loss's line says after "lost at <time>"
  };
  const Case cases[] = {
      {"a header without its separators", BuildFrame("12" + std::string(30, 'x')),
       ": zVP protocol error: Message header is corrupted. A date separator (0x1F) is missing."},
      {"a carrier list with a bad record",
       FakeServer::Reply(TTcpCommand::tcpLoad, 19,
                         "1,A\x1E"
                         "0,B"),
       ": zVP protocol error: The carrier list cannot be read: Error creating a carrier "
       "object. Object id must be greater than \"0\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Events.clear();
    FContext.Stops = 0;
    FakeServer server([&c](const TZVRemoteMsg&) -> std::vector<std::string> { return {c.reply}; });
    Start(server.Port());
    DispatchUntil([&] { return FContext.Stops > 0; }, "the stop");
    ASSERT_FALSE(Events.empty());
    EXPECT_THAT(Events.back(), ::testing::StartsWith("connect 10 Connection to 127.0.0.1:"));
    EXPECT_THAT(Events.back(), ::testing::EndsWith(c.named));
    const std::string log = FContext.LogText();
    const std::size_t line = log.rfind("Description: Connection to 127.0.0.1:");
    ASSERT_NE(line, std::string::npos);
    EXPECT_THAT(log.substr(line, log.find('\r', line) - line), ::testing::EndsWith(c.named));
    FContext.Dispatch();  // the stop it asked for, before the next case's client
  }
}

TEST_F(TcpClientTest, AStartOnALiveConnectionThatIsNotUpAsksTheServerToStartOver) {
  FakeServer server([](const TZVRemoteMsg& request) -> std::vector<std::string> {
    if (request.Msg().rfind("Connecting", 0) != 0) return {};
    return {FakeServer::Reply(TTcpCommand::tcpConnect, kConnFailed, "not now")};
  });
  TZVServerClientTcp& client = Start(server.Port());
  DispatchUntil([&] { return Saw("connect 3 not now") && !client.Busy(); }, "the failed start");
  EXPECT_FALSE(client.IsActive());
  client.StartZVServer();
  const std::string again = "CONNECT 1 Trying to reconnect to 127.0.0.1:" +
                            std::to_string(server.Port());
  DispatchUntil(
      [&] {
        const auto got = server.Received();
        return std::find(got.begin(), got.end(), again) != got.end();
      },
      "the reconnect notice");
  EXPECT_EQ(server.Connections(), 1);
}

TEST_F(TcpClientTest, NothingListeningIsReportedWithTheOperatorText) {
  uint16_t port;
  {
    platform::TcpListener closed("127.0.0.1", 0);
    port = closed.Port();
  }
  Start(port);
  DispatchUntil([&] { return FContext.Stops > 0; }, "the stop");
  EXPECT_TRUE(Saw("connect 4 Wrong port number or the server is not running"));
}

TEST_F(TcpClientTest, AHostNameIsReplacedByItsAddress) {
  FakeServer server([](const TZVRemoteMsg&) -> std::vector<std::string> { return {}; });
  FContext.Server = "localhost";
  Start(server.Port());
  DispatchUntil([&] { return FContext.Server == "127.0.0.1"; }, "the address");
  DispatchUntil([&] { return server.Connections() == 1; }, "the connection");
}

TEST_F(TcpClientTest, AHostNameThatDoesNotResolveStopsTheLink) {
  FContext.Server = "bad.example";
  Start(6022, [](const std::string&) -> std::string {
    throw platform::SocketError(platform::kHostNotFound, "Name or service not known");
  });
  DispatchUntil([&] { return FContext.Stops > 0; }, "the stop");
  EXPECT_TRUE(
      Saw("connect 4 Resolving host address (\"bad.example\") failed\r\nWrong host address"))
      << Events.back();
  EXPECT_EQ(FContext.Server, "bad.example");
  EXPECT_THAT(FContext.LogText(), HasSubstr("Name or service not known"));
}

TEST_F(TcpClientTest, AStopGivesUpOnAResolverThatHangs) {
  std::promise<void> release;
  const std::shared_future<void> released = release.get_future().share();
  auto asked = std::make_shared<std::atomic<bool>>(false);
  FContext.Server = "slow.example";
  TZVServerClientTcp& client = Start(6022, [released, asked](const std::string&) {
    *asked = true;
    released.wait_for(30s);
    return std::string("127.0.0.1");
  });
  DispatchUntil([&] { return asked->load(); }, "the lookup");
  const auto start = std::chrono::steady_clock::now();
  client.StopZVServer();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  FContext.Dispatch();
  EXPECT_EQ(FContext.Stops, 0);
  EXPECT_TRUE(Events.empty()) << Events.front();
  release.set_value();
}

TEST(SplitMsgResultTest, ResultTextAndFieldList) {
  struct Case {
    const char* body;
    const char* result;
    const char* address;
    const char* msg;
    const char* contact;
  };
  const Case cases[] = {
      {"OK\x03"
       "5,2,Hi,Ann",
       "OK", "5", "Hi", "Ann"},
      {"5,x,Hi", "", "5", "Hi", "N/A"},  // no 0x03: all of it is the field list
      {"OK\x03"
       "5,2",
       "OK", "a",
       "OK\x03"
       "5,2",
       "N/A"},  // two items change nothing
  };
  for (const Case& c : cases) {
    TZVRemoteMsg msg("acc", "ip", 0);
    msg.SetMsgAddress("a");
    msg.SetMsg(c.body);
    TZVLinkSession::SplitMsgResult(msg, ',');
    EXPECT_EQ(msg.ResultMsg(), c.result) << c.body;
    EXPECT_EQ(msg.MsgAddress(), c.address) << c.body;
    EXPECT_EQ(msg.Msg(), c.msg) << c.body;
    EXPECT_EQ(msg.ContactName(), c.contact) << c.body;
  }
}

}  // namespace
}  // namespace zv::testing
