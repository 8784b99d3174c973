#include "owner/owner_server.h"

#include <sys/epoll.h>

#include <array>
#include <cerrno>
#include <exception>
#include <vector>

#include "platform/socket_error.h"

namespace zv {
namespace {

constexpr uint64_t kListenerKey = 0;
constexpr int kEventsPerPass = 128;

}  // namespace

TOwnerServer::TOwnerServer(platform::OwnerEndpoint endpoint, TOwnerCore& core, TClock clock)
    : FEndpoint(std::move(endpoint)), FCore(core), FClock(std::move(clock)) {
  FEpoll = platform::UniqueFd(::epoll_create1(EPOLL_CLOEXEC));
  if (!FEpoll.Valid()) throw platform::SocketError(errno, "Cannot watch the owner's socket");
  Watch(FEndpoint.Fd(), EPOLLIN, kListenerKey, false);
}

void TOwnerServer::Watch(int fd, uint32_t events, uint64_t key, bool modify) {
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = key;
  if (::epoll_ctl(FEpoll.Get(), modify ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &ev) != 0) {
    throw platform::SocketError(errno, "Cannot watch a client of the owner");
  }
}

void TOwnerServer::Accept() {
  while (true) {
    std::optional<platform::LocalStream> stream;
    try {
      stream = FEndpoint.Accept();
    } catch (const std::exception&) {
      return;  // out of descriptors, say: the client's connect times out and it tries again
    }
    if (!stream) return;
    const TOwnerCore::TClientId id = FCore.Connected();
    TConnection& c = FClients[id];
    c.Stream = std::move(*stream);
    try {
      Watch(c.Stream.Fd(), EPOLLIN, id, false);
    } catch (const std::exception&) {
      FCore.Disconnected(id);
      FClients.erase(id);
    }
  }
}

bool TOwnerServer::ReadFrom(TOwnerCore::TClientId id, TConnection& c, int64_t now) {
  std::array<char, 65536> buffer{};
  std::size_t taken = 0;
  bool open = true;
  while (taken < kReadPerPass) {
    platform::LocalStream::IoResult r{};
    try {
      r = c.Stream.Read(buffer.data(), buffer.size());
    } catch (const std::exception&) {
      r.Status = platform::LocalStream::IoStatus::kClosed;
    }
    if (r.Status == platform::LocalStream::IoStatus::kWouldBlock) break;
    if (r.Status == platform::LocalStream::IoStatus::kClosed) {
      open = false;
      break;
    }
    taken += r.Count;
    c.Reader.Append(std::string_view(buffer.data(), r.Count));
  }
  // Lines that came before the end still count: a client may send its last
  // pages and close at once.
  while (auto read = c.Reader.Next()) {
    if (read->Message) {
      FCore.Received(id, *read->Message, now);
    } else {
      FCore.ReceivedGarbage(id, read->Error);
      break;
    }
    if (FClients.find(id) == FClients.end()) return false;
  }
  return open;
}

void TOwnerServer::Service() {
  const int64_t now = FClock();
  std::array<epoll_event, kEventsPerPass> events{};
  const int n = ::epoll_wait(FEpoll.Get(), events.data(), kEventsPerPass, 0);
  std::vector<TOwnerCore::TClientId> gone;
  for (int i = 0; i < n; ++i) {
    const uint64_t key = events[static_cast<std::size_t>(i)].data.u64;
    if (key == kListenerKey) {
      Accept();
      continue;
    }
    const auto it = FClients.find(key);
    if (it == FClients.end()) continue;
    const uint32_t what = events[static_cast<std::size_t>(i)].events;
    if ((what & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0 && !ReadFrom(key, it->second, now)) {
      gone.push_back(key);
    }
  }
  for (const TOwnerCore::TClientId id : gone) {
    FCore.Disconnected(id);
    Drop(id);
  }
  FCore.Commit(now);
  FCore.Tick(now);
  Deliver();
}

void TOwnerServer::Deliver() {
  for (TOwnerCore::TOutput& out : FCore.TakeOutput()) {
    const auto it = FClients.find(out.Client);
    if (it == FClients.end()) continue;
    it->second.Unwritten += out.Line;
    if (out.Close) it->second.CloseWhenWritten = true;
  }
  std::vector<TOwnerCore::TClientId> gone;
  for (auto& [id, c] : FClients) {
    if (!Flush(id, c)) gone.push_back(id);
  }
  for (const TOwnerCore::TClientId id : gone) {
    FCore.Disconnected(id);
    Drop(id);
  }
}

bool TOwnerServer::Flush(TOwnerCore::TClientId id, TConnection& c) {
  while (!c.Unwritten.empty()) {
    platform::LocalStream::IoResult r{};
    try {
      r = c.Stream.Write(c.Unwritten);
    } catch (const std::exception&) {
      return false;
    }
    if (r.Status == platform::LocalStream::IoStatus::kClosed) return false;
    if (r.Status == platform::LocalStream::IoStatus::kWouldBlock) break;
    c.Unwritten.erase(0, r.Count);
  }
  if (c.Unwritten.empty() && c.CloseWhenWritten) return false;
  if (c.Unwritten.size() > kMaxUnwritten) return false;
  const bool wantWrite = !c.Unwritten.empty();
  if (wantWrite != c.Writable) {
    try {
      Watch(c.Stream.Fd(), wantWrite ? (EPOLLIN | EPOLLOUT) : EPOLLIN, id, true);
    } catch (const std::exception&) {
      return false;
    }
    c.Writable = wantWrite;
  }
  return true;
}

void TOwnerServer::Drop(TOwnerCore::TClientId id) {
  const auto it = FClients.find(id);
  if (it == FClients.end()) return;
  ::epoll_ctl(FEpoll.Get(), EPOLL_CTL_DEL, it->second.Stream.Fd(), nullptr);
  FClients.erase(it);
}

int64_t TOwnerServer::NextWake() const { return FCore.NextWake(FClock()); }

}  // namespace zv
