// zvcc's command line: --home DIR, --help and --version, and the texts the
// last two print. Parsing reads nothing but the arguments.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zv {

enum class TCommandAction { kRun, kHelp, kVersion, kUsageError };

struct TCommandLine {
  TCommandAction Action = TCommandAction::kRun;
  // The folder given with --home; "" when the option is absent.
  std::string Home;
  // For kUsageError: what is wrong, one line without the program's name.
  std::string Error;
};

// `arguments` are the program's arguments without its name. They are read in
// order: --help or --version decides at once, as does the first fault.
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// What --help and --version print, each line ended by '\n'.
std::string UsageText();
std::string VersionText();

// The line that follows a usage error.
inline constexpr std::string_view kUsageHint = "Try 'zvcc --help'.";

}  // namespace zv
