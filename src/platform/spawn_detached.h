// Starting a program that outlives its starter: "zvcc send" starts the
// home's agent this way, as ssh starts a control master or gpg an agent.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zv::platform {

// The running program's own file (/proc/self/exe), to start another copy.
std::string OwnProgramFile();

// Runs `program` with `arguments` (without the program name) in a session of
// its own, detached from the caller's terminal, with standard input, output
// and error on /dev/null and every other descriptor closed by close-on-exec,
// and with the signal mask and dispositions it would have in a new process.
// The caller is not its parent (it is reparented at once), so no zombie is
// left. Returns the program's process id; throws std::runtime_error, saying
// why, when it cannot be started.
pid_t SpawnDetached(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace zv::platform
