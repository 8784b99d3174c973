// TZVMsgBuffer: the bounded first-in-first-out buffer that carries requests
// from the threads that make them to the thread that writes them to the
// server. Every wait has a time limit, and the buffer can be shut down while
// other threads wait on it: they return at once, empty-handed.
//
// Safe from any thread. The two counting semaphores are waited on before the
// guard is taken, never while holding it, and the guard is held only for the
// queue operation itself, so producers and consumers never block each other
// through it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "link/sll_queue.h"
#include "platform/semaphore.h"
#include "platform/thread_annotations.h"
#include "platform/timed_mutex.h"
#include "protocol/remote_msg.h"

namespace zv {

class TZVMsgBuffer {
 public:
  // Holds at most maxBufferCount - 1 entries (1000 when 0 or negative, so 999
  // at a time); each wait for room or for an entry lasts at most
  // semaphoreTimeout ms (2000 when 0).
  TZVMsgBuffer(int32_t maxBufferCount, std::string bufferName, uint32_t semaphoreTimeout);
  // Shuts down; entries still queued are freed, not delivered. Every thread
  // that can use the buffer has finished with it before it is destroyed.
  ~TZVMsgBuffer();
  TZVMsgBuffer(const TZVMsgBuffer&) = delete;
  TZVMsgBuffer& operator=(const TZVMsgBuffer&) = delete;

  // Appends `msg`, waiting for room at most the buffer's time-out. True when
  // added: the buffer then owns the request and `msg` is empty. On false
  // (full for the whole time-out, shut down, or `msg` empty) `msg` still holds
  // the request, so the caller can say which one was not sent.
  bool Enqueue(std::unique_ptr<TZVRemoteMsg>& msg);

  // Takes the first entry, waiting for one at most the buffer's time-out. Null
  // when none came in time or the buffer is shut down.
  std::unique_ptr<TZVRemoteMsg> Dequeue();
  // Takes the first entry only when one may be taken at once: for a thread
  // that has already seen ReadableFd() readable.
  std::unique_ptr<TZVRemoteMsg> TryDequeue();

  // The number of queued entries; -1 when shut down or when the guard could
  // not be taken in time.
  int32_t Count();
  const std::string& QueueName() const { return FName; }

  // Readable while an entry may be taken, so a writer thread can wait for
  // "socket readable or request queued" in one poll. After Shutdown it stays
  // readable, so that such a thread wakes up and finds out (IsShutDown).
  int ReadableFd() const { return FCanRead.Fd(); }

  // Marks the buffer shut down, frees the queued entries and wakes every
  // thread waiting in Enqueue or Dequeue (all of them, not only one of each),
  // which then fail. Every later call fails at once. Idempotent.
  void Shutdown();
  bool IsShutDown() const { return FDestroyed.load(); }

 private:
  // Takes the first entry once FCanRead has given a count.
  std::unique_ptr<TZVRemoteMsg> TakeFirst();

  const uint32_t FSize;
  const std::chrono::milliseconds FTimeout;
  const std::string FName;
  platform::TimedMutex FGuard;
  TSLLQueue<TZVRemoteMsg> FQueue GUARDED_BY(FGuard);
  platform::Semaphore FCanRead;   // entries that may be taken
  platform::Semaphore FCanWrite;  // entries that may still be added
  std::atomic<bool> FDestroyed{false};
};

}  // namespace zv
