// TcpListener: a listening IPv4 TCP socket that hands out accepted
// connections as TcpSocket objects, without ever blocking. For the simulated
// server and for tests. One thread uses it at a time.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "platform/tcp_socket.h"
#include "platform/unique_fd.h"

namespace zv::platform {

class TcpListener {
 public:
  // Listens on the dotted IPv4 `address` and `port` (0: a free port the
  // system picks), with SO_REUSEADDR so a restart can take the port of a
  // connection that is still closing. `backlog` bounds the connections that
  // wait to be accepted. Throws SocketError.
  TcpListener(const std::string& address, uint16_t port, int backlog = SOMAXCONN);

  // The port listened on (the one picked when 0 was asked for).
  uint16_t Port() const { return FPort; }
  // Readable while a connection waits to be accepted; for pollers.
  int Fd() const { return FFd.Get(); }

  // The next waiting connection; nullopt when none waits. Throws SocketError.
  std::optional<TcpSocket> Accept();
  // Waits at most `timeout` for a connection to accept; nullopt on time-out.
  std::optional<TcpSocket> Accept(std::chrono::milliseconds timeout);

  // Two ends of one loopback connection: first the connecting end, then the
  // accepted one.
  static std::pair<TcpSocket, TcpSocket> ConnectedPairForTesting();

 private:
  UniqueFd FFd;
  uint16_t FPort = 0;
};

}  // namespace zv::platform
