#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

namespace zv::platform {

InstanceLock::Result InstanceLock::TryLock(const std::string& path) {
  constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK;
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | kFlags, 0666));
  // A lock file another user created may be readable only; that is enough.
  if (!fd) fd.Reset(::open(path.c_str(), O_RDONLY | kFlags));
  if (!fd) return Result::kUnavailable;
  while (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    return errno == EWOULDBLOCK ? Result::kHeldElsewhere : Result::kUnavailable;
  }
  FFd = std::move(fd);
  return Result::kLocked;
}

}  // namespace zv::platform
