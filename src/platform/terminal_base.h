// What both kinds of terminal share: buffered output with line ends as "\n",
// the tracked cursor, and the signals read in the input poll.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/screen_tracker.h"
#include "platform/terminal.h"
#include "platform/terminal_signals.h"

namespace zv::platform {

class TerminalBase : public Terminal {
 public:
  TerminalBase(int inFd, int outFd, Size screen, std::size_t maxLineBytes);
  ~TerminalBase() override;  // flushes

  void Write(std::string_view text) override;
  void Flush() override { FlushNow(); }
  Point CursorPos() const override { return FTracker.Cursor(); }
  Size BufferSize() const override { return FTracker.Screen(); }
  Size MaxWindowSize() const override { return FTracker.Screen(); }
  WaitResult WaitEvents(std::chrono::milliseconds bound, int wakeFd) override;
  std::optional<std::string> OutputError() const override { return FOutputError; }

 protected:
  // Text for the output whose place the tracker has already been told.
  void Put(std::string_view bytes);
  // Text for the output, tracked (line ends already "\n").
  void Emit(std::string_view text);
  // Writes what the buffer holds, now.
  void FlushNow();
  // Ends a partly written line, so what follows (the shell, the next
  // program) starts on a fresh one.
  void FinishLine();

  // What is left of a wait's bound, for poll.
  static int MillisecondsLeft(std::chrono::steady_clock::time_point deadline);

  // Handles every pending signal: INT, TERM and HUP throw InputEnded (after
  // LeaveForExit), so does QUIT where QuitEnds, TSTP suspends, WINCH resizes.
  // Never waits.
  void TakeSignals();
  virtual bool QuitEnds() const { return false; }
  // The line written for a refused line.
  std::string RefusalText() const;
  virtual void LeaveForExit() { FinishLine(); }
  virtual void Suspend();
  virtual void Resized() {}

  const int FInFd;
  const int FOutFd;
  const std::size_t FMaxLineBytes;
  ScreenTracker FTracker;
  TerminalSignals FSignals;

 private:
  // Reads the pending signals and notes them for TakeSignals, acting on none.
  void CollectSignals();
  void NoteOutputFailure(const std::string& why);

  std::string FOut;  // written on Flush, or when it grows large
  // Signals read but not yet acted on.
  int FTerminating = 0;  // INT, TERM or HUP; 0: none
  bool FStopWanted = false;
  bool FResizeWanted = false;
  // A terminating signal came while the output was stalled: what is still to
  // be written is dropped, so the exit path never waits for a stalled reader.
  bool FOutputAbandoned = false;
  // The first write failure, as the system words it.
  std::optional<std::string> FOutputError;
};

}  // namespace zv::platform
