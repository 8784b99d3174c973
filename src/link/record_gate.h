// TRecordGate: bounds the records a link's reader thread has handed to the
// main thread and the main thread has not yet acted on. The reader takes a
// place for each record before it posts it; the main thread gives the place
// back once it has acted. A reader that finds no place stops reading its
// socket, so the server is held back by the connection's own flow control
// and memory stays bounded however fast the server writes.
//
// TryTake on the reader thread, Give on the main thread; Fd for the reader's
// poll. Taking and giving cost no system call while places are free.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/semaphore.h"

namespace zv {

class TRecordGate {
 public:
  explicit TRecordGate(int32_t places) : FPlaces(places) {}

  // Takes a place when one is free. When none is, the next Give makes Fd()
  // readable, so the caller can wait for it in its poll.
  bool TryTake();
  // Gives a taken place back.
  void Give();
  // Readable once a place has been given back after a failed TryTake.
  int Fd() const { return FWake.Fd(); }
  int32_t Taken() const { return FTaken.load(); }

 private:
  bool Take();

  const int32_t FPlaces;
  std::atomic<int32_t> FTaken{0};
  std::atomic<bool> FWaiting{false};
  platform::Semaphore FWake{0};
};

}  // namespace zv
