// The command line of "zvcc send": one page from ADDRESS and TEXT, or message
// lines from standard input ("-"), with values that hold for that run only.
// Parsing reads nothing but the arguments.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "console/system_console.h"

namespace zv {

enum class TSendAction { kRun, kHelp, kUsageError };

struct TSendOptions {
  TSendAction Action = TSendAction::kRun;
  // For kUsageError: what is wrong, one line without the program's name.
  std::string Error;
  std::string Home;        // --home; "" when absent
  bool FromInput = false;  // "-": message lines from standard input
  std::string Address;     // otherwise the one page
  std::string Text;
  // Connection, carrier, priority, subject and age limit given for the run.
  TZVSystemConsole::TRunSettings Run;
  std::chrono::seconds Timeout{30};  // for the whole run
  bool Json = false;
  // A retry with the same key is the first page again, never a second one;
  // with "-", line N's key is KEY#N.
  std::string Key;
  // No agent is started: with no owner running, this run is the owner for
  // its own pages (and serves other sends meanwhile).
  bool NoAgent = false;
};

// `arguments` follow the word "send". Options come in any order before and
// between the operands, as "--name VALUE" or "--name=VALUE"; "--" ends them,
// so that an address may begin with "-".
TSendOptions ParseSendOptions(const std::vector<std::string>& arguments);

// What "zvcc send --help" prints, each line ended by '\n'.
std::string SendUsageText();

}  // namespace zv
