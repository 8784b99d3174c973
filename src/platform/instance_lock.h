// Exclusive locks on lock files, let go by the system when the process ends in
// any way: one process per settings folder (held while the object lives), and
// the short lock under which processes sharing a folder change a shared file.
#pragma once

#include <chrono>
#include <string>

#include "platform/unique_fd.h"

namespace zv::platform {

class InstanceLock {
 public:
  enum class Result {
    kLocked,         // this process holds the lock now
    kHeldElsewhere,  // another process holds it (TryLock), or held it past the wait (LockWithin)
    kUnavailable,    // the lock file cannot be opened (no folder, no permission)
  };

  // Takes the lock on the file at `path` (created when missing) without waiting.
  Result TryLock(const std::string& path);
  // The same, waiting at most `timeout` for another holder to let go.
  Result LockWithin(const std::string& path, std::chrono::milliseconds timeout);
  // Lets go of the lock, if held.
  void Unlock() { FFd.Reset(); }

 private:
  UniqueFd FFd;
};

}  // namespace zv::platform
