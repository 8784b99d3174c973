// The program's entry: start-up, the main loop and shutdown.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "platform/terminal.h"

namespace zv {

// The program, given its arguments without its name: --help and --version
// print and return 0 without touching a file; a wrong command line is told on
// standard error and returns 2. Otherwise it chooses the home of Settings/ and
// Logs/ (an error there is reported as one line and returns 1) and runs the
// console on the standard terminal. Call first thing in main, before any
// thread starts.
int RunProgram(const std::vector<std::string>& arguments);

// Runs the console on `terminal` until the exit command, the end of input or a
// terminating signal, and returns the exit status: 0 after the exit command or
// the end of input, 128 plus the signal's number after a terminating signal,
// 1 after an error that ended the program (reported as one line), 3 at the end
// of piped input when a message line of the run was not sent or got no result.
// A non-empty `notice` is shown as one line below the main screen.
int RunConsole(std::unique_ptr<platform::Terminal> terminal, const std::string& notice = {});

// The one-line report of an error that ends the program: the error's class
// name, ": " and its message.
std::string ErrorReport(const std::exception& e);

}  // namespace zv
