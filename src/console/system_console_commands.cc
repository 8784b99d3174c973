// The command interpreter: every line typed at the prompt is either a message
// line (two or more fields separated by "," or ";") or a command line matched
// against the command table, first matching group first.
#include <array>

#include "console/system_console.h"
#include "support/text.h"

namespace zv {
namespace {

constexpr std::string_view kFieldSeparators = ",;";

// Switch codes.
constexpr int kSwitchNone = 0;
constexpr int kSwitchAll = 1;
constexpr int kSwitchCurrent = 2;
constexpr int kSwitchSet = 3;
constexpr int kSwitchHelp = 4;

// A word matches a line that begins with it, in any letter case. The line is
// not trimmed, so a leading blank matches nothing.
bool MatchesAny(std::string_view line, std::initializer_list<std::string_view> words) {
  for (std::string_view word : words) {
    if (StartsWithNoCase(line, word)) return true;
  }
  return false;
}

}  // namespace

bool TZVSystemConsole::ReadCmdLine(const std::string& cmdLn) {
  const TCmdMode mode = CheckMode(cmdLn);
  FCommandMode = mode;
  if (mode == TCmdMode::cmMsg) return ProcessMsgLine(cmdLn);
  return ProcessSetLine(cmdLn);
}

TCmdMode TZVSystemConsole::CheckMode(std::string_view cmdLine) const {
  return SplitToArray(cmdLine, kFieldSeparators).size() >= 2 ? TCmdMode::cmMsg : TCmdMode::cmSet;
}

int TZVSystemConsole::CheckSwitch(std::string_view line) const {
  // Anywhere in the line, inside other words too; the first hit in this order decides.
  struct Test {
    std::string_view A, B;
    int Code;
  };
  static constexpr std::array<Test, 5> kTests{{{"/c", "-c", kSwitchCurrent},
                                               {"/s", "-s", kSwitchSet},
                                               {"/a", "-a", kSwitchAll},
                                               {"/h", "-h", kSwitchHelp},
                                               {"/?", "-?", kSwitchHelp}}};
  for (const Test& t : kTests) {
    if (ContainsNoCase(line, t.A) || ContainsNoCase(line, t.B)) return t.Code;
  }
  return kSwitchNone;
}

bool TZVSystemConsole::ProcessSetLine(const std::string& line) {
  const int sw = CheckSwitch(line);
  if (MatchesAny(line, {"Q", "exit"})) return false;
  if (MatchesAny(line, {"cls", "clr", "clear"})) {
    FConsole->ClearScreen();
  } else if (MatchesAny(line, {"main", "home"})) {
    FConsole->DisplayMain();
  } else if (MatchesAny(line, {"start", "on"})) {
    FOperatorStopped = false;
    Start();
  } else if (MatchesAny(line, {"stop", "off"})) {
    StopCommand();
  } else if (MatchesAny(line, {"help", "?", "man"})) {
    FConsole->DisplayHelp("chelp_main.txt");
  } else if (MatchesAny(line, {"stat"})) {
    FConsole->DisplaySettings();
  } else if (MatchesAny(line, {"cmd", "prompt"})) {
    if (sw == kSwitchCurrent) {
      SetStrSetting("CmdPrompt", FCmdPrompt, "Zorvane Send >");
    } else {
      SetCmdPrompt();
    }
  } else if (MatchesAny(line, {"con"})) {
    RunSwitchCommand("con", sw);
  } else if (MatchesAny(line, {"car"})) {
    RunSwitchCommand("car", sw);
  } else if (MatchesAny(line, {"msg"})) {
    RunSwitchCommand("msg", sw);
  } else {
    FConsole->WriteLn("Unknow command \"" + line + "\"");
    FConsole->WriteLn("Enter: help - to see available commands");
  }
  return true;
}

void TZVSystemConsole::RunSwitchCommand(std::string_view cmd, int sw) {
  // What each switch does for the three commands that take one.
  struct SwitchCommand {
    std::string_view Word;
    void (TZVConsole::*ShowAll)();
    void (TZVConsole::*ShowCurrent)();
    void (TZVSystemConsole::*Set)();
    std::string_view HelpFile;
  };
  static constexpr std::array<SwitchCommand, 3> kCommands{{
      {"con", &TZVConsole::DisplayConnections, &TZVConsole::DisplayCurrentConnection,
       &TZVSystemConsole::SetConnection, "chelp_connection.txt"},
      {"car", &TZVConsole::DisplayCarriers, &TZVConsole::DisplayDefaultCarrier,
       &TZVSystemConsole::SetDefaultCarrier, "chelp_carrier.txt"},
      {"msg", &TZVConsole::DisplayMsgSettings, &TZVConsole::DisplayCurrentMsgSettings,
       &TZVSystemConsole::SetMsgSettings, "chelp_message.txt"},
  }};
  for (const SwitchCommand& c : kCommands) {
    if (c.Word != cmd) continue;
    switch (sw) {
      case kSwitchAll:
        (*FConsole.*c.ShowAll)();
        return;
      case kSwitchCurrent:
        (*FConsole.*c.ShowCurrent)();
        return;
      case kSwitchSet:
        (this->*c.Set)();
        return;
      case kSwitchHelp:
        FConsole->DisplayHelp(c.HelpFile);
        return;
      default:
        FConsole->DisplayCmdError(cmd);
        return;
    }
  }
}

}  // namespace zv
