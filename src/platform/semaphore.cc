#include "platform/semaphore.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/deadline_poll.h"

namespace zv::platform {

namespace {

[[noreturn]] void ThrowErrno(const char* what) {
  throw std::system_error(errno, std::system_category(), what);
}

}  // namespace

// EFD_SEMAPHORE makes every read take exactly one count, and EFD_NONBLOCK lets
// a read that lost the race to another waiter fail instead of blocking.
Semaphore::Semaphore(uint32_t initial)
    : FFd(::eventfd(initial, EFD_SEMAPHORE | EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (!FFd) ThrowErrno("eventfd");
}

bool Semaphore::TryAcquire() {
  uint64_t taken = 0;
  for (;;) {
    if (::read(FFd.Get(), &taken, sizeof taken) == static_cast<ssize_t>(sizeof taken)) return true;
    if (errno == EAGAIN) return false;
    if (errno != EINTR) ThrowErrno("semaphore read");
  }
}

bool Semaphore::Acquire(std::chrono::milliseconds timeout) {
  const Deadline deadline = DeadlineAfter(timeout);
  for (;;) {
    if (TryAcquire()) return true;
    pollfd wait{FFd.Get(), POLLIN, 0};
    const int ready = PollUntil(&wait, 1, deadline);
    if (ready < 0) ThrowErrno("semaphore poll");
    // Readable but taken by another waiter meanwhile: try again while time is
    // left. After the deadline one last try decides.
    if (ready == 0) return TryAcquire();
  }
}

void Semaphore::Release(uint32_t n) {
  if (n == 0) return;
  const uint64_t add = n;
  for (;;) {
    if (::write(FFd.Get(), &add, sizeof add) == static_cast<ssize_t>(sizeof add)) return;
    if (errno != EINTR) ThrowErrno("semaphore write");
  }
}

}  // namespace zv::platform
