// TcpSocket: one IPv4 TCP connection, client side or accepted. Errors are
// SocketError with the system's error number.
//
// Threads: one owner connects and closes; meanwhile one reader thread may
// wait and read, writers may write one at a time (they serialise their frames
// themselves), and any thread may call Abort and IsConnected. Connect and
// Close never overlap a wait, read or write on another thread: the owner first
// aborts and joins the threads that use the socket.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/host_lookup.h"
#include "platform/socket_error.h"
#include "platform/unique_fd.h"

namespace zv::platform {

class TcpSocket {
 public:
  enum class WaitResult { kReadable, kOther, kTimeout, kAborted };

  // Not connected.
  TcpSocket();
  // Takes over a connected stream socket (an accepted one).
  explicit TcpSocket(UniqueFd connected);
  TcpSocket(TcpSocket&& other) noexcept;
  TcpSocket& operator=(TcpSocket&& other) noexcept;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;
  ~TcpSocket();  // an orderly Close when still open

  // Connects to the dotted IPv4 address `host`, waiting at most `timeout`.
  // Throws SocketError: ETIMEDOUT on time-out, ECANCELED when aborted (before
  // or during the attempt), EISCONN while IsConnected (a connection known to be
  // broken is dropped instead), EINVAL for a host that is not a dotted address,
  // otherwise the error of the attempt (ECONNREFUSED, ENETUNREACH, ...). A
  // failed attempt leaves the socket closed.
  void Connect(const std::string& host, uint16_t port, std::chrono::milliseconds timeout);

  // Open and not known to be broken. A peer's close is known once a read or
  // write has met it; until then the socket still counts as connected.
  bool IsConnected() const { return FConnected.load(); }

  // Closes the connection. notifyPeer: an orderly close (the bytes written are
  // delivered, then end of stream); otherwise an abortive one (the peer sees a
  // reset, unsent bytes are dropped). Unread input is discarded. Also ends an
  // Abort, so the socket can connect again. Safe when not open.
  void Close(bool notifyPeer);

  // Any thread. A Connect, WaitReadable or WriteAll in progress returns at once
  // and every later one fails the same way until Close: Connect and WriteAll
  // throw SocketError(ECANCELED), WaitReadable returns kAborted.
  void Abort();

  // The connection's descriptor, -1 when not open; for pollers only.
  int Fd() const { return FFd.Get(); }
  // The peer's dotted IPv4 address; "" when not open or unknown.
  std::string PeerAddress() const;

  // Reads what has arrived, up to `size` bytes, without waiting; 0 when nothing
  // has. Throws SocketError on a failure: ECONNRESET when the peer reset the
  // connection, and ECONNABORTED with the text "Connection closed by the
  // server" when it ended the stream in order. ENOTCONN when not open.
  size_t ReadSome(char* buffer, size_t size);

  // Writes every byte of `bytes`, waiting at most `timeout` in all for the peer
  // to take them. Throws SocketError: ETIMEDOUT when the time is up (part of
  // the bytes may have gone), ECANCELED when aborted, ENOTCONN when not open,
  // EPIPE/ECONNRESET when the peer has gone (never a SIGPIPE).
  void WriteAll(std::string_view bytes, std::chrono::milliseconds timeout);

  // One wait of at most `timeout` for input on the socket, for `otherFd` (when
  // not -1) to become readable, or for Abort. kAborted wins over the others,
  // and kReadable over kOther. An error or hang-up on the socket counts as
  // kReadable, so that the following ReadSome reports it. ENOTCONN when not
  // open.
  WaitResult WaitReadable(std::chrono::milliseconds timeout, int otherFd = -1);
  // The same for any of `otherFds` (entries of -1 are left out), with the
  // socket's own input looked for only when `socketInput`: a reader that may
  // not take more input yet still wakes for the others.
  WaitResult WaitAny(std::chrono::milliseconds timeout, std::span<const int> otherFds,
                     bool socketInput);

  // The IPv4 address of `hostName` for a later Connect, waiting at most
  // `timeout` for the lookup (HostLookup), which needs no open socket. Throws
  // SocketError: ECANCELED when aborted (before or during the wait), ETIMEDOUT
  // when the resolver has not answered in time, else the lookup's own error.
  std::string Resolve(const std::string& hostName, std::chrono::milliseconds timeout,
                      const HostResolveFunction& resolve = ResolveIPv4);

 private:
  bool Aborted() const { return FAborted.load(); }
  // Marks the connection broken (no longer IsConnected), then throws `error`.
  [[noreturn]] void Broken(const SocketError& error);

  UniqueFd FFd;
  UniqueFd FAbortFd;  // eventfd; readable from Abort until Close
  std::atomic<bool> FConnected{false};
  std::atomic<bool> FAborted{false};
};

}  // namespace zv::platform
