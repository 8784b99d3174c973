#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <system_error>
#include <utility>

#include "platform/deadline_poll.h"

namespace zv::platform {

namespace {

constexpr const char* kClosedByPeer = "Connection closed by the server";

UniqueFd NewAbortFd() {
  UniqueFd fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!fd) throw std::system_error(errno, std::system_category(), "eventfd");
  return fd;
}

// Frames are small and answered one by one: waiting to fill a segment (Nagle)
// would only delay them.
void SetNoDelay(int fd) {
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// Throws SocketError(ENOTCONN) unless `fd` is open.
void RequireOpen(const UniqueFd& fd) {
  if (!fd) throw SocketError(ENOTCONN);
}

}  // namespace

TcpSocket::TcpSocket() : FAbortFd(NewAbortFd()) {}

TcpSocket::TcpSocket(UniqueFd connected) : FFd(std::move(connected)), FAbortFd(NewAbortFd()) {
  if (FFd) {
    SetNoDelay(FFd.Get());
    FConnected = true;
  }
}

TcpSocket::TcpSocket(TcpSocket&& other) noexcept
    : FFd(std::move(other.FFd)),
      FAbortFd(std::move(other.FAbortFd)),
      FConnected(other.FConnected.exchange(false)),
      FAborted(other.FAborted.exchange(false)) {}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    Close(true);
    FFd = std::move(other.FFd);
    FAbortFd = std::move(other.FAbortFd);
    FConnected = other.FConnected.exchange(false);
    FAborted = other.FAborted.exchange(false);
  }
  return *this;
}

TcpSocket::~TcpSocket() { Close(true); }

void TcpSocket::Broken(const SocketError& error) {
  FConnected = false;
  throw error;
}

void TcpSocket::Connect(const std::string& host, uint16_t port, std::chrono::milliseconds timeout) {
  const Deadline deadline = DeadlineAfter(timeout);
  if (Aborted()) throw SocketError(ECANCELED);
  if (IsConnected()) throw SocketError(EISCONN);
  FFd.Reset();  // a connection already known to be broken

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) throw SocketError(EINVAL);

  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd) throw SocketError(errno);

  // A non-blocking connect goes on in the background; EINTR means the same.
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) throw SocketError(errno);
    pollfd waits[2] = {{fd.Get(), POLLOUT, 0}, {FAbortFd.Get(), POLLIN, 0}};
    const int ready = PollUntil(waits, 2, deadline);
    if (ready < 0) throw SocketError(errno);
    if (waits[1].revents != 0 || Aborted()) throw SocketError(ECANCELED);
    if (ready == 0) throw SocketError(ETIMEDOUT);
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    if (error != 0) throw SocketError(error);
  }
  SetNoDelay(fd.Get());
  FFd = std::move(fd);
  FConnected = true;
}

void TcpSocket::Close(bool notifyPeer) {
  FConnected = false;
  if (FFd) {
    const int fd = FFd.Get();
    if (notifyPeer) {
      // The end of stream goes out after the bytes already written. Input left
      // unread would make close() reset the connection instead, so it is
      // discarded first.
      ::shutdown(fd, SHUT_WR);
      char discard[4096];
      while (::recv(fd, discard, sizeof discard, MSG_DONTWAIT) > 0) {
      }
    } else {
      // Linger on with a time of 0: close() resets the connection at once.
      const linger reset{1, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
    FFd.Reset();
  }
  if (FAbortFd) {
    uint64_t count = 0;
    while (::read(FAbortFd.Get(), &count, sizeof count) < 0 && errno == EINTR) {
    }
  }
  FAborted = false;
}

void TcpSocket::Abort() {
  FAborted = true;
  const uint64_t one = 1;
  while (::write(FAbortFd.Get(), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

std::string TcpSocket::PeerAddress() const {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (!FFd || ::getpeername(FFd.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      address.sin_family != AF_INET) {
    return "";
  }
  char text[INET_ADDRSTRLEN] = {};
  if (::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text) == nullptr) return "";
  return text;
}

size_t TcpSocket::ReadSome(char* buffer, size_t size) {
  RequireOpen(FFd);
  // recv() of 0 bytes returns 0, which would read as the end of the stream.
  if (size == 0) return 0;
  for (;;) {
    const ssize_t got = ::recv(FFd.Get(), buffer, size, MSG_DONTWAIT);
    if (got > 0) return static_cast<size_t>(got);
    if (got == 0) Broken(SocketError(ECONNABORTED, kClosedByPeer));
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    if (errno != EINTR) Broken(SocketError(errno));
  }
}

void TcpSocket::WriteAll(std::string_view bytes, std::chrono::milliseconds timeout) {
  const Deadline deadline = DeadlineAfter(timeout);
  if (Aborted()) throw SocketError(ECANCELED);
  RequireOpen(FFd);
  while (!bytes.empty()) {
    const ssize_t sent = ::send(FFd.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) {
      bytes.remove_prefix(static_cast<size_t>(sent));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) Broken(SocketError(errno));
    // The send buffer is full: wait for room. An error on the socket also
    // ends the wait, and the next send reports it.
    pollfd waits[2] = {{FFd.Get(), POLLOUT, 0}, {FAbortFd.Get(), POLLIN, 0}};
    const int ready = PollUntil(waits, 2, deadline);
    if (ready < 0) throw SocketError(errno);
    if (waits[1].revents != 0 || Aborted()) throw SocketError(ECANCELED);
    if (ready == 0) throw SocketError(ETIMEDOUT);
  }
}

TcpSocket::WaitResult TcpSocket::WaitReadable(std::chrono::milliseconds timeout, int otherFd) {
  const int others[1] = {otherFd};
  return WaitAny(timeout, others, true);
}

TcpSocket::WaitResult TcpSocket::WaitAny(std::chrono::milliseconds timeout,
                                         std::span<const int> otherFds, bool socketInput) {
  constexpr std::size_t kMaxOthers = 4;
  const Deadline deadline = DeadlineAfter(timeout);
  if (Aborted()) return WaitResult::kAborted;
  RequireOpen(FFd);
  pollfd waits[2 + kMaxOthers] = {{FAbortFd.Get(), POLLIN, 0},
                                  {socketInput ? FFd.Get() : -1, POLLIN, 0}};
  std::size_t count = 2;
  for (const int fd : otherFds) {
    if (fd >= 0 && count < 2 + kMaxOthers) waits[count++] = {fd, POLLIN, 0};
  }
  const int ready = PollUntil(waits, count, deadline);
  if (ready < 0) throw SocketError(errno);
  if (waits[0].revents != 0 || Aborted()) return WaitResult::kAborted;
  if (waits[1].revents != 0) return WaitResult::kReadable;
  if (ready > 0) return WaitResult::kOther;
  return WaitResult::kTimeout;
}

std::string TcpSocket::Resolve(const std::string& hostName, std::chrono::milliseconds timeout,
                               const HostResolveFunction& resolve) {
  const Deadline deadline = DeadlineAfter(timeout);
  if (Aborted()) throw SocketError(ECANCELED);
  const HostLookup lookup(hostName, resolve);
  pollfd waits[2] = {{FAbortFd.Get(), POLLIN, 0}, {lookup.Fd(), POLLIN, 0}};
  const int ready = PollUntil(waits, 2, deadline);
  if (ready < 0) throw SocketError(errno);
  if (waits[0].revents != 0 || Aborted()) throw SocketError(ECANCELED);
  if (ready == 0) {
    throw SocketError(ETIMEDOUT, "The name servers did not answer for \"" + hostName +
                                     "\" within " + std::to_string(timeout.count() / 1000) + " s");
  }
  return lookup.Result();
}

}  // namespace zv::platform
