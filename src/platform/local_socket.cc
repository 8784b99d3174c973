#include "platform/local_socket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/deadline_poll.h"
#include "platform/socket_error.h"

namespace zv::platform {
namespace {

constexpr int kSocketFlags = SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC;
// Only this user may connect; the listener also checks who did.
constexpr mode_t kSocketFileMode = 0600;
// How long a bind waits for an answer on a socket file it finds: a live
// listener accepts in the kernel at once, so this is only for a full queue.
constexpr std::chrono::milliseconds kStaleProbeWait(500);

[[noreturn]] void ThrowErrno(const std::string& what) {
  const int error = errno;
  throw SocketError(error, what + ": " + SocketError(error).what());
}

sockaddr_un AddressOf(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.find('\0') != std::string::npos) {
    throw SocketError(EINVAL, "The socket path \"" + path + "\" is empty or holds a NUL byte");
  }
  if (path.size() > LocalSocketPathLimit()) {
    throw SocketError(ENAMETOOLONG, "The socket path \"" + path + "\" is " +
                                        std::to_string(path.size()) + " bytes long; at most " +
                                        std::to_string(LocalSocketPathLimit()) + " are possible");
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  return address;
}

UniqueFd NewSocket() {
  UniqueFd fd(::socket(AF_UNIX, kSocketFlags, 0));
  if (!fd) ThrowErrno("Cannot create a local socket");
  return fd;
}

void SetBlocking(int fd, bool blocking) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) != 0) {
    ThrowErrno("Cannot set the mode of a local socket");
  }
}

// A send time-out bounds the wait of a blocking connect for room in the
// listener's queue; 0 would mean no bound at all.
void SetSendTimeout(int fd, std::chrono::milliseconds timeout) {
  timeval limit{};
  limit.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  limit.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  if (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0) {
    ThrowErrno("Cannot set the time-out of a local socket");
  }
}

ucred PeerCredentials(int fd) {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
    ThrowErrno("Cannot learn the peer of a local socket");
  }
  return credentials;
}

// Whether something listens on the socket file at `path`.
bool Answers(const std::string& path) {
  try {
    LocalStream::Connect(path, kStaleProbeWait);
    return true;
  } catch (const SocketError& error) {
    // A full queue is a live listener too.
    if (error.Errno() == ETIMEDOUT) return true;
    if (error.Errno() == ECONNREFUSED || error.Errno() == ENOENT) return false;
    throw;
  }
}

}  // namespace

std::size_t LocalSocketPathLimit() { return sizeof(sockaddr_un::sun_path) - 1; }

LocalStream LocalStream::Connect(const std::string& path, std::chrono::milliseconds timeout) {
  const sockaddr_un address = AddressOf(path);
  UniqueFd fd = NewSocket();
  // Non-blocking, a local connect fails with EAGAIN while the queue is full;
  // blocking, it waits for room up to the send time-out and no longer.
  const Deadline deadline = DeadlineAfter(timeout);
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const bool wait = left.count() > 0;
    SetBlocking(fd.Get(), wait);
    if (wait) SetSendTimeout(fd.Get(), left);
    const int result =
        ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int error = errno;
    if (result == 0) break;
    if (error == EINTR) continue;
    if (error == EAGAIN || error == EINPROGRESS) {
      if (std::chrono::steady_clock::now() < deadline) continue;
      throw SocketError(ETIMEDOUT, "No answer on the socket \"" + path + "\" in time");
    }
    errno = error;
    ThrowErrno("Cannot connect to the socket \"" + path + "\"");
  }
  SetSendTimeout(fd.Get(), std::chrono::milliseconds(0));
  SetBlocking(fd.Get(), false);
  return LocalStream(std::move(fd));
}

std::pair<LocalStream, LocalStream> LocalStream::Pair() {
  int ends[2];
  if (::socketpair(AF_UNIX, kSocketFlags, 0, ends) != 0) ThrowErrno("Cannot create a socket pair");
  return {LocalStream(UniqueFd(ends[0])), LocalStream(UniqueFd(ends[1]))};
}

LocalStream::IoResult LocalStream::Read(char* buffer, std::size_t size) {
  if (size == 0) return {IoStatus::kDone, 0};
  for (;;) {
    const ssize_t count = ::recv(FFd.Get(), buffer, size, 0);
    if (count > 0) return {IoStatus::kDone, static_cast<std::size_t>(count)};
    if (count == 0) return {IoStatus::kClosed, 0};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoStatus::kWouldBlock, 0};
    if (errno == ECONNRESET) return {IoStatus::kClosed, 0};
    ThrowErrno("Cannot read from a local socket");
  }
}

LocalStream::IoResult LocalStream::Write(std::string_view bytes) {
  if (bytes.empty()) return {IoStatus::kDone, 0};
  for (;;) {
    const ssize_t count = ::send(FFd.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (count >= 0) return {IoStatus::kDone, static_cast<std::size_t>(count)};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoStatus::kWouldBlock, 0};
    if (errno == EPIPE || errno == ECONNRESET) return {IoStatus::kClosed, 0};
    ThrowErrno("Cannot write to a local socket");
  }
}

bool LocalStream::WriteAll(std::string_view bytes, std::chrono::milliseconds timeout) {
  const Deadline deadline = DeadlineAfter(timeout);
  while (!bytes.empty()) {
    const IoResult written = Write(bytes);
    if (written.Status == IoStatus::kClosed) return false;
    bytes.remove_prefix(written.Count);
    if (written.Status == IoStatus::kDone) continue;
    pollfd wait{FFd.Get(), POLLOUT, 0};
    const int ready = PollUntil(&wait, 1, deadline);
    if (ready < 0) ThrowErrno("Cannot wait on a local socket");
    if (ready == 0) throw SocketError(ETIMEDOUT, "The peer of a local socket took no data in time");
  }
  return true;
}

bool LocalStream::WaitReadable(std::chrono::milliseconds timeout) const {
  pollfd wait{FFd.Get(), POLLIN, 0};
  const int ready = PollUntil(&wait, 1, DeadlineAfter(timeout));
  if (ready < 0) ThrowErrno("Cannot wait on a local socket");
  return ready > 0;
}

uid_t LocalStream::PeerUid() const { return PeerCredentials(FFd.Get()).uid; }
pid_t LocalStream::PeerPid() const { return PeerCredentials(FFd.Get()).pid; }

LocalListener::LocalListener(LocalListener&& other) noexcept
    : FFd(std::move(other.FFd)),
      FPath(std::move(other.FPath)),
      FDevice(other.FDevice),
      FInode(other.FInode) {
  other.FPath.clear();
}

LocalListener& LocalListener::operator=(LocalListener&& other) noexcept {
  if (this != &other) {
    Release();
    FFd = std::move(other.FFd);
    FPath = std::move(other.FPath);
    other.FPath.clear();
    FDevice = other.FDevice;
    FInode = other.FInode;
  }
  return *this;
}

LocalListener::~LocalListener() { Release(); }

void LocalListener::Release() {
  if (FFd && !FPath.empty()) {
    struct stat info {};
    if (::lstat(FPath.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) && info.st_dev == FDevice &&
        info.st_ino == FInode) {
      ::unlink(FPath.c_str());
    }
  }
  FFd.Reset();
  FPath.clear();
}

LocalListener LocalListener::Bind(const std::string& path, int backlog) {
  const sockaddr_un address = AddressOf(path);
  LocalListener listener;
  listener.FFd = NewSocket();
  const auto* raw = reinterpret_cast<const sockaddr*>(&address);
  // Twice at most: a stale file is removed once, and one that reappears at
  // once belongs to a process that raced past the caller's exclusion.
  for (int attempt = 0;; ++attempt) {
    if (::bind(listener.FFd.Get(), raw, sizeof address) == 0) break;
    if (errno != EADDRINUSE || attempt > 0) ThrowErrno("Cannot bind the socket \"" + path + "\"");
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && !S_ISSOCK(info.st_mode)) {
      throw SocketError(EADDRINUSE, "\"" + path + "\" exists and is not a socket");
    }
    if (Answers(path)) {
      throw SocketError(EADDRINUSE, "Another process listens on the socket \"" + path + "\"");
    }
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      ThrowErrno("Cannot remove the stale socket \"" + path + "\"");
    }
  }
  // From here the file is ours: a failure below removes it again.
  listener.FPath = path;
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) ThrowErrno("Cannot read the socket \"" + path + "\"");
  listener.FDevice = info.st_dev;
  listener.FInode = info.st_ino;
  // The owner's folder keeps other users out already; the file's own mode
  // does so wherever a caller binds.
  if (::chmod(path.c_str(), kSocketFileMode) != 0) {
    ThrowErrno("Cannot set the mode of the socket \"" + path + "\"");
  }
  if (::listen(listener.FFd.Get(), std::max(backlog, 1)) != 0) {
    ThrowErrno("Cannot listen on the socket \"" + path + "\"");
  }
  return listener;
}

std::optional<LocalStream> LocalListener::Accept() {
  for (;;) {
    UniqueFd accepted(::accept4(FFd.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (accepted) return LocalStream(std::move(accepted));
    // A client that gave up while it waited is simply gone.
    if (errno == EINTR || errno == ECONNABORTED) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return std::nullopt;
    ThrowErrno("Cannot accept on the socket \"" + FPath + "\"");
  }
}

}  // namespace zv::platform
