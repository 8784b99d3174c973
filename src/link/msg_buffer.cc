#include "link/msg_buffer.h"

#include <utility>

namespace zv {

namespace {

constexpr uint32_t kDefaultSize = 1000;
constexpr uint32_t kDefaultTimeoutMs = 2000;
constexpr std::chrono::milliseconds kGuardTimeout(1000);
// Given to both semaphores by Shutdown: far more counts than there can be
// waiters, so every waiter wakes and every later wait ends at once.
constexpr uint32_t kWakeEveryone = 1u << 30;

}  // namespace

TZVMsgBuffer::TZVMsgBuffer(int32_t maxBufferCount, std::string bufferName,
                           uint32_t semaphoreTimeout)
    : FSize(maxBufferCount > 0 ? static_cast<uint32_t>(maxBufferCount) : kDefaultSize),
      FTimeout(semaphoreTimeout != 0 ? semaphoreTimeout : kDefaultTimeoutMs),
      FName(std::move(bufferName)),
      FQueue(FName),
      FCanRead(0),
      // One short of the size: the buffer holds at most FSize - 1 entries.
      FCanWrite(FSize - 1) {}

TZVMsgBuffer::~TZVMsgBuffer() { Shutdown(); }

bool TZVMsgBuffer::Enqueue(std::unique_ptr<TZVRemoteMsg>& msg) {
  if (!msg || FDestroyed) return false;
  if (!FCanWrite.Acquire(FTimeout)) return false;
  if (FDestroyed) return false;
  {
    platform::TimedMutexLock guard(FGuard, kGuardTimeout);
    // Checked again under the guard: a shutdown that has already cleared the
    // queue must not find an entry in it afterwards.
    if (!guard.Held() || FDestroyed) {
      // The room taken is still there: give it back, or the buffer would shrink.
      FCanWrite.Release();
      return false;
    }
    try {
      FQueue.Enqueue(std::move(msg));
    } catch (...) {
      FCanWrite.Release();
      throw;
    }
  }
  FCanRead.Release();
  return true;
}

std::unique_ptr<TZVRemoteMsg> TZVMsgBuffer::Dequeue() {
  if (FDestroyed || !FCanRead.Acquire(FTimeout)) return nullptr;
  return TakeFirst();
}

std::unique_ptr<TZVRemoteMsg> TZVMsgBuffer::TryDequeue() {
  if (FDestroyed || !FCanRead.TryAcquire()) return nullptr;
  return TakeFirst();
}

std::unique_ptr<TZVRemoteMsg> TZVMsgBuffer::TakeFirst() {
  if (FDestroyed) return nullptr;
  std::unique_ptr<TZVRemoteMsg> msg;
  {
    platform::TimedMutexLock guard(FGuard, kGuardTimeout);
    if (!guard.Held()) {
      // The entry is still queued: keep it reachable for the next reader.
      FCanRead.Release();
      return nullptr;
    }
    msg = FQueue.Dequeue();
  }
  FCanWrite.Release();
  return msg;
}

int32_t TZVMsgBuffer::Count() {
  if (FDestroyed) return -1;
  platform::TimedMutexLock guard(FGuard, kGuardTimeout);
  return guard.Held() ? FQueue.Count() : -1;
}

void TZVMsgBuffer::Shutdown() {
  if (FDestroyed.exchange(true)) return;
  {
    platform::TimedMutexLock guard(FGuard, kGuardTimeout);
    // Without the guard the entries stay queued and are freed with the buffer.
    if (guard.Held()) FQueue.Clear();
  }
  FCanWrite.Release(kWakeEveryone);
  FCanRead.Release(kWakeEveryone);
}

}  // namespace zv
