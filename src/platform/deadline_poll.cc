#include "platform/deadline_poll.h"

#include <algorithm>
#include <cerrno>
#include <climits>

namespace zv::platform {

Deadline DeadlineAfter(std::chrono::milliseconds timeout) {
  // Bounded so that an "endless" time-out cannot overflow the clock's range.
  constexpr std::chrono::milliseconds kLongest = std::chrono::hours(24 * 365);
  return std::chrono::steady_clock::now() +
         std::clamp(timeout, std::chrono::milliseconds(0), kLongest);
}

int PollUntil(pollfd* fds, std::size_t count, Deadline deadline) {
  for (;;) {
    const auto left = deadline - std::chrono::steady_clock::now();
    // Rounded up, so a wait never ends a fraction of a millisecond early and
    // then returns a time-out for a deadline that has not passed.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    const int pollMs = ms <= 0 ? 0 : ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
    const int ready = ::poll(fds, static_cast<nfds_t>(count), pollMs);
    if (ready >= 0) {
      if (ready > 0 || pollMs == 0 || std::chrono::steady_clock::now() >= deadline) return ready;
      continue;  // woke early without an event (INT_MAX cap): wait for the rest
    }
    if (errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() >= deadline) return 0;
  }
}

}  // namespace zv::platform
