// "zvcc send": pages for scripts and alerting tools. A console without a
// person at it is given a start and the pages, waits for every page's outcome
// within the run's time-out and ends, telling each outcome. It takes no
// instance lock: it may run beside a console and other sends on one home.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/send_options.h"
#include "platform/owner_endpoint.h"
#include "platform/terminal.h"

namespace zv {

// The program's "send" command, given the arguments that follow the word:
// --help prints and returns 0; a wrong command line is told on standard error
// and returns 2; otherwise it sets up the home (an error there returns 1) and
// runs the send on standard input and output.
int RunSendProgram(const std::vector<std::string>& arguments);

// One run on `terminal`, the console's terminal (its output is the console's
// transcript); the JSON lines of `options.Json` and the summary are written on
// standard output and standard error. `progress`: a passing progress line for
// a batch from standard input. The time-out counts from `started` and ends
// the run within a few tens of milliseconds of its value, the link's stop
// included. Returns the exit status: 1 as well when the JSON lines or the
// transcript could not all be written.
// `owner`: this run is its home's owner (it holds the endpoint) and serves
// the other sends that come meanwhile, until its time-out.
int RunSend(const TSendOptions& options, std::unique_ptr<platform::Terminal> terminal,
            bool progress,
            std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now(),
            std::optional<platform::OwnerEndpoint> owner = std::nullopt);

}  // namespace zv
