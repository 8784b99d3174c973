#include "console/command_line.h"

namespace zv {
namespace {

constexpr std::string_view kHomeOption = "--home";

TCommandLine UsageError(std::string error) {
  TCommandLine line;
  line.Action = TCommandAction::kUsageError;
  line.Error = std::move(error);
  return line;
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  TCommandLine result;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--help") {
      result.Action = TCommandAction::kHelp;
      return result;
    }
    if (argument == "--version") {
      result.Action = TCommandAction::kVersion;
      return result;
    }
    std::string folder;
    if (argument == kHomeOption) {
      if (i + 1 == arguments.size()) return UsageError("option '--home' needs a folder");
      folder = arguments[++i];
    } else if (argument.starts_with("--home=")) {
      folder = argument.substr(kHomeOption.size() + 1);
    } else if (argument.starts_with("-") && argument != "-") {
      return UsageError("unknown option '" + argument + "'");
    } else {
      return UsageError("unexpected argument '" + argument + "'");
    }
    // An empty name would silently mean the program's folder.
    if (folder.empty()) return UsageError("option '--home' needs a folder");
    result.Home = std::move(folder);
  }
  return result;
}

std::string UsageText() {
  return R"(Usage: zvcc [--home DIR]
       zvcc --help | --version
       zvcc send [OPTION]... ADDRESS TEXT | -   (see 'zvcc send --help')
       zvcc agent [OPTION]...   (the home's owner, in the background)
       zvcc outbox [--json] [--cancel NUMBER]   (the pages the owner keeps)

The console client of the Zorvane paging server. At its prompt type a command
("help" lists them) or a message line:
  address,text[,carrier[,priority[,subject[,age limit in minutes]]]]
Lines may also come from a pipe or a file, one per line.

Options:
  --home DIR  keep Settings/ and Logs/ in DIR (created when missing)
  --help      show this help and exit
  --version   show the version and exit

Environment:
  ZVCC_HOME       the folder for Settings/ and Logs/ when --home is not given
  XDG_STATE_HOME  when neither names a folder and the program's folder cannot
                  be written: Settings/ and Logs/ go to $XDG_STATE_HOME/zvcc
                  (by default ~/.local/state/zvcc)
  ZVCC_LOCAL_BUS  the bus of the local server (connection type 1): "session"
                  or "system"; unset: the session bus when
                  DBUS_SESSION_BUS_ADDRESS is set, otherwise the system bus

Files (Settings/ and Logs/ in the folder chosen above, by default the folder
of the program file; Help/ always beside the program file):
  Settings/zvcc.ini        the settings
  Settings/ZVCarriers.ccr  the carriers of the last connection
  Logs/zvccLog1.txt ...    the ring of log files
  Help/chelp_*.txt         the help texts

Exit status: 0 after "q", "exit" or the end of input; 1 when an error ended
the program; 2 for a wrong command line; 3 at the end of piped input when a
message line was not sent or got no result; 128+N after signal N.
)";
}

std::string VersionText() { return std::string("zvcc ") + ZV_VERSION + "\n"; }

}  // namespace zv
