// Local (AF_UNIX) stream sockets, for the processes of one user that share a
// home: a listener bound to a path in the file system and the connections it
// hands out. Every descriptor is non-blocking and close-on-exec, so a program
// started by the owner never inherits a connection, and no call here waits
// longer than its time-out. Errors are SocketError with the system's error
// number; one object is used by one thread at a time.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/unique_fd.h"

namespace zv::platform {

// The longest socket path the system takes (sun_path less its terminating NUL).
std::size_t LocalSocketPathLimit();

class LocalStream {
 public:
  enum class IoStatus {
    kDone,        // Count bytes moved (at least one)
    kWouldBlock,  // nothing can move now: wait for the descriptor
    kClosed,      // the peer ended the stream or has gone (EOF, reset, broken pipe)
  };
  struct IoResult {
    IoStatus Status = IoStatus::kDone;
    std::size_t Count = 0;
  };

  LocalStream() = default;
  // Takes over a connected AF_UNIX stream socket.
  explicit LocalStream(UniqueFd connected) : FFd(std::move(connected)) {}

  // Connects to the listener at `path`, waiting at most `timeout` while its
  // queue of waiting connections is full. Throws SocketError: ENOENT when no
  // socket file is there, ECONNREFUSED when nothing listens on it (a stale
  // file), ETIMEDOUT when the listener took no connection in time,
  // ENAMETOOLONG (with a text naming the path) for a path beyond
  // LocalSocketPathLimit().
  static LocalStream Connect(const std::string& path, std::chrono::milliseconds timeout);

  // Both ends of one unnamed connection, for tests and for talking to a child.
  static std::pair<LocalStream, LocalStream> Pair();

  bool Valid() const { return FFd.Valid(); }
  // For pollers; -1 when not open.
  int Fd() const { return FFd.Get(); }

  // Whatever has arrived, up to `size` bytes, without waiting. Throws
  // SocketError on a failure other than the peer's end.
  IoResult Read(char* buffer, std::size_t size);
  // As much of `bytes` as the socket takes now, without waiting and never
  // raising SIGPIPE. Throws SocketError on a failure other than the peer's end.
  IoResult Write(std::string_view bytes);
  // All of `bytes`, waiting at most `timeout` in all for the peer to take them.
  // Returns false when the peer has gone first. Throws SocketError: ETIMEDOUT
  // when the time is up (part of the bytes may have gone).
  bool WriteAll(std::string_view bytes, std::chrono::milliseconds timeout);
  // Waits at most `timeout` for input (or the peer's end); false on time-out.
  bool WaitReadable(std::chrono::milliseconds timeout) const;

  // The effective user and the process at the other end, as the system
  // recorded them when the connection was made (SO_PEERCRED): they cannot be
  // forged by the peer. Throw SocketError.
  uid_t PeerUid() const;
  pid_t PeerPid() const;

  void Close() { FFd.Reset(); }

 private:
  UniqueFd FFd;
};

class LocalListener {
 public:
  LocalListener() = default;
  LocalListener(LocalListener&& other) noexcept;
  LocalListener& operator=(LocalListener&& other) noexcept;
  LocalListener(const LocalListener&) = delete;
  LocalListener& operator=(const LocalListener&) = delete;
  // Removes the socket file, unless another listener has replaced it since.
  ~LocalListener();

  // Listens at `path`; the socket file gets mode 0600, so only this user (and
  // root) may connect. A socket file already there is taken over only when
  // nothing answers on it (a listener that died without removing it); a live
  // listener is never stolen (EADDRINUSE), and a file that is not a socket is
  // never removed (EADDRINUSE); the live one is left the question asked, a
  // connection that ends at once. Two processes binding one path at once could
  // both find it stale: callers exclude each other first (the owner lock).
  // Throws SocketError, ENAMETOOLONG for a path beyond LocalSocketPathLimit().
  static LocalListener Bind(const std::string& path, int backlog = 64);

  bool Valid() const { return FFd.Valid(); }
  // Readable while a connection waits to be accepted; for pollers.
  int Fd() const { return FFd.Get(); }
  const std::string& Path() const { return FPath; }

  // The next waiting connection; nullopt when none waits. Throws SocketError.
  std::optional<LocalStream> Accept();

 private:
  void Release();

  UniqueFd FFd;
  std::string FPath;
  // The socket file this listener made, so that the destructor never removes
  // one that a later listener bound at the same path.
  dev_t FDevice = 0;
  ino_t FInode = 0;
};

}  // namespace zv::platform
