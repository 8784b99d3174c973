#include "console/entry.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>

#include "carriers/xml_carrier.h"
#include "console/agent_run.h"
#include "console/command_line.h"
#include "console/outbox_command.h"
#include "console/console_owner.h"
#include "console/owner_host.h"
#include "console/home_folder.h"
#include "console/send_report.h"
#include "console/send_run.h"
#include "console/system_console.h"
#include "platform/file_replace.h"
#include "platform/instance_lock.h"
#include "platform/message_queue.h"
#include "platform/program_folder.h"
#include "support/data_access.h"
#include "support/exceptions.h"
#include "support/helpers.h"
#include "support/text.h"

namespace zv {
namespace {

constexpr std::chrono::milliseconds kPollInterval{300};
constexpr std::string_view kLockFileName = "zvcc.lock";
// The exit status of a script some of whose messages did not go out.
constexpr int kStatusNotSent = 3;
// The exit status of a command line the program does not understand.
constexpr int kStatusUsage = 2;
// A script's next line waits at most this long for a start to reach readiness
// (the connect's own time-out and then some), and the end of its input at most
// this long for the results of the messages it sent.
constexpr std::chrono::milliseconds kStartWait{30000};
constexpr std::chrono::milliseconds kResultWait{30000};

// Handles the link's events until `done` holds or `bound` has passed, without
// reading input. A script through a pipe waits here where a person at a
// terminal would wait with their eyes.
template <typename Done>
void AwaitLink(TZVSystemConsole& console, std::chrono::milliseconds bound, Done done) {
  platform::MessageDispatcher& dispatcher = platform::MessageDispatcher::Main();
  platform::Terminal& terminal = console.Console().Terminal();
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (true) {
    terminal.BeginEventOutput();
    dispatcher.DispatchPending();
    terminal.EndEventOutput();
    const auto now = std::chrono::steady_clock::now();
    if (done() || now >= deadline) return;
    terminal.WaitEvents(
        std::min(kPollInterval,
                 std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now)),
        dispatcher.WakeFd());
  }
}

// The terminal has told each line it refused as too long: in a script each
// counts as a message line not sent.
void CountRefusedLines(TZVSystemConsole& console) {
  for (platform::Terminal::RefusedLine& line : console.Console().Terminal().TakeRefusedLines()) {
    console.CountNotSent(RefusedLinePage(line.Head), std::move(line.Reason));
  }
}

// Loop steps 1 to 4, until the exit command.
void RunMainLoop(TZVSystemConsole& console) {
  platform::MessageDispatcher& dispatcher = platform::MessageDispatcher::Main();
  TZVConsole& screen = console.Console();
  platform::Terminal& terminal = screen.Terminal();
  // A start that has kept a script waiting its full time is not waited for
  // again: a server that stalls must not cost the script that long per line.
  bool startWaitedOut = false;
  while (true) {
    screen.Write(console.CmdPrompt());
    screen.Flush();
    // Events are handled only here, while the prompt stands.
    while (true) {
      terminal.BeginEventOutput();
      dispatcher.DispatchPending();
      terminal.EndEventOutput();
      const bool pressed = screen.KeyPressed();
      CountRefusedLines(console);
      if (pressed) break;
      terminal.Wait(kPollInterval, dispatcher.WakeFd());
    }
    std::string line;
    try {
      line = screen.ReadLn(true);
    } catch (const platform::InputEnded&) {
      CountRefusedLines(console);
      throw;
    }
    CountRefusedLines(console);
    if (!console.ReadCmdLine(line)) return;
    if (!console.LinkStarting()) {
      startWaitedOut = false;
    } else if (!terminal.IsInteractive() && !startWaitedOut) {
      AwaitLink(console, kStartWait, [&] { return !console.LinkStarting(); });
      startWaitedOut = console.LinkStarting();
    }
  }
}

void WriteReport(TZVSystemConsole* console, const std::string& line) {
  if (console) {
    console->Console().WriteLn(line);
    console->Console().Flush();
  } else {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
  }
}

// Writes `text` to `stream`; false when it did not all get out.
bool WriteAll(std::FILE* stream, const std::string& text) {
  return std::fputs(text.c_str(), stream) >= 0 && std::fflush(stream) == 0;
}

}  // namespace

std::string ErrorReport(const std::exception& e) {
  if (const auto* own = dynamic_cast<const Exception*>(&e)) {
    return std::string(own->ClassName()) + ": " + own->what();
  }
  return std::string("Exception: ") + e.what();
}

int RunProgram(const std::vector<std::string>& arguments) {
  if (!arguments.empty() && arguments.front() == "send") {
    return RunSendProgram(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
  }
  if (!arguments.empty() && arguments.front() == "agent") {
    return RunAgentProgram(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
  }
  if (!arguments.empty() && arguments.front() == "outbox") {
    return RunOutboxProgram(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
  }
  const TCommandLine line = ParseCommandLine(arguments);
  switch (line.Action) {
    case TCommandAction::kHelp:
    case TCommandAction::kVersion: {
      const std::string text = line.Action == TCommandAction::kHelp ? UsageText() : VersionText();
      if (WriteAll(stdout, text)) return 0;
      // A text that did not get out (a full disk) is no success.
      WriteAll(stderr, "zvcc: cannot write the output\n");
      return 1;
    }
    case TCommandAction::kUsageError:
      WriteAll(stderr, "zvcc: " + line.Error + "\n" + std::string(kUsageHint) + "\n");
      return kStatusUsage;
    case TCommandAction::kRun:
      break;
  }
  // The terminal takes these signals itself.
  platform::BlockTerminalSignals();
  platform::UseUtf8Characters();
  std::string notice;
  try {
    notice = SetUpHome(line.Home);
  } catch (const std::exception& e) {
    WriteReport(nullptr, ErrorReport(e));
    return 1;
  }
  return RunConsole(platform::CreateStdTerminal(), notice);
}

int RunConsole(std::unique_ptr<platform::Terminal> terminal, const std::string& notice) {
  // One console owns one settings folder: a second one would hand out the
  // same message numbers and overwrite the first one's settings and log.
  platform::InstanceLock instance;
  if (instance.TryLock(AppFilePath("Settings", kLockFileName)) ==
      platform::InstanceLock::Result::kHeldElsewhere) {
    terminal->Write("Another zvcc is already running with the settings folder \"" +
                    AppSubFolder("Settings") + "\"\n");
    terminal->Flush();
    return 1;
  }
  // What a killed run was writing when it ended. A send on the same home may
  // be replacing the settings file this moment: every such save holds the
  // save lock, so the leftovers are taken under it, or left for another time.
  {
    platform::InstanceLock saves;
    if (saves.LockWithin(TDataAccess::LockFilePath(),
                         std::chrono::milliseconds(TDataAccess::kSaveWaitMs)) !=
        platform::InstanceLock::Result::kHeldElsewhere) {
      platform::RemoveLeftoverTemporaries(TDataAccess::IniFilePath());
      platform::RemoveLeftoverTemporaries(TXmlCarrier::SetupFilePath());
    }
  }

  std::unique_ptr<TZVSystemConsole> console;
  // The console as its home's owner; goes before the console.
  std::unique_ptr<TOwnerHost> owner;
  int status = 0;
  // Input through a pipe or a file: the run ends with a summary, and its
  // status counts its pages however the input ends.
  const bool script = !terminal->IsInteractive();
  try {
    console = std::make_unique<TZVSystemConsole>(std::move(terminal));
    console->Load();
    console->Console().DisplayMain();
    if (!notice.empty()) console->Console().WriteLn(notice);
    owner = BeginOwnership(*console, platform::HomeFolder());
    console->Console().WriteLn();
    bool inputEnded = false;
    try {
      RunMainLoop(*console);
    } catch (const platform::InputEnded& ended) {
      // The end of input and the terminating signals leave through the exit path.
      status = ended.Signal != 0 ? 128 + ended.Signal : 0;
      inputEnded = true;
    }
    if (status == 0 && script) {
      // A script's messages get their results before the link goes, whether
      // its input ended or it typed the exit command, and its exit status
      // says whether every one of them got one.
      try {
        AwaitLink(*console, kResultWait, [&] {
          return (console->PendingResults() == 0 && !console->LinkStarting()) ||
                 console->ClientServer() == nullptr;
        });
      } catch (const platform::InputEnded& signal) {
        status = 128 + signal.Signal;
      }
    }
    if ((inputEnded || script) && console->Console().CursorPos().X != 0) {
      console->Console().WriteLn();
    }
    EndOwnership(*console, std::move(owner), platform::HomeFolder());
    console->Save();
    console->Stop(
        script ? StrFormat("no result within %d s", static_cast<int>(kResultWait.count() / 1000))
               : std::string("the console was closed"));
    // The stop has told the pages that were still waiting.
    if (status == 0 && script && console->AnyMessageFailed()) status = kStatusNotSent;
    if (script && console->Ledger().Total() > 0) {
      console->Console().Flush();
      WriteAll(stderr, console->Ledger().Summary() + "\n");
    }
  } catch (const platform::InputEnded& ended) {
    // Input ended before the main loop ran (nothing to save yet).
    status = ended.Signal != 0 ? 128 + ended.Signal : 0;
  } catch (const std::exception& e) {
    // An error that escaped any step ends the program as a failure, without
    // Save and Stop.
    WriteReport(console.get(), ErrorReport(e));
    status = 1;
  }
  owner.reset();  // it holds the console
  console.reset();
  return status;
}

}  // namespace zv
