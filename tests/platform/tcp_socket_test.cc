#include "platform/tcp_socket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "platform/semaphore.h"
#include "platform/socket_error.h"
#include "platform/tcp_listener.h"

namespace zv::platform {
namespace {

using namespace std::chrono_literals;
using WaitResult = TcpSocket::WaitResult;

// The error number `action` throws as a SocketError; 0 when it throws none.
int ErrnoOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const SocketError& error) {
    return error.Errno();
  }
  return 0;
}

// Reads until `count` bytes have arrived; fewer when the wait gives out.
std::string ReadExactly(TcpSocket& socket, size_t count) {
  std::string got;
  char buffer[65536];
  while (got.size() < count && socket.WaitReadable(10s) == WaitResult::kReadable) {
    got.append(buffer, socket.ReadSome(buffer, std::min(sizeof buffer, count - got.size())));
  }
  return got;
}

// A loopback port on which nothing listens (any more).
uint16_t ClosedPort() { return TcpListener("127.0.0.1", 0).Port(); }

TEST(TcpSocketTest, FailedConnectsReportTheSystemErrorAndLeaveTheSocketClosed) {
  const struct {
    const char* host;
    uint16_t port;
    int error;
  } cases[] = {
      {"127.0.0.1", ClosedPort(), ECONNREFUSED},
      {"localhost", 80, EINVAL},  // a dotted address only: names are resolved first
  };
  for (const auto& c : cases) {
    TcpSocket socket;
    try {
      socket.Connect(c.host, c.port, 10s);
      ADD_FAILURE() << c.host << " connected";
    } catch (const SocketError& error) {
      EXPECT_EQ(error.Errno(), c.error) << c.host;
      EXPECT_STREQ(error.what(), std::strerror(c.error)) << c.host;
    }
    EXPECT_FALSE(socket.IsConnected());
    EXPECT_EQ(socket.Fd(), -1);
    EXPECT_EQ(socket.PeerAddress(), "");
  }
}

TEST(TcpSocketTest, AConnectWithoutAnswerTimesOutOrIsAborted) {
  // Once a listener's queue of unaccepted connections is full, further
  // attempts go unanswered, without a packet leaving the machine.
  TcpListener listener("127.0.0.1", 0, 0);
  std::vector<TcpSocket> attempts;
  int error = 0;
  for (int i = 0; i < 8 && error == 0; ++i) {
    error = ErrnoOf([&] { attempts.emplace_back().Connect("127.0.0.1", listener.Port(), 100ms); });
  }
  ASSERT_EQ(error, ETIMEDOUT);
  EXPECT_FALSE(attempts.back().IsConnected());

  TcpSocket socket;
  auto connecting = std::async(std::launch::async, [&socket, &listener] {
    return ErrnoOf([&] { socket.Connect("127.0.0.1", listener.Port(), 60s); });
  });
  socket.Abort();
  EXPECT_EQ(connecting.get(), ECANCELED);
  EXPECT_FALSE(socket.IsConnected());
}

TEST(TcpSocketTest, BytesArriveAsTheyComeAndReadingNeverWaits) {
  auto sockets = TcpListener::ConnectedPairForTesting();
  TcpSocket& client = sockets.first;
  TcpSocket& server = sockets.second;
  EXPECT_TRUE(client.IsConnected());
  EXPECT_TRUE(server.IsConnected());
  EXPECT_EQ(client.PeerAddress(), "127.0.0.1");
  EXPECT_EQ(server.PeerAddress(), "127.0.0.1");

  char buffer[16];
  EXPECT_EQ(server.ReadSome(buffer, sizeof buffer), 0u);  // nothing yet
  EXPECT_EQ(server.WaitReadable(10ms), WaitResult::kTimeout);

  client.WriteAll(std::string("\0\x05he", 4), 1s);  // a frame's first piece
  EXPECT_EQ(ReadExactly(server, 4), std::string("\0\x05he", 4));
  EXPECT_EQ(server.ReadSome(buffer, sizeof buffer), 0u);
  client.WriteAll("llo", 1s);
  EXPECT_EQ(ReadExactly(server, 3), "llo");

  server.WriteAll("reply", 1s);
  EXPECT_EQ(ReadExactly(client, 5), "reply");
}

TEST(TcpSocketTest, LargeWritesGoOutWholeWhileThePeerReads) {
  auto sockets = TcpListener::ConnectedPairForTesting();
  TcpSocket& client = sockets.first;
  TcpSocket& server = sockets.second;
  std::string bytes(8 << 20, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 % 251);
  auto reader = std::async(std::launch::async,
                           [&server, &bytes] { return ReadExactly(server, bytes.size()); });
  client.WriteAll(bytes, 60s);
  EXPECT_TRUE(reader.get() == bytes);
}

TEST(TcpSocketTest, WriteTimesOutWhenThePeerTakesNothing) {
  auto sockets = TcpListener::ConnectedPairForTesting();  // the server end never reads
  TcpSocket& client = sockets.first;
  const std::string bytes(64 << 20, 'x');  // more than both socket buffers hold
  EXPECT_EQ(ErrnoOf([&] { client.WriteAll(bytes, 100ms); }), ETIMEDOUT);
  EXPECT_TRUE(client.IsConnected());
}

TEST(TcpSocketTest, ThePeersCloseIsSeenByTheNextRead) {
  const struct {
    bool notifyPeer;
    int error;
  } cases[] = {{true, ECONNABORTED}, {false, ECONNRESET}};
  TcpListener listener("127.0.0.1", 0);
  for (const auto& c : cases) {
    auto sockets = TcpListener::ConnectedPairForTesting();
    TcpSocket& client = sockets.first;
    TcpSocket& server = sockets.second;
    server.WriteAll("bye", 1s);
    server.Close(c.notifyPeer);
    EXPECT_FALSE(server.IsConnected());
    EXPECT_EQ(ErrnoOf([&] { server.ReadSome(nullptr, 1); }), ENOTCONN);

    // An orderly close delivers what was written before it; a reset may not.
    std::string got;
    int error = 0;
    std::string text;
    try {
      char buffer[8];
      while (client.WaitReadable(10s) == WaitResult::kReadable) {
        got.append(buffer, client.ReadSome(buffer, sizeof buffer));
      }
    } catch (const SocketError& e) {
      error = e.Errno();
      text = e.what();
    }
    EXPECT_EQ(error, c.error) << c.notifyPeer;
    if (c.notifyPeer) {
      EXPECT_EQ(got, "bye");
      EXPECT_EQ(text, "Connection closed by the server");
    }
    EXPECT_FALSE(client.IsConnected());
    // The broken connection does not keep the socket from connecting again.
    EXPECT_EQ(ErrnoOf([&] { client.Connect("127.0.0.1", listener.Port(), 10s); }), 0);
  }
}

TEST(TcpSocketTest, WritingToAResetPeerFailsWithoutASignal) {
  auto sockets = TcpListener::ConnectedPairForTesting();
  TcpSocket& client = sockets.first;
  TcpSocket& server = sockets.second;
  server.Close(false);
  // The first write may still be taken before the reset is known.
  int error = 0;
  for (int i = 0; i < 100 && error == 0; ++i) error = ErrnoOf([&] { client.WriteAll("x", 1s); });
  EXPECT_TRUE(error == EPIPE || error == ECONNRESET) << error;
  EXPECT_FALSE(client.IsConnected());
}

TEST(TcpSocketTest, WaitReadableAlsoWaitsForTheOtherDescriptor) {
  auto sockets = TcpListener::ConnectedPairForTesting();
  TcpSocket& client = sockets.first;
  TcpSocket& server = sockets.second;
  Semaphore queued(0);
  EXPECT_EQ(server.WaitReadable(10ms, queued.Fd()), WaitResult::kTimeout);
  queued.Release();
  EXPECT_EQ(server.WaitReadable(10s, queued.Fd()), WaitResult::kOther);
  client.WriteAll("x", 1s);
  // Input is reported first when both are ready.
  EXPECT_EQ(server.WaitReadable(10s), WaitResult::kReadable);
  EXPECT_EQ(server.WaitReadable(10s, queued.Fd()), WaitResult::kReadable);
}

TEST(TcpSocketTest, AbortWakesAWaiterAndHoldsUntilClose) {
  TcpListener listener("127.0.0.1", 0);
  TcpSocket socket;
  socket.Connect("127.0.0.1", listener.Port(), 10s);
  auto waiter = std::async(std::launch::async, [&socket] { return socket.WaitReadable(60s); });
  socket.Abort();
  EXPECT_EQ(waiter.get(), WaitResult::kAborted);

  EXPECT_EQ(socket.WaitReadable(60s), WaitResult::kAborted);
  EXPECT_EQ(ErrnoOf([&] { socket.WriteAll("x", 60s); }), ECANCELED);
  socket.Close(true);
  EXPECT_EQ(ErrnoOf([&] { socket.Connect("127.0.0.1", listener.Port(), 10s); }), 0);
  EXPECT_TRUE(socket.IsConnected());
  socket.Abort();
  socket.Close(false);
  EXPECT_EQ(ErrnoOf([&] { socket.Connect("127.0.0.1", listener.Port(), 10s); }), 0);
}

TEST(TcpSocketTest, ResolvesNamesToDottedAddresses) {
  TcpSocket socket;
  EXPECT_EQ(socket.Resolve("localhost", 10s), "127.0.0.1");
  EXPECT_EQ(socket.Resolve("10.1.2.3", 10s), "10.1.2.3");
  try {
    socket.Resolve("no-such-host.invalid", 10s);
    ADD_FAILURE() << "resolved";
  } catch (const SocketError& error) {
    EXPECT_EQ(error.Errno(), kHostNotFound);
    EXPECT_STRNE(error.what(), "");
  }
}

// A resolver that does not answer holds up neither a stop nor a deadline; its
// late answer goes nowhere.
TEST(TcpSocketTest, AResolverThatHangsIsGivenUpOn) {
  std::promise<void> release;
  const std::shared_future<void> released = release.get_future().share();
  const HostResolveFunction hangs = [released](const std::string&) {
    released.wait_for(30s);
    return std::string("10.9.9.9");
  };
  // An abort while the lookup waits is the link's case (server_client_tcp_test).
  for (const bool aborted : {false, true}) {
    SCOPED_TRACE(aborted ? "aborted" : "deadline");
    TcpSocket socket;
    if (aborted) socket.Abort();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrnoOf([&] { socket.Resolve("slow.example", aborted ? 30s : 100ms, hangs); }),
              aborted ? ECANCELED : ETIMEDOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  }
  release.set_value();
}

}  // namespace
}  // namespace zv::platform
