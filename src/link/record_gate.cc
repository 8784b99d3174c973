#include "link/record_gate.h"

namespace zv {

bool TRecordGate::Take() {
  int32_t taken = FTaken.load();
  while (taken < FPlaces) {
    if (FTaken.compare_exchange_weak(taken, taken + 1)) return true;
  }
  return false;
}

bool TRecordGate::TryTake() {
  if (Take()) return true;
  // Wakes left by earlier waits go first, so that Fd() is readable only for a
  // Give that comes after this look; then the wait is announced and the
  // places looked at once more, as a Give before the announcement wakes nobody.
  while (FWake.TryAcquire()) {
  }
  FWaiting = true;
  return Take();
}

void TRecordGate::Give() {
  FTaken.fetch_sub(1);
  if (FWaiting.exchange(false)) FWake.Release();
}

}  // namespace zv
