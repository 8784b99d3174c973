// The signals a terminal program takes from its terminal (INT, TERM, HUP,
// QUIT, WINCH, TSTP) are blocked in every thread (BlockTerminalSignals, in
// terminal.h) and read here through a signalfd, in the same poll as the input:
// a line editor's own handlers would signal the whole process group, and a
// handler could not throw out of a blocking read.
#pragma once

#include <optional>

#include "platform/unique_fd.h"

namespace zv::platform {

class TerminalSignals {
 public:
  TerminalSignals();
  TerminalSignals(const TerminalSignals&) = delete;
  TerminalSignals& operator=(const TerminalSignals&) = delete;

  // Readable while one of the signals is pending; -1 if none could be made.
  int Fd() const { return FFd.Get(); }

  // The next pending signal's number, without waiting.
  std::optional<int> Take();

  // Stops the process as the terminal's stop key would (TSTP with its default
  // action) and returns once it is continued. The caller gives the terminal
  // back before and takes it again after.
  static void StopProcess();

 private:
  UniqueFd FFd;
};

}  // namespace zv::platform
