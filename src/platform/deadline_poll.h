// poll(2) against a deadline instead of a relative time-out: a wait that a
// signal interrupts goes on for the time that is left, so no caller loops on
// EINTR or lets its wait grow.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstddef>

namespace zv::platform {

using Deadline = std::chrono::steady_clock::time_point;

// The deadline `timeout` from now (a negative time-out counts as 0, and one
// beyond a year as a year).
Deadline DeadlineAfter(std::chrono::milliseconds timeout);

// Polls `fds` until one of them reports an event or `deadline` passes. Returns
// the number of entries with events (0 on time-out), or -1 with errno set when
// poll itself fails. Entries with a negative fd are ignored, as poll does.
int PollUntil(pollfd* fds, std::size_t count, Deadline deadline);

}  // namespace zv::platform
