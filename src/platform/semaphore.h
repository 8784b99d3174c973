// Semaphore: a counting semaphore whose count can be waited on with poll(2)
// beside other descriptors: Fd() is readable while the count is above 0. It
// has no maximum of its own; the protocol of its users keeps the count in
// range. Safe from any thread.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/unique_fd.h"

namespace zv::platform {

class Semaphore {
 public:
  // Throws std::system_error when the system has no descriptor to spare.
  explicit Semaphore(uint32_t initial);

  // Takes one count, waiting at most `timeout` for one to become available.
  // False when none could be taken in time (a time-out of 0 does not wait).
  bool Acquire(std::chrono::milliseconds timeout);
  // Takes one count when one is available at once.
  bool TryAcquire();
  // Adds `n` counts; as many waiters as there are counts wake up.
  void Release(uint32_t n = 1);

  // Readable while the count is above 0. A reader of this descriptor that sees
  // it readable must still TryAcquire: another waiter may take the count first.
  int Fd() const { return FFd.Get(); }

 private:
  UniqueFd FFd;
};

}  // namespace zv::platform
