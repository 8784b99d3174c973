// TimedMutex: a mutex whose every acquisition has a deadline, annotated for
// clang's thread-safety analysis. Not recursive. Built on std::mutex and a
// condition variable rather than std::timed_mutex, whose clock-based lock call
// the thread sanitizer does not follow.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/thread_annotations.h"

namespace zv::platform {

class CAPABILITY("mutex") TimedMutex {
 public:
  TimedMutex() = default;
  TimedMutex(const TimedMutex&) = delete;
  TimedMutex& operator=(const TimedMutex&) = delete;

  // True when the mutex was taken within `timeout`.
  bool TryLockFor(std::chrono::milliseconds timeout) TRY_ACQUIRE(true) {
    std::unique_lock lock(FMutex);
    if (!FReleased.wait_for(lock, timeout, [this] { return !FHeld; })) return false;
    FHeld = true;
    return true;
  }

  // Only the thread that took the mutex releases it.
  void Unlock() RELEASE() {
    {
      std::lock_guard lock(FMutex);
      FHeld = false;
    }
    FReleased.notify_one();
  }

 private:
  std::mutex FMutex;
  std::condition_variable FReleased;
  bool FHeld = false;  // guarded by FMutex
};

// Holds a TimedMutex for its scope when it could be taken within the time-out:
// the owner tests Held() before it touches what the mutex guards (the
// analysis takes the mutex as held from the constructor on).
class SCOPED_CAPABILITY TimedMutexLock {
 public:
  TimedMutexLock(TimedMutex& mutex, std::chrono::milliseconds timeout)
      ACQUIRE(mutex) NO_THREAD_SAFETY_ANALYSIS : FMutex(mutex),
                                                 FHeld(mutex.TryLockFor(timeout)) {}
  ~TimedMutexLock() RELEASE() NO_THREAD_SAFETY_ANALYSIS {
    if (FHeld) FMutex.Unlock();
  }
  TimedMutexLock(const TimedMutexLock&) = delete;
  TimedMutexLock& operator=(const TimedMutexLock&) = delete;

  bool Held() const { return FHeld; }

 private:
  TimedMutex& FMutex;
  const bool FHeld;
};

}  // namespace zv::platform
