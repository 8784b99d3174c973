#include "platform/terminal_base.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <utility>

namespace zv::platform {
namespace {

constexpr std::size_t kFlushThreshold = 64 * 1024;
// How long a full output (a stalled pipe reader) may hold up the program
// before the rest of the output is dropped.
constexpr int kOutputStallMs = 5000;

}  // namespace

TerminalBase::TerminalBase(int inFd, int outFd, Size screen, std::size_t maxLineBytes)
    : FInFd(inFd), FOutFd(outFd), FMaxLineBytes(maxLineBytes), FTracker(screen) {}

TerminalBase::~TerminalBase() { FlushNow(); }

void TerminalBase::Write(std::string_view text) {
  std::string converted;
  converted.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    converted.push_back(text[i]);
  }
  Emit(converted);
}

void TerminalBase::Put(std::string_view bytes) {
  FOut.append(bytes);
  if (FOut.size() >= kFlushThreshold) FlushNow();
}

void TerminalBase::Emit(std::string_view text) {
  FTracker.Advance(text);
  Put(text);
}

void TerminalBase::FinishLine() {
  if (!FTracker.AtLineStart()) Emit("\n");
  FlushNow();
}

void TerminalBase::FlushNow() {
  // What cannot be written is dropped; the first failure is kept for
  // OutputError. A write waits for room together with the signals, so that a
  // stalled reader never holds off a terminating signal; at most PIPE_BUF
  // bytes go at once, which a pipe with room takes without blocking.
  std::size_t done = 0;
  while (done < FOut.size() && !FOutputAbandoned) {
    pollfd fds[2] = {{FOutFd, POLLOUT, 0}, {FSignals.Fd(), POLLIN, 0}};
    const int ready = poll(fds, 2, kOutputStallMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      NoteOutputFailure(ready == 0 ? "the output took nothing for 5 s" : std::strerror(errno));
      break;
    }
    if ((fds[0].revents & POLLOUT) == 0) {
      if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        NoteOutputFailure((fds[0].revents & POLLNVAL) != 0 ? std::strerror(EBADF)
                                                           : "the output was closed");
        break;
      }
      CollectSignals();
      if (FTerminating != 0) FOutputAbandoned = true;
      continue;
    }
    const std::size_t chunk = std::min<std::size_t>(FOut.size() - done, PIPE_BUF);
    const ssize_t wrote = write(FOutFd, FOut.data() + done, chunk);
    if (wrote > 0) {
      done += static_cast<std::size_t>(wrote);
    } else if (wrote == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
      NoteOutputFailure(wrote == 0 ? "nothing could be written" : std::strerror(errno));
      break;
    }
  }
  FOut.clear();
}

void TerminalBase::NoteOutputFailure(const std::string& why) {
  if (!FOutputError) FOutputError = why;
}

int TerminalBase::MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

void TerminalBase::CollectSignals() {
  while (const auto signo = FSignals.Take()) {
    switch (*signo) {
      case SIGINT:
      case SIGTERM:
      case SIGHUP:
        if (FTerminating == 0) FTerminating = *signo;
        break;
      case SIGTSTP:
        FStopWanted = true;
        break;
      case SIGWINCH:
        FResizeWanted = true;
        break;
      case SIGQUIT:
        if (QuitEnds() && FTerminating == 0) FTerminating = *signo;
        break;
      default:
        break;
    }
  }
}

void TerminalBase::TakeSignals() {
  CollectSignals();
  if (FTerminating != 0) {
    const int signo = std::exchange(FTerminating, 0);  // each signal ends one wait
    LeaveForExit();
    throw InputEnded{signo};
  }
  if (FStopWanted) {
    FStopWanted = false;
    Suspend();
  }
  if (FResizeWanted) {
    FResizeWanted = false;
    Resized();
  }
}

std::string TerminalBase::RefusalText() const {
  return std::string(kLineRefused) + std::to_string(FMaxLineBytes) + " bytes";
}

void TerminalBase::Suspend() {
  FlushNow();
  TerminalSignals::StopProcess();
}

WaitResult TerminalBase::WaitEvents(std::chrono::milliseconds bound, int wakeFd) {
  FlushNow();
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (;;) {
    TakeSignals();
    pollfd fds[2] = {{FSignals.Fd(), POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const int ready = poll(fds, wakeFd >= 0 ? 2 : 1, MillisecondsLeft(deadline));
    if (ready < 0 && errno != EINTR) return WaitResult::kTimeout;
    if (ready > 0) {
      if (fds[0].revents != 0) TakeSignals();
      if (fds[1].revents != 0) return WaitResult::kWake;
    }
    if (std::chrono::steady_clock::now() >= deadline) return WaitResult::kTimeout;
  }
}

}  // namespace zv::platform
