// The owner of a home: the one process (an open console or a background
// agent) that holds the server login for a home, and the local socket on
// which it takes the pages of the other processes of that home.
//
// Election: the owner is whoever holds the exclusive lock on the home's
// Settings/zvcc-owner.lock. The system lets go of it when the process ends in
// any way, so a killed owner never blocks the next one, and the next owner
// takes over the socket file the killed one left behind.
//
// Trust: an owner sends pages under its user's login, so it serves only
// processes of the same user, and a client gives its pages only to an owner of
// its own user. Both sides check the other's user as the system recorded it
// (SO_PEERCRED), and the sockets live in a folder only that user can enter.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/instance_lock.h"
#include "platform/local_socket.h"

namespace zv::platform {

// Where a user's owners put their sockets, and the user they serve.
struct OwnerSite {
  std::string SocketFolder;
  uid_t User = 0;
};

// The private folder for the owner sockets of `user`: `runtimeFolder`/zvcc when
// `runtimeFolder` is an absolute path to a folder (not a symbolic link) that
// `user` owns, else `fallbackBase`/zvcc-<uid>. Created with mode 0700 when
// missing. Throws SocketError with a text naming the folder when it exists but
// is a symbolic link (ELOOP), not a folder (ENOTDIR), belongs to another user
// or has a mode other than 0700 (EPERM): a folder someone else controls could
// hold a socket file that stands in for the owner.
std::string PrepareOwnerSocketFolder(const std::string& runtimeFolder,
                                     const std::string& fallbackBase, uid_t user);

// This process's site: $XDG_RUNTIME_DIR or /tmp, for the effective user (the
// one the system records for a connection). Prepares the folder as above.
OwnerSite ThisUsersOwnerSite();

// The 64-bit FNV-1a hash of `bytes`.
uint64_t Fnv1a64(std::string_view bytes);

// The home's path with symbolic links and "." or ".." resolved, so that every
// way of naming one home finds one socket; when it cannot be resolved (it
// does not exist), the path made absolute and normal.
std::string CanonicalHome(const std::string& home);

// "owner-<16 lower-case hex digits of Fnv1a64(canonicalHome)>.sock": one
// socket per home, with a name short enough for any socket folder.
std::string OwnerSocketName(const std::string& canonicalHome);

// The socket of `home`'s owner in `socketFolder`.
std::string OwnerSocketPath(const std::string& home, const std::string& socketFolder);

// `home`/Settings/zvcc-owner.lock.
std::string OwnerLockPath(const std::string& home);

// The line an owner writes to a connection of another user before it closes
// it: a "refused" message of the owner's wire protocol, with its line end.
std::string ForeignUserRefusalLine(uid_t servedUser);

// The owner's side, while it lives: the election lock and the listening
// socket. Destroying it removes the socket file, then lets go of the lock, so
// the next owner never finds the socket of this one still answering.
class OwnerEndpoint {
 public:
  OwnerEndpoint(OwnerEndpoint&&) noexcept = default;
  OwnerEndpoint& operator=(OwnerEndpoint&&) noexcept = default;

  // Readable while a connection waits; for pollers.
  int Fd() const { return FListener.Fd(); }
  const std::string& SocketPath() const { return FListener.Path(); }
  uid_t ServedUser() const { return FUser; }

  // The next waiting connection of the served user; nullopt when none waits.
  // A connection of any other user is sent ForeignUserRefusalLine and closed,
  // and the next one is looked at. Throws SocketError.
  std::optional<LocalStream> Accept();

 private:
  friend std::optional<OwnerEndpoint> TryBecomeOwner(const std::string& home,
                                                     const OwnerSite& site);
  OwnerEndpoint(InstanceLock lock, LocalListener listener, uid_t user);

  // Declared before the listener, so it is let go of after the listener.
  InstanceLock FLock;
  LocalListener FListener;
  uid_t FUser = 0;
};

// Becomes the owner of `home` when no other process is: takes the lock and
// binds the home's socket in the site's folder. nullopt when another process
// holds the lock (the same process too: each attempt opens the lock file
// anew). Throws SocketError when the lock file cannot be opened or the socket
// cannot be bound (another process, not holding the lock, listens on it).
std::optional<OwnerEndpoint> TryBecomeOwner(const std::string& home, const OwnerSite& site);
std::optional<OwnerEndpoint> TryBecomeOwner(const std::string& home);

// A connection to `home`'s owner, waiting at most `timeout` for it to take
// the connection; nullopt when no owner answers (no socket file, or a stale
// one). Throws SocketError: EACCES when the socket is served by another user
// than the site's, ETIMEDOUT when the owner does not take the connection in
// time (it lives but is stuck), others from the connect.
std::optional<LocalStream> ConnectToOwner(const std::string& home, const OwnerSite& site,
                                          std::chrono::milliseconds timeout);
std::optional<LocalStream> ConnectToOwner(const std::string& home,
                                          std::chrono::milliseconds timeout);

}  // namespace zv::platform
