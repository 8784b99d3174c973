// One process per settings folder: an exclusive lock on a lock file in it,
// held while the object lives and let go by the system when the process ends
// in any way.
#pragma once

#include <string>

#include "platform/unique_fd.h"

namespace zv::platform {

class InstanceLock {
 public:
  enum class Result {
    kLocked,         // this process holds the lock now
    kHeldElsewhere,  // another process holds it
    kUnavailable,    // the lock file cannot be opened (no folder, no permission)
  };

  // Takes the lock on the file at `path` (created when missing) without waiting.
  Result TryLock(const std::string& path);

 private:
  UniqueFd FFd;
};

}  // namespace zv::platform
