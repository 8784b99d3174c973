#include "platform/tcp_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/deadline_poll.h"
#include "platform/socket_error.h"

namespace zv::platform {

TcpListener::TcpListener(const std::string& address, uint16_t port, int backlog) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) throw SocketError(EINVAL);

  FFd.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!FFd) throw SocketError(errno);
  const int on = 1;
  if (::setsockopt(FFd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      ::bind(FFd.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::listen(FFd.Get(), backlog) != 0) {
    throw SocketError(errno);
  }
  socklen_t length = sizeof local;
  if (::getsockname(FFd.Get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    throw SocketError(errno);
  }
  FPort = ntohs(local.sin_port);
}

std::optional<TcpSocket> TcpListener::Accept() {
  for (;;) {
    UniqueFd accepted(::accept4(FFd.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (accepted) return TcpSocket(std::move(accepted));
    // A connection that was reset while it waited is simply gone.
    if (errno == EINTR || errno == ECONNABORTED) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return std::nullopt;
    throw SocketError(errno);
  }
}

std::optional<TcpSocket> TcpListener::Accept(std::chrono::milliseconds timeout) {
  const Deadline deadline = DeadlineAfter(timeout);
  for (;;) {
    if (auto accepted = Accept()) return accepted;
    pollfd wait{FFd.Get(), POLLIN, 0};
    const int ready = PollUntil(&wait, 1, deadline);
    if (ready < 0) throw SocketError(errno);
    if (ready == 0) return Accept();
  }
}

std::pair<TcpSocket, TcpSocket> TcpListener::ConnectedPairForTesting() {
  constexpr std::chrono::seconds kWait(10);
  TcpListener listener("127.0.0.1", 0);
  TcpSocket client;
  client.Connect("127.0.0.1", listener.Port(), kWait);
  auto server = listener.Accept(kWait);
  if (!server) throw SocketError(ETIMEDOUT);
  return {std::move(client), std::move(*server)};
}

}  // namespace zv::platform
