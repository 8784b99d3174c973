// The simulator as a program: reads its command line, builds its accounts,
// carriers, transcript and server, and serves until SIGINT or SIGTERM.
#pragma once

#include <string>
#include <vector>

namespace zv::sim {

// Exit statuses.
enum : int {
  kExitOk = 0,       // stopped by a signal, or --help or --version
  kExitFailure = 1,  // it could not start (carriers, transcript, listening, the bus),
                     // or its bus connection broke
  kExitUsage = 2,    // a bad command line
};

// `args` without the program name.
int RunSimulator(const std::vector<std::string>& args);

}  // namespace zv::sim
