#include "platform/owner_endpoint.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "platform/socket_error.h"
#include "platform/user_folders.h"

namespace zv::platform {
namespace {

constexpr mode_t kFolderMode = 0700;

std::string Joined(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string ModeText(mode_t mode) {
  std::string text = "0";
  for (int shift = 6; shift >= 0; shift -= 3)
    text += static_cast<char>('0' + ((mode >> shift) & 7));
  return text;
}

[[noreturn]] void Refuse(int error, const std::string& folder, const std::string& why) {
  throw SocketError(error, "The folder \"" + folder + "\" for the owner's socket " + why +
                               "; remove it or make it a private folder of this user");
}

bool IsOwnFolder(const std::string& path, uid_t user) {
  struct stat info {};
  return !path.empty() && path.front() == '/' && ::lstat(path.c_str(), &info) == 0 &&
         S_ISDIR(info.st_mode) && info.st_uid == user;
}

// The user's login name, or the number when the password database has none.
std::string UserName(uid_t user) {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  while (::getpwuid_r(user, &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
         buffer.size() < (1u << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (found && found->pw_name && *found->pw_name) return found->pw_name;
  return std::to_string(user);
}

// A JSON string literal of `text`; the owner's wire codec lives in a layer
// above, and a user name needs no more than this.
std::string JsonString(const std::string& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20) {
      quoted += "\\u00";
      quoted += kHex[byte >> 4];
      quoted += kHex[byte & 15];
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

}  // namespace

std::string PrepareOwnerSocketFolder(const std::string& runtimeFolder,
                                     const std::string& fallbackBase, uid_t user) {
  const std::string folder = IsOwnFolder(runtimeFolder, user)
                                 ? Joined(runtimeFolder, "zvcc")
                                 : Joined(fallbackBase, "zvcc-" + std::to_string(user));
  if (::mkdir(folder.c_str(), kFolderMode) == 0) {
    // The umask may have taken more than the group's and others' bits.
    if (::chmod(folder.c_str(), kFolderMode) != 0) {
      const int error = errno;
      Refuse(error, folder, "cannot be made private: " + std::string(SocketError(error).what()));
    }
  } else if (errno != EEXIST) {
    const int error = errno;
    Refuse(error, folder, "cannot be created: " + std::string(SocketError(error).what()));
  }
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) {
    const int error = errno;
    Refuse(error, folder, "cannot be read: " + std::string(SocketError(error).what()));
  }
  if (S_ISLNK(info.st_mode)) Refuse(ELOOP, folder, "is a symbolic link");
  if (!S_ISDIR(info.st_mode)) Refuse(ENOTDIR, folder, "is not a folder");
  if (info.st_uid != user) {
    Refuse(EPERM, folder,
           "belongs to user " + UserName(info.st_uid) + ", not to " + UserName(user));
  }
  const mode_t mode = info.st_mode & 07777;
  if (mode != kFolderMode) Refuse(EPERM, folder, "has mode " + ModeText(mode) + ", not 0700");
  return folder;
}

OwnerSite ThisUsersOwnerSite() {
  const uid_t user = ::geteuid();
  return {PrepareOwnerSocketFolder(EnvironmentValue("XDG_RUNTIME_DIR"), "/tmp", user), user};
}

uint64_t Fnv1a64(std::string_view bytes) {
  constexpr uint64_t kOffsetBasis = 14695981039346656037ull;
  constexpr uint64_t kPrime = 1099511628211ull;
  uint64_t hash = kOffsetBasis;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= kPrime;
  }
  return hash;
}

std::string CanonicalHome(const std::string& home) {
  std::error_code error;
  std::filesystem::path resolved = std::filesystem::canonical(home, error);
  if (error) resolved = std::filesystem::absolute(home, error).lexically_normal();
  std::string text = resolved.string();
  // "/a/b/" and "/a/b" are one home.
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

std::string OwnerSocketName(const std::string& canonicalHome) {
  static constexpr char kHex[] = "0123456789abcdef";
  const uint64_t hash = Fnv1a64(canonicalHome);
  std::string digits(16, '0');
  for (int i = 0; i < 16; ++i) digits[15 - i] = kHex[(hash >> (4 * i)) & 15];
  return "owner-" + digits + ".sock";
}

std::string OwnerSocketPath(const std::string& home, const std::string& socketFolder) {
  return Joined(socketFolder, OwnerSocketName(CanonicalHome(home)));
}

std::string OwnerLockPath(const std::string& home) {
  return Joined(Joined(home, "Settings"), "zvcc-owner.lock");
}

std::string ForeignUserRefusalLine(uid_t servedUser) {
  return "{\"t\":\"refused\",\"reason\":" +
         JsonString("this owner serves only user " + UserName(servedUser)) + "}\n";
}

OwnerEndpoint::OwnerEndpoint(InstanceLock lock, LocalListener listener, uid_t user)
    : FLock(std::move(lock)), FListener(std::move(listener)), FUser(user) {}

std::optional<LocalStream> OwnerEndpoint::Accept() {
  for (;;) {
    std::optional<LocalStream> stream = FListener.Accept();
    if (!stream || stream->PeerUid() == FUser) return stream;
    // One short line into an empty socket buffer never waits; a client that
    // has already gone simply misses it.
    try {
      stream->Write(ForeignUserRefusalLine(FUser));
    } catch (const SocketError&) {
    }
  }
}

std::optional<OwnerEndpoint> TryBecomeOwner(const std::string& home, const OwnerSite& site) {
  const std::string lockPath = OwnerLockPath(home);
  InstanceLock lock;
  errno = 0;
  switch (lock.TryLock(lockPath)) {
    case InstanceLock::Result::kLocked:
      break;
    case InstanceLock::Result::kHeldElsewhere:
      return std::nullopt;
    case InstanceLock::Result::kUnavailable: {
      const int error = errno != 0 ? errno : EIO;
      throw SocketError(error, "Cannot open the owner's lock file \"" + lockPath +
                                   "\": " + SocketError(error).what());
    }
  }
  LocalListener listener = LocalListener::Bind(OwnerSocketPath(home, site.SocketFolder));
  return OwnerEndpoint(std::move(lock), std::move(listener), site.User);
}

std::optional<OwnerEndpoint> TryBecomeOwner(const std::string& home) {
  return TryBecomeOwner(home, ThisUsersOwnerSite());
}

std::optional<LocalStream> ConnectToOwner(const std::string& home, const OwnerSite& site,
                                          std::chrono::milliseconds timeout) {
  const std::string path = OwnerSocketPath(home, site.SocketFolder);
  LocalStream stream;
  try {
    stream = LocalStream::Connect(path, timeout);
  } catch (const SocketError& error) {
    if (error.Errno() == ENOENT || error.Errno() == ECONNREFUSED) return std::nullopt;
    throw;
  }
  const uid_t served = stream.PeerUid();
  if (served != site.User) {
    throw SocketError(EACCES, "The owner's socket \"" + path + "\" is served by user " +
                                  UserName(served) + ", not by " + UserName(site.User));
  }
  return stream;
}

std::optional<LocalStream> ConnectToOwner(const std::string& home,
                                          std::chrono::milliseconds timeout) {
  return ConnectToOwner(home, ThisUsersOwnerSite(), timeout);
}

}  // namespace zv::platform
