// Plain mode: standard input is a pipe or a file. Input is read with read()
// into this terminal's own buffer, so poll tells the truth about what waits (a
// stdio buffer would hide it). A complete line counts as a key press.
//
// The buffer never holds more than one line's limit and one read: each read's
// bytes are searched once for the line end, and a line that grows past the
// limit is dropped as it arrives, up to its end.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/direction_controls.h"
#include "platform/terminal_base.h"

namespace zv::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadChunk = 64 * 1024;

// The direction control whose UTF-8 form starts at `i`, and its length; 0
// when none starts there. They are all two or three bytes long.
std::pair<char32_t, std::size_t> DirectionControlAt(std::string_view line, std::size_t i) {
  auto byte = [&](std::size_t k) {
    return i + k < line.size() ? static_cast<unsigned char>(line[i + k]) : 0u;
  };
  const unsigned lead = byte(0);
  char32_t c = 0;
  std::size_t length = 0;
  if ((lead & 0xE0) == 0xC0 && (byte(1) & 0xC0) == 0x80) {
    c = (lead & 0x1F) << 6 | (byte(1) & 0x3F);
    length = 2;
  } else if ((lead & 0xF0) == 0xE0 && (byte(1) & 0xC0) == 0x80 && (byte(2) & 0xC0) == 0x80) {
    c = (lead & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
    length = 3;
  }
  return IsDirectionControl(c) ? std::pair{c, length} : std::pair{char32_t{0}, std::size_t{0}};
}

// A line as its echo shows it: control characters (C0, DEL and the two-byte
// C1 sequences) in caret notation and the direction controls as their code,
// so that no input line can move the cursor, drive the terminal that shows
// the output or turn the order of what it shows; everything else as it came.
std::string EchoText(std::string_view line) {
  std::string shown;
  shown.reserve(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    const auto next = i + 1 < line.size() ? static_cast<unsigned char>(line[i + 1]) : 0;
    if (const auto [control, length] = DirectionControlAt(line, i); length > 0) {
      shown += DirectionControlShown(control);
      i += length - 1;
    } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
      shown += "M-^";
      shown += static_cast<char>(next - 0x80 + 0x40);
      ++i;
    } else if (c == 0x7F) {
      shown += "^?";
    } else if (c < 0x20 && c != '\t') {
      shown += '^';
      shown += static_cast<char>(c + 0x40);
    } else {
      shown += static_cast<char>(c);
    }
  }
  return shown;
}

class PlainTerminal final : public TerminalBase {
 public:
  PlainTerminal(int inFd, int outFd, std::size_t maxLineBytes)
      : TerminalBase(inFd, outFd, Size{}, maxLineBytes) {}

  bool IsInteractive() const override { return false; }

  void ClearScreen() override {
    if (!FTracker.AtLineStart()) Emit("\n");
    FTracker.Clear();
  }

  void GotoXY(int x, int y) override { Put(FTracker.PlainMove(x, y)); }

  // While a whole line already waits, the program is about to read it: the
  // output waits too and goes out with what follows, in one write, and the
  // writer of the input has nothing to wait for meanwhile. Every wait writes
  // it first.
  void Flush() override {
    if (FLineEnd == std::string::npos) FlushNow();
  }

  bool KeyPressed() override {
    TakeSignals();
    while (!LineWaiting()) {
      pollfd in{FInFd, POLLIN, 0};
      if (poll(&in, 1, 0) <= 0) break;
      ReadAvailable();
    }
    TellRefusals();
    return LineWaiting();
  }

  WaitResult Wait(std::chrono::milliseconds bound, int wakeFd) override {
    FlushNow();
    const auto deadline = Clock::now() + bound;
    for (;;) {
      TakeSignals();
      if (LineWaiting()) return WaitResult::kKey;
      pollfd fds[3] = {{FInFd, POLLIN, 0}, {FSignals.Fd(), POLLIN, 0}, {wakeFd, POLLIN, 0}};
      const int ready = poll(fds, wakeFd >= 0 ? 3 : 2, MillisecondsLeft(deadline));
      if (ready < 0 && errno != EINTR) return WaitResult::kTimeout;
      if (ready > 0) {
        if (fds[1].revents != 0) TakeSignals();
        if (fds[0].revents != 0) ReadAvailable();
        TellRefusals();
        if (LineWaiting()) return WaitResult::kKey;
        if (fds[2].revents != 0) return WaitResult::kWake;
      }
      if (Clock::now() >= deadline) return WaitResult::kTimeout;
    }
  }

  std::string ReadLine(bool /*history: plain input has none*/) override {
    for (;;) {
      Flush();
      while (!LineWaiting()) {
        // A line read waits as long as the input stays open: it ends with the
        // line, the end of input or a signal.
        FlushNow();
        TakeSignals();
        pollfd fds[2] = {{FInFd, POLLIN, 0}, {FSignals.Fd(), POLLIN, 0}};
        const int ready = poll(fds, 2, -1);
        if (ready < 0 && errno != EINTR) FEnded = true;
        if (ready > 0) {
          if (fds[1].revents != 0) TakeSignals();
          if (fds[0].revents != 0) ReadAvailable();
        }
        TellRefusals();
      }
      TakeSignals();
      TellRefusals();
      if (FLineEnd == std::string::npos && FIn.empty()) {
        FinishLine();
        throw InputEnded{0};
      }
      std::string line = FIn.substr(0, FLineEnd);
      FIn.erase(0, FLineEnd == std::string::npos ? std::string::npos : FLineEnd + 1);
      FScanned = 0;
      FLineEnd = std::string::npos;
      FindLineEnd();
      if (!line.empty() && line.back() == '\r') line.pop_back();
      // Echo as a terminal shows what was typed after its prompt.
      Emit(EchoText(line));
      Emit("\n");
      Flush();
      return line;
    }
  }

  void BeginEventOutput() override {}
  void EndEventOutput() override {}

  std::vector<RefusedLine> TakeRefusedLines() override { return std::exchange(FTold, {}); }

 protected:
  bool QuitEnds() const override { return true; }

 private:
  // A refused line does not count: it is told as soon as it is seen, so that
  // a caller that reads only when a line waits never blocks on one.
  bool LineWaiting() const { return FEnded || FLineEnd != std::string::npos; }

  // Tells each line refused whole so far on a line of its own, as if typed
  // after the prompt, which then stands again.
  void TellRefusals() {
    for (; FRefused > 0; --FRefused) {
      const std::string prompt = FTracker.Line();
      Emit("\n");
      Emit(RefusalText());
      Emit("\n");
      Emit(prompt);
      FTold.push_back({std::move(FHeads.front()), "the line is longer than the limit of " +
                                                      std::to_string(FMaxLineBytes) + " bytes"});
      FHeads.pop_front();
    }
  }

  // One read of what is waiting; the caller knows something is.
  void ReadAvailable() {
    char chunk[kReadChunk];
    const ssize_t got = read(FInFd, chunk, sizeof chunk);
    if (got > 0) {
      Take(std::string_view(chunk, static_cast<std::size_t>(got)));
    } else if (got == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
      FEnded = true;
      if (FDropping) {
        // The over-long last line ends with the input.
        FDropping = false;
        ++FRefused;
      }
    }
  }

  // Takes bytes read: kept while they belong to a line within the limit.
  void Take(std::string_view bytes) {
    while (FDropping && !bytes.empty()) {
      const std::size_t end = bytes.find('\n');
      if (end == std::string_view::npos) return;
      FDropping = false;
      ++FRefused;
      bytes.remove_prefix(end + 1);
    }
    FIn.append(bytes);
    FindLineEnd();
  }

  // Looks for the first line's end in the bytes not yet searched; a first
  // line past the limit is dropped, so is the rest of it as it arrives.
  void FindLineEnd() {
    while (FLineEnd == std::string::npos) {
      FLineEnd = FIn.find('\n', FScanned);
      const std::size_t length = FLineEnd == std::string::npos ? FIn.size() : FLineEnd;
      FScanned = FIn.size();
      if (length <= FMaxLineBytes + (length > 0 && FIn[length - 1] == '\r' ? 1 : 0)) return;
      FHeads.push_back(FIn.substr(0, std::min(length, kRefusedHeadBytes)));
      FIn.erase(0, FLineEnd == std::string::npos ? std::string::npos : FLineEnd + 1);
      FScanned = 0;
      if (FLineEnd == std::string::npos) {
        FDropping = true;
        return;
      }
      FLineEnd = std::string::npos;
      ++FRefused;
    }
  }

  std::string FIn;                           // read but not yet taken as a line
  std::size_t FScanned = 0;                  // FIn's bytes searched for a line end
  std::size_t FLineEnd = std::string::npos;  // of FIn's first line, once found
  bool FDropping = false;                    // a line past the limit is being dropped
  int FRefused = 0;                          // lines dropped whole, not yet told
  std::deque<std::string> FHeads;            // of the lines dropped or being dropped
  std::vector<RefusedLine> FTold;            // told, not yet taken
  bool FEnded = false;                       // the input reported its end (or failed)
};

}  // namespace

std::unique_ptr<Terminal> CreatePlainTerminal(int inFd, int outFd, std::size_t maxLineBytes) {
  return std::make_unique<PlainTerminal>(inFd, outFd, maxLineBytes);
}

}  // namespace zv::platform
