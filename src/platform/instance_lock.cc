#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace zv::platform {
namespace {

UniqueFd OpenLockFile(const std::string& path) {
  constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK;
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | kFlags, 0666));
  // A lock file another user created may be readable only; that is enough.
  if (!fd) fd.Reset(::open(path.c_str(), O_RDONLY | kFlags));
  return fd;
}

// One attempt without waiting; EWOULDBLOCK while another process holds it.
int TryFlock(int fd) {
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

}  // namespace

InstanceLock::Result InstanceLock::TryLock(const std::string& path) {
  return LockWithin(path, std::chrono::milliseconds(0));
}

InstanceLock::Result InstanceLock::LockWithin(const std::string& path,
                                              std::chrono::milliseconds timeout) {
  UniqueFd fd = OpenLockFile(path);
  if (!fd) return Result::kUnavailable;
  // flock has no timed form: the holder keeps it for a file write or two, so
  // short, growing pauses until the deadline cost little.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::chrono::microseconds pause(50);
  while (true) {
    const int error = TryFlock(fd.Get());
    if (error == 0) break;
    if (error != EWOULDBLOCK) return Result::kUnavailable;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return Result::kHeldElsewhere;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::microseconds(5000));
  }
  FFd = std::move(fd);
  return Result::kLocked;
}

}  // namespace zv::platform
