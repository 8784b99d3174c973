// Clang's thread-safety analysis attributes (-Wthread-safety), empty for other
// compilers, and a mutex and lock guard that carry them, so that the state a
// mutex protects is stated in the code and checked by the compiler.
#pragma once

#include <mutex>

#if defined(__clang__)
#define ZV_THREAD_ATTR(x) __attribute__((x))
#else
#define ZV_THREAD_ATTR(x)
#endif

#define CAPABILITY(x) ZV_THREAD_ATTR(capability(x))
#define SCOPED_CAPABILITY ZV_THREAD_ATTR(scoped_lockable)
#define GUARDED_BY(x) ZV_THREAD_ATTR(guarded_by(x))
#define PT_GUARDED_BY(x) ZV_THREAD_ATTR(pt_guarded_by(x))
#define REQUIRES(...) ZV_THREAD_ATTR(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) ZV_THREAD_ATTR(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) ZV_THREAD_ATTR(acquire_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) ZV_THREAD_ATTR(try_acquire_capability(__VA_ARGS__))
#define RELEASE(...) ZV_THREAD_ATTR(release_capability(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS ZV_THREAD_ATTR(no_thread_safety_analysis)

namespace zv::platform {

// std::mutex with the capability attribute.
class CAPABILITY("mutex") Mutex {
 public:
  void Lock() ACQUIRE() { FMutex.lock(); }
  void Unlock() RELEASE() { FMutex.unlock(); }
  bool TryLock() TRY_ACQUIRE(true) { return FMutex.try_lock(); }
  // For std::condition_variable_any and std::unique_lock.
  void lock() ACQUIRE() { FMutex.lock(); }
  void unlock() RELEASE() { FMutex.unlock(); }
  bool try_lock() TRY_ACQUIRE(true) { return FMutex.try_lock(); }

 private:
  std::mutex FMutex;
};

// Holds a Mutex for its scope.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : FMutex(mutex) { FMutex.Lock(); }
  ~MutexLock() RELEASE() { FMutex.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& FMutex;
};

}  // namespace zv::platform
