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
  if (!FGuard.TryLockFor(kGuardTimeout)) {
    // The room taken is still there: give it back, or the buffer would shrink.
    FCanWrite.Release();
    return false;
  }
  // Checked again under the guard: a shutdown that has already cleared the
  // queue must not find an entry in it afterwards.
  if (FDestroyed) {
    FGuard.Unlock();
    return false;
  }
  try {
    FQueue.Enqueue(std::move(msg));
  } catch (...) {
    FGuard.Unlock();
    FCanWrite.Release();
    throw;
  }
  FGuard.Unlock();
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
  if (!FGuard.TryLockFor(kGuardTimeout)) {
    // The entry is still queued: keep it reachable for the next reader.
    FCanRead.Release();
    return nullptr;
  }
  std::unique_ptr<TZVRemoteMsg> msg = FQueue.Dequeue();
  FGuard.Unlock();
  FCanWrite.Release();
  return msg;
}

int32_t TZVMsgBuffer::Count() {
  if (FDestroyed || !FGuard.TryLockFor(kGuardTimeout)) return -1;
  const int32_t count = FQueue.Count();
  FGuard.Unlock();
  return count;
}

void TZVMsgBuffer::Shutdown() {
  if (FDestroyed.exchange(true)) return;
  if (FGuard.TryLockFor(kGuardTimeout)) {
    FQueue.Clear();
    FGuard.Unlock();
  }
  // Without the guard the entries stay queued and are freed with the buffer.
  FCanWrite.Release(kWakeEveryone);
  FCanRead.Release(kWakeEveryone);
}

}  // namespace zv
