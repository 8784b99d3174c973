#include "console/agent_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <optional>

#include "console/entry.h"
#include "console/home_folder.h"
#include "console/option_reader.h"
#include "console/owner_host.h"
#include "owner/owner_client.h"
#include "owner/owner_wire.h"
#include "platform/message_queue.h"
#include "platform/owner_endpoint.h"
#include "platform/program_folder.h"
#include "platform/terminal.h"
#include "platform/unique_fd.h"
#include "protocol/msg_global.h"
#include "support/sys_log.h"

namespace zv {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kPollInterval{300};
// A signal asks the agent to leave within a second: the pages on the link get
// this long for their results, then wait in the outbox for the next owner.
constexpr int64_t kSignalHandoverMs = 700;
// How long "zvcc agent --stop" waits for the agent to hand over and leave.
constexpr std::chrono::seconds kStopWait{10};
constexpr int kStatusFailed = 1;
constexpr int kStatusUsage = 2;

bool WriteAll(std::FILE* stream, const std::string& text) {
  return std::fputs(text.c_str(), stream) >= 0 && std::fflush(stream) == 0;
}

// Asks the home's owner to leave and waits until it has.
int StopOwner(const std::string& home) {
  std::optional<platform::LocalStream> stream;
  try {
    stream = platform::ConnectToOwner(home, std::chrono::seconds(2));
  } catch (const std::exception& e) {
    WriteAll(stderr, std::string("zvcc agent: ") + e.what() + "\n");
    return kStatusFailed;
  }
  if (!stream) {
    WriteAll(stdout, "No agent runs on the home \"" + home + "\"\n");
    return 0;
  }
  const auto deadline = Clock::now() + kStopWait;
  TOwnerClientStream owner(std::move(*stream));
  owner.Send(EncodeOwnerLine(TOwnerHello{kOwnerWireVersion, TOwnerClientRole::kSend,
                                         static_cast<int64_t>(::getpid()), ""}) +
                 EncodeOwnerLine(TOwnerStop{}),
             deadline);
  while (const std::optional<TOwnerReply> reply = owner.Next(deadline)) {
    if (const auto* refused = std::get_if<TOwnerRefused>(&*reply)) {
      WriteAll(stderr, "zvcc agent: " + refused->Reason + "\n");
      return kStatusFailed;
    }
  }
  // Gone once nothing answers on its socket any more.
  while (Clock::now() < deadline) {
    try {
      if (!platform::ConnectToOwner(home, std::chrono::milliseconds(200))) {
        WriteAll(stdout, "The agent has left; what it had not sent waits in the outbox\n");
        return 0;
      }
    } catch (const std::exception&) {
    }
    ::usleep(50'000);
  }
  WriteAll(stderr, "zvcc agent: the agent did not leave within " +
                       std::to_string(kStopWait.count()) + " s\n");
  return kStatusFailed;
}

int RunAgent(const TAgentOptions& options, const std::string& home) {
  std::optional<platform::OwnerEndpoint> endpoint;
  try {
    endpoint = platform::TryBecomeOwner(home);
  } catch (const std::exception& e) {
    WriteAll(stderr, "zvcc agent: " + ErrorReport(e) + "\n");
    return kStatusFailed;
  }
  if (!endpoint) {
    WriteAll(stderr, "zvcc agent: the home \"" + home +
                         "\" has its owner already (an open console or an agent)\n");
    return kStatusFailed;
  }
  // No one types at an agent: its input is empty, its lines go to standard
  // error (the journal, under systemd).
  platform::UniqueFd noInput(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  std::unique_ptr<TZVSystemConsole> console;
  int status = 0;
  try {
    console = std::make_unique<TZVSystemConsole>(
        platform::CreatePlainTerminal(noInput.Get(), STDERR_FILENO));
    console->Load();
    TZVSystemConsole::TRunSettings run = options.Run;
    run.Prompt = "";
    console->UseRunSettings(run);
    auto host = std::make_unique<TOwnerHost>(*console, std::move(*endpoint), TOwnerKind::kAgent);
    console->SysLog().LogItem("Agent", "The agent serves the home \"" + home + "\"", "");
    platform::MessageDispatcher& dispatcher = platform::MessageDispatcher::Main();
    platform::Terminal& terminal = console->Console().Terminal();
    auto idleSince = Clock::now();
    while (true) {
      terminal.BeginEventOutput();
      dispatcher.DispatchPending();
      terminal.EndEventOutput();
      TOwnerCore& core = host->Core();
      if (core.HandedOver()) break;
      const auto now = Clock::now();
      if (core.Clients() > 0 || core.InFlight() > 0) {
        idleSince = now;
      } else if (options.IdleExit.count() > 0 && now - idleSince >= options.IdleExit) {
        if (core.Waiting() == 0) {
          console->SysLog().LogItem("Agent", "Nothing to do for a while: the agent leaves", "");
          core.Leave(TOwnerHost::Now(), 0);
        } else {
          idleSince = now;
        }
      }
      terminal.Flush();
      try {
        terminal.WaitEvents(kPollInterval, dispatcher.WakeFd());
      } catch (const platform::InputEnded& ended) {
        if (ended.Signal == 0) continue;
        console->SysLog().LogItem("Agent", "Signal " + std::to_string(ended.Signal) +
                                               ": the agent hands over and leaves", "");
        core.Leave(TOwnerHost::Now(), kSignalHandoverMs);
        host->Service();
      }
    }
    host.reset();
    console->Save();
    try {
      console->Stop("the agent ended");
    } catch (const std::exception& e) {
      console->Console().WriteLn(e.what());
    }
    console->Console().Flush();
  } catch (const std::exception& e) {
    WriteAll(stderr, "zvcc agent: " + ErrorReport(e) + "\n");
    status = kStatusFailed;
  }
  console.reset();
  return status;
}

}  // namespace

TAgentOptions ParseAgentOptions(const std::vector<std::string>& arguments) {
  TAgentOptions o;
  TOptionReader r(arguments);
  bool server = false;
  bool local = false;
  while (r.Next()) {
    const std::string& name = r.Name();
    if (name == "--help") {
      o.Action = TAgentAction::kHelp;
      return o;
    } else if (name == "--stop" && r.Bare()) {
      o.Action = TAgentAction::kStop;
    } else if (name == "--local" && r.Bare()) {
      local = true;
      o.Run.ConnectionType = kConnectionLocal;
    } else if (name == "--home") {
      if (const auto v = r.Value()) {
        if (v->empty()) r.Fail("option '--home' needs a folder");
        o.Home = *v;
      }
    } else if (name == "--idle-exit") {
      if (const auto v = r.Value()) {
        if (const auto minutes = DecimalIn(*v, 0, 100000)) {
          o.IdleExit = std::chrono::minutes(*minutes);
        } else {
          r.Fail("option '--idle-exit' expects minutes (0: never), not '" + *v + "'");
        }
      }
    } else if (name == "--server") {
      if (const auto v = r.Value()) {
        const std::size_t colon = v->rfind(':');
        const std::string host = v->substr(0, colon == std::string::npos ? 0 : colon);
        const auto port =
            colon == std::string::npos ? std::nullopt : DecimalIn(v->substr(colon + 1), 1, 65535);
        if (host.empty() || !port) {
          r.Fail("option '--server' expects HOST:PORT, not '" + *v + "'");
        } else {
          server = true;
          o.Run.ConnectionType = kConnectionRemote;
          o.Run.ServerIP = host;
          o.Run.ServerPort = *port;
        }
      }
    } else {
      r.Fail("unknown argument '" + r.Argument() + "'");
    }
  }
  if (server && local) r.Fail("'--server' and '--local' exclude each other");
  if (!r.Error().empty()) {
    o.Action = TAgentAction::kUsageError;
    o.Error = r.Error();
  }
  return o;
}

std::string AgentUsageText() {
  return "Usage: zvcc agent [OPTION]...\n"
         "The home's owner without a terminal: it holds the server login for every\n"
         "'zvcc send' of the home, keeps their pages in the outbox (Settings/zvcc-outbox.db)\n"
         "and sends them as the link allows, trying a server that cannot be reached again.\n"
         "\n"
         "  --server HOST:PORT  the link over TCP/IP to HOST\n"
         "  --local             the link to the local server on the bus\n"
         "                      (neither: the stored connection settings)\n"
         "  --home DIR          the home (Settings/ and Logs/), as for the console\n"
         "  --idle-exit MIN     leave after MIN minutes with nothing to do (0: stay; the\n"
         "                      agent that 'zvcc send' starts uses 10)\n"
         "  --stop              ask the home's running agent to hand over and leave\n"
         "  --help              this text\n"
         "\n"
         "SIGTERM, SIGINT and SIGHUP end it within a second; pages not yet sent stay in\n"
         "the outbox for the next owner. Exit status: 0, or 1 when the home has an owner\n"
         "already or cannot be used, 2 for a wrong command line.\n";
}

std::vector<std::string> AgentArguments(const std::string& home,
                                        const TZVSystemConsole::TRunSettings& run,
                                        std::chrono::minutes idle) {
  std::vector<std::string> args{"agent", "--home", home, "--idle-exit",
                                std::to_string(idle.count())};
  if (run.ConnectionType == kConnectionRemote && run.ServerIP && run.ServerPort) {
    args.push_back("--server");
    args.push_back(*run.ServerIP + ":" + std::to_string(*run.ServerPort));
  } else if (run.ConnectionType == kConnectionLocal) {
    args.push_back("--local");
  }
  return args;
}

int RunAgentProgram(const std::vector<std::string>& arguments) {
  const TAgentOptions options = ParseAgentOptions(arguments);
  switch (options.Action) {
    case TAgentAction::kHelp:
      return WriteAll(stdout, AgentUsageText()) ? 0 : kStatusFailed;
    case TAgentAction::kUsageError:
      WriteAll(stderr, "zvcc agent: " + options.Error + "\nTry 'zvcc agent --help'.\n");
      return kStatusUsage;
    case TAgentAction::kRun:
    case TAgentAction::kStop:
      break;
  }
  platform::BlockTerminalSignals();
  platform::UseUtf8Characters();
  try {
    const std::string notice = SetUpHome(options.Home);
    if (!notice.empty() && options.Action == TAgentAction::kRun) WriteAll(stderr, notice + "\n");
  } catch (const std::exception& e) {
    WriteAll(stderr, "zvcc agent: " + ErrorReport(e) + "\n");
    return kStatusFailed;
  }
  const std::string home = platform::HomeFolder();
  if (options.Action == TAgentAction::kStop) return StopOwner(home);
  return RunAgent(options, home);
}

}  // namespace zv
