// "zvcc agent": the home's owner without a terminal. It holds the server
// login for every sender of the home (each "zvcc send" hands it its pages),
// keeps their pages in the outbox and sends them as the link allows. It runs
// in the foreground (for systemd or a shell's "&"), or is started in the
// background by "zvcc send", in which case it leaves after a while with
// nothing to do. "zvcc agent --stop" asks a running one to leave.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "console/system_console.h"

namespace zv {

enum class TAgentAction { kRun, kStop, kHelp, kUsageError };

struct TAgentOptions {
  TAgentAction Action = TAgentAction::kRun;
  std::string Error;  // kUsageError
  std::string Home;
  // The link: a TCP/IP server or the local one; the stored settings when
  // neither is given.
  TZVSystemConsole::TRunSettings Run;
  // Leaves after this long with no client and nothing waiting; zero: stays.
  std::chrono::minutes IdleExit{0};
};

TAgentOptions ParseAgentOptions(const std::vector<std::string>& arguments);
std::string AgentUsageText();

// The program's "agent" command, given the arguments after the word.
int RunAgentProgram(const std::vector<std::string>& arguments);

// The arguments that start an agent for the link of `run` in `home`, as
// "zvcc send" starts one: it leaves after `idle` with nothing to do.
std::vector<std::string> AgentArguments(const std::string& home,
                                        const TZVSystemConsole::TRunSettings& run,
                                        std::chrono::minutes idle);

}  // namespace zv
