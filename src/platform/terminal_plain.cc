// Plain mode: standard input is a pipe or a file. Input is read with read()
// into this terminal's own buffer, so poll tells the truth about what waits (a
// stdio buffer would hide it). A complete line counts as a key press.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/terminal_base.h"

namespace zv::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadChunk = 4096;

class PlainTerminal final : public TerminalBase {
 public:
  PlainTerminal(int inFd, int outFd) : TerminalBase(inFd, outFd, Size{}) {}

  bool IsInteractive() const override { return false; }

  void ClearScreen() override {
    if (!FTracker.AtLineStart()) Emit("\n");
    FTracker.Clear();
  }

  void GotoXY(int x, int y) override { Put(FTracker.PlainMove(x, y)); }

  bool KeyPressed() override {
    while (!LineWaiting()) {
      pollfd in{FInFd, POLLIN, 0};
      if (poll(&in, 1, 0) <= 0) break;
      ReadAvailable();
    }
    return LineWaiting();
  }

  WaitResult Wait(std::chrono::milliseconds bound, int wakeFd) override {
    Flush();
    const auto deadline = Clock::now() + bound;
    for (;;) {
      if (LineWaiting()) return WaitResult::kKey;
      pollfd fds[3] = {{FInFd, POLLIN, 0}, {FSignals.Fd(), POLLIN, 0}, {wakeFd, POLLIN, 0}};
      const int ready = poll(fds, wakeFd >= 0 ? 3 : 2, MillisecondsLeft(deadline));
      if (ready < 0 && errno != EINTR) return WaitResult::kTimeout;
      if (ready > 0) {
        if (fds[1].revents != 0) TakeSignals();
        if (fds[0].revents != 0) ReadAvailable();
        if (LineWaiting()) return WaitResult::kKey;
        if (fds[2].revents != 0) return WaitResult::kWake;
      }
      if (Clock::now() >= deadline) return WaitResult::kTimeout;
    }
  }

  std::string ReadLine(bool /*history: plain input has none*/) override {
    Flush();
    while (!LineWaiting()) {
      // A line read waits as long as the input stays open: it ends with the
      // line, the end of input or a signal.
      pollfd fds[2] = {{FInFd, POLLIN, 0}, {FSignals.Fd(), POLLIN, 0}};
      const int ready = poll(fds, 2, -1);
      if (ready < 0 && errno != EINTR) FEnded = true;
      if (ready > 0) {
        if (fds[1].revents != 0) TakeSignals();
        if (fds[0].revents != 0) ReadAvailable();
      }
    }
    const auto end = FIn.find('\n');
    if (end == std::string::npos && FIn.empty()) {
      FinishLine();
      throw InputEnded{0};
    }
    std::string line = FIn.substr(0, end);
    FIn.erase(0, end == std::string::npos ? std::string::npos : end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Echo as a terminal shows what was typed after its prompt.
    Emit(line);
    Emit("\n");
    Flush();
    return line;
  }

  void BeginEventOutput() override {}
  void EndEventOutput() override {}

 private:
  bool LineWaiting() const { return FEnded || FIn.find('\n') != std::string::npos; }

  // One read of what is waiting; the caller knows something is.
  void ReadAvailable() {
    char chunk[kReadChunk];
    const ssize_t got = read(FInFd, chunk, sizeof chunk);
    if (got > 0) {
      FIn.append(chunk, static_cast<std::size_t>(got));
    } else if (got == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
      FEnded = true;
    }
  }

  std::string FIn;      // read but not yet taken as a line
  bool FEnded = false;  // the input reported its end (or failed)
};

}  // namespace

std::unique_ptr<Terminal> CreatePlainTerminal(int inFd, int outFd) {
  return std::make_unique<PlainTerminal>(inFd, outFd);
}

}  // namespace zv::platform
