// A lock whose every acquisition has a deadline: it offers no lock() that
// could wait forever. Like a critical section it may be taken again by the
// thread that holds it; every successful take needs its own unlock(). The
// lower-case names follow the standard TimedLockable protocol, so
// std::unique_lock can hold it (with std::defer_lock).
//
// Built on std::mutex and std::condition_variable rather than
// std::timed_mutex: the thread sanitizer follows condition variables
// reliably, while the timed mutex's clock-based lock call escapes it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace zv {

class TTimedLock {
 public:
  TTimedLock() = default;
  TTimedLock(const TTimedLock&) = delete;
  TTimedLock& operator=(const TTimedLock&) = delete;

  bool try_lock() { return try_lock_for(std::chrono::milliseconds(0)); }
  bool try_lock_for(std::chrono::milliseconds timeout);
  // Only the thread that holds the lock may release it.
  void unlock();

 private:
  std::mutex FMutex;
  std::condition_variable FReleased;
  std::thread::id FOwner;  // guarded by FMutex; empty while free
  int FDepth = 0;          // guarded by FMutex
};

}  // namespace zv
