#include "platform/local_socket.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/socket_error.h"
#include "platform/temp_folder.h"

namespace zv::platform {
namespace {

using namespace std::chrono_literals;
using IoStatus = LocalStream::IoStatus;

// The SocketError `action` throws; errno 0 and no text when it throws none.
SocketError ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const SocketError& error) {
    return error;
  }
  return SocketError(0, "");
}

// A socket file with nothing listening on it: what a killed listener leaves.
void MakeStaleSocketFile(const std::string& path) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0)
      << std::strerror(errno);
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

// Reads until `count` bytes have come or the peer has ended.
std::string ReadExactly(LocalStream& stream, std::size_t count) {
  std::string got;
  char buffer[4096];
  while (got.size() < count && stream.WaitReadable(10s)) {
    const auto read = stream.Read(buffer, sizeof buffer);
    if (read.Status == IoStatus::kClosed) break;
    got.append(buffer, read.Count);
  }
  return got;
}

// A connected pair through `listener`: the client end, then the accepted one.
// A local connect returns once the connection waits to be accepted.
std::pair<LocalStream, LocalStream> ConnectThrough(LocalListener& listener) {
  LocalStream client = LocalStream::Connect(listener.Path(), 10s);
  std::optional<LocalStream> server = listener.Accept();
  if (!server) throw SocketError(ETIMEDOUT);
  return {std::move(client), std::move(*server)};
}

TEST(LocalSocketTest, AConnectionCarriesBytesBothWaysAndNamesItsPeer) {
  TempFolder folder;
  LocalListener listener = LocalListener::Bind(folder / "s");
  EXPECT_FALSE(listener.Accept());
  auto [client, server] = ConnectThrough(listener);
  EXPECT_FALSE(listener.Accept());

  ASSERT_TRUE(client.WriteAll("ping\n", 10s));
  EXPECT_EQ(ReadExactly(server, 5), "ping\n");
  ASSERT_TRUE(server.WriteAll("pong", 10s));
  EXPECT_EQ(ReadExactly(client, 4), "pong");

  for (const LocalStream* end : {&client, &server}) {
    EXPECT_EQ(end->PeerUid(), ::geteuid());
    EXPECT_EQ(end->PeerPid(), ::getpid());
    // Never blocking, never inherited by a program started later.
    EXPECT_TRUE(::fcntl(end->Fd(), F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(::fcntl(end->Fd(), F_GETFD) & FD_CLOEXEC);
  }
  EXPECT_TRUE(::fcntl(listener.Fd(), F_GETFD) & FD_CLOEXEC);
}

TEST(LocalSocketTest, ReadsAndWritesSayWhenTheyWouldWaitAndWhenThePeerHasGone) {
  // Named ends, not a structured binding: a lambda below captures one.
  auto ends = LocalStream::Pair();
  LocalStream& one = ends.first;
  LocalStream& other = ends.second;
  char buffer[16];
  EXPECT_EQ(one.Read(buffer, sizeof buffer).Status, IoStatus::kWouldBlock);
  EXPECT_FALSE(one.WaitReadable(10ms));

  // A peer that takes nothing: the socket fills, then a write would wait,
  // and a bounded WriteAll gives up in time.
  const std::string block(1 << 16, 'x');
  while (one.Write(block).Status == IoStatus::kDone) {
  }
  EXPECT_EQ(one.Write(block).Status, IoStatus::kWouldBlock);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(ErrorOf([&] { one.WriteAll(block, 50ms); }).Errno(), ETIMEDOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - started, 50ms);

  other.Close();
  EXPECT_TRUE(one.WaitReadable(10s));
  EXPECT_EQ(one.Read(buffer, sizeof buffer).Status, IoStatus::kClosed);
  // No SIGPIPE: the test would end here if one were raised.
  EXPECT_EQ(one.Write("late").Status, IoStatus::kClosed);
  EXPECT_FALSE(one.WriteAll("late", 10s));
}

TEST(LocalSocketTest, TheSocketFileIsPrivateAndGoesWithItsListener) {
  TempFolder folder;
  const std::string path = folder / "s";
  {
    LocalListener listener = LocalListener::Bind(path);
    struct stat info {};
    ASSERT_EQ(::lstat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    LocalListener moved = std::move(listener);
    EXPECT_TRUE(Exists(path));
  }
  EXPECT_FALSE(Exists(path));
  EXPECT_EQ(ErrorOf([&] { LocalStream::Connect(path, 1s); }).Errno(), ENOENT);
}

TEST(LocalSocketTest, AListenerLeavesAFileThatIsNoLongerItsOwnAlone) {
  TempFolder folder;
  const std::string path = folder / "s";
  std::optional<LocalListener> first = LocalListener::Bind(path);
  ASSERT_EQ(::unlink(path.c_str()), 0);
  LocalListener second = LocalListener::Bind(path);
  first.reset();
  ASSERT_TRUE(Exists(path));
  auto [client, server] = ConnectThrough(second);
  EXPECT_TRUE(client.Valid() && server.Valid());
}

TEST(LocalSocketTest, AStaleSocketFileIsTakenOverAndALiveOneIsNot) {
  TempFolder folder;
  const std::string stale = folder / "stale";
  MakeStaleSocketFile(stale);
  EXPECT_EQ(ErrorOf([&] { LocalStream::Connect(stale, 1s); }).Errno(), ECONNREFUSED);
  LocalListener taken = LocalListener::Bind(stale);
  auto [client, server] = ConnectThrough(taken);
  EXPECT_TRUE(server.Valid());

  // A second bind on a live socket fails and the first listener still serves.
  const SocketError live = ErrorOf([&] { LocalListener::Bind(stale); });
  EXPECT_EQ(live.Errno(), EADDRINUSE);
  EXPECT_NE(std::string(live.what()).find("Another process listens"), std::string::npos);
  std::optional<LocalStream> probe = taken.Accept();  // the bind's question, ended at once
  ASSERT_TRUE(probe && probe->WaitReadable(10s));
  char end;
  EXPECT_EQ(probe->Read(&end, 1).Status, IoStatus::kClosed);
  auto [client2, server2] = ConnectThrough(taken);
  ASSERT_TRUE(client2.WriteAll("x", 10s));
  EXPECT_EQ(ReadExactly(server2, 1), "x");

  // A file that is not a socket is never removed.
  const std::string plain = folder / "plain";
  std::ofstream(plain) << "keep";
  const SocketError notSocket = ErrorOf([&] { LocalListener::Bind(plain); });
  EXPECT_EQ(notSocket.Errno(), EADDRINUSE);
  EXPECT_NE(std::string(notSocket.what()).find("is not a socket"), std::string::npos);
  EXPECT_TRUE(Exists(plain));
}

TEST(LocalSocketTest, PathsAreTakenUpToTheSystemsLimitAndRefusedBeyond) {
  TempFolder folder;
  const std::size_t limit = LocalSocketPathLimit();
  ASSERT_EQ(limit, sizeof(sockaddr_un::sun_path) - 1);
  const std::string prefix = folder.Path() + "/";
  ASSERT_LT(prefix.size(), limit);
  const std::string longest = prefix + std::string(limit - prefix.size(), 'a');
  {
    LocalListener listener = LocalListener::Bind(longest);
    EXPECT_TRUE(LocalStream::Connect(longest, 1s).Valid());
  }
  const std::string tooLong = longest + "a";
  for (const auto& action : std::vector<std::function<void()>>{
           [&] { LocalListener::Bind(tooLong); }, [&] { LocalStream::Connect(tooLong, 1s); }}) {
    const SocketError error = ErrorOf(action);
    EXPECT_EQ(error.Errno(), ENAMETOOLONG);
    EXPECT_NE(std::string(error.what()).find(tooLong), std::string::npos) << error.what();
  }
  EXPECT_EQ(ErrorOf([] { LocalListener::Bind(""); }).Errno(), EINVAL);
}

TEST(LocalSocketTest, AConnectToAListenerThatTakesNoneTimesOut) {
  TempFolder folder;
  LocalListener listener = LocalListener::Bind(folder / "s", 1);
  std::vector<LocalStream> waiting;
  SocketError error(0, "");
  for (int i = 0; i < 8 && error.Errno() == 0; ++i) {
    error = ErrorOf([&] { waiting.push_back(LocalStream::Connect(listener.Path(), 100ms)); });
  }
  ASSERT_EQ(error.Errno(), ETIMEDOUT);
  // Once one is accepted, there is room again.
  ASSERT_TRUE(listener.Accept());
  EXPECT_TRUE(LocalStream::Connect(listener.Path(), 10s).Valid());
}

}  // namespace
}  // namespace zv::platform
