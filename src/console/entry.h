// The program's entry: start-up, the main loop and shutdown.
#pragma once

#include <memory>

#include "platform/terminal.h"

namespace zv {

// Runs the console on `terminal` until the exit command, the end of input or a
// terminating signal, and returns the exit status: 0 after the exit command or
// the end of input, 128 plus the signal's number after a terminating signal,
// 1 after an error that ended the program (reported as one line), 3 at the end
// of piped input when a message line of the run was not sent or got no result.
int RunConsole(std::unique_ptr<platform::Terminal> terminal);

}  // namespace zv
