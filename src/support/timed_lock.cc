#include "support/timed_lock.h"

namespace zv {

bool TTimedLock::try_lock_for(std::chrono::milliseconds timeout) {
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock guard(FMutex);
  if (FOwner != self && !FReleased.wait_for(guard, timeout, [this] { return FDepth == 0; })) {
    return false;
  }
  FOwner = self;
  ++FDepth;
  return true;
}

void TTimedLock::unlock() {
  {
    std::lock_guard guard(FMutex);
    if (--FDepth > 0) return;
    FOwner = std::thread::id();
  }
  FReleased.notify_one();
}

}  // namespace zv
