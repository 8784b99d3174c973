#include "console/entry.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>

#include "console/system_console.h"
#include "platform/message_queue.h"
#include "support/exceptions.h"

namespace zv {
namespace {

constexpr std::chrono::milliseconds kPollInterval{300};

// Loop steps 1 to 4, until the exit command.
void RunMainLoop(TZVSystemConsole& console) {
  platform::MessageDispatcher& dispatcher = platform::MessageDispatcher::Main();
  TZVConsole& screen = console.Console();
  platform::Terminal& terminal = screen.Terminal();
  while (true) {
    screen.Write(console.CmdPrompt());
    screen.Flush();
    // Events are handled only here, while the prompt stands.
    while (true) {
      terminal.BeginEventOutput();
      dispatcher.DispatchPending();
      terminal.EndEventOutput();
      if (screen.KeyPressed()) break;
      terminal.Wait(kPollInterval, dispatcher.WakeFd());
    }
    if (!console.ReadCmdLine(screen.ReadLn(true))) return;
  }
}

// The one-line error report: the error's class name, ": " and its message.
std::string ErrorReport(const std::exception& e) {
  if (const auto* own = dynamic_cast<const Exception*>(&e)) {
    return std::string(own->ClassName()) + ": " + own->what();
  }
  return std::string("Exception: ") + e.what();
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

}  // namespace

int RunConsole(std::unique_ptr<platform::Terminal> terminal) {
  std::unique_ptr<TZVSystemConsole> console;
  int status = 0;
  try {
    // The component model of the original platform needs no start-up here.
    console = std::make_unique<TZVSystemConsole>(std::move(terminal));
    SystemConsole = console.get();
    console->Load();
    console->Console().DisplayMain();
    console->Console().WriteLn();
    try {
      RunMainLoop(*console);
    } catch (const platform::InputEnded& ended) {
      // The end of input and the terminating signals leave through the exit path.
      status = ended.Signal != 0 ? 128 + ended.Signal : 0;
      if (console->Console().CursorPos().X != 0) console->Console().WriteLn();
    }
    console->Save();
    console->Stop();
  } catch (const platform::InputEnded& ended) {
    // Input ended before the main loop ran (nothing to save yet).
    status = ended.Signal != 0 ? 128 + ended.Signal : 0;
  } catch (const std::exception& e) {
    // An error that escaped any step ends the program as a failure, without
    // Save and Stop.
    WriteReport(console.get(), ErrorReport(e));
    status = 1;
  }
  console.reset();
  SystemConsole = nullptr;
  return status;
}

}  // namespace zv
