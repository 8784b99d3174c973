#include "platform/terminal_base.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace zv::platform {
namespace {

constexpr std::size_t kFlushThreshold = 64 * 1024;
// How long a full output (a stalled pipe reader) may hold up the program
// before the rest of the output is dropped.
constexpr int kOutputStallMs = 5000;

}  // namespace

TerminalBase::TerminalBase(int inFd, int outFd, Size screen)
    : FInFd(inFd), FOutFd(outFd), FTracker(screen) {}

TerminalBase::~TerminalBase() { Flush(); }

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
  if (FOut.size() >= kFlushThreshold) Flush();
}

void TerminalBase::Emit(std::string_view text) {
  FTracker.Advance(text);
  Put(text);
}

void TerminalBase::FinishLine() {
  if (!FTracker.AtLineStart()) Emit("\n");
  Flush();
}

void TerminalBase::Flush() {
  // Console output failures are not reported: what cannot be written is dropped.
  std::size_t done = 0;
  while (done < FOut.size()) {
    const ssize_t wrote = write(FOutFd, FOut.data() + done, FOut.size() - done);
    if (wrote > 0) {
      done += static_cast<std::size_t>(wrote);
      continue;
    }
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd out{FOutFd, POLLOUT, 0};
      if (poll(&out, 1, kOutputStallMs) > 0) continue;
    }
    break;
  }
  FOut.clear();
}

int TerminalBase::MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

void TerminalBase::TakeSignals() {
  while (const auto signo = FSignals.Take()) {
    switch (*signo) {
      case SIGINT:
      case SIGTERM:
      case SIGHUP:
        LeaveForExit();
        throw InputEnded{*signo};
      case SIGTSTP:
        Suspend();
        break;
      case SIGWINCH:
        Resized();
        break;
      default:  // QUIT is ignored: the program ends only through its exit path
        break;
    }
  }
}

void TerminalBase::Suspend() {
  Flush();
  TerminalSignals::StopProcess();
}

WaitResult TerminalBase::WaitEvents(std::chrono::milliseconds bound, int wakeFd) {
  Flush();
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (;;) {
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
