// What both kinds of terminal share: buffered output with line ends as "\n",
// the tracked cursor, and the signals read in the input poll.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "platform/screen_tracker.h"
#include "platform/terminal.h"
#include "platform/terminal_signals.h"

namespace zv::platform {

class TerminalBase : public Terminal {
 public:
  TerminalBase(int inFd, int outFd, Size screen);
  ~TerminalBase() override;  // flushes

  void Write(std::string_view text) override;
  void Flush() override;
  Point CursorPos() const override { return FTracker.Cursor(); }
  Size BufferSize() const override { return FTracker.Screen(); }
  Size MaxWindowSize() const override { return FTracker.Screen(); }
  WaitResult WaitEvents(std::chrono::milliseconds bound, int wakeFd) override;

 protected:
  // Text for the output whose place the tracker has already been told.
  void Put(std::string_view bytes);
  // Text for the output, tracked (line ends already "\n").
  void Emit(std::string_view text);
  // Ends a partly written line, so what follows (the shell, the next
  // program) starts on a fresh one.
  void FinishLine();

  // What is left of a wait's bound, for poll.
  static int MillisecondsLeft(std::chrono::steady_clock::time_point deadline);

  // Handles every pending signal: INT, TERM and HUP throw InputEnded (after
  // LeaveForExit), TSTP suspends, WINCH resizes, QUIT is ignored.
  void TakeSignals();
  virtual void LeaveForExit() { FinishLine(); }
  virtual void Suspend();
  virtual void Resized() {}

  const int FInFd;
  const int FOutFd;
  ScreenTracker FTracker;
  TerminalSignals FSignals;

 private:
  std::string FOut;  // written on Flush, or when it grows large
};

}  // namespace zv::platform
