#include "console/agent_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <exception>
#include <optional>

#include "console/entry.h"
#include "console/home_folder.h"
#include "console/owner_host.h"
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

std::optional<int32_t> Decimal(const std::string& text, int64_t low, int64_t high) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return std::nullopt;
  return static_cast<int32_t>(value);
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
  try {
    stream->WriteAll(EncodeOwnerLine(TOwnerHello{kOwnerWireVersion, TOwnerClientRole::kSend,
                                                 static_cast<int64_t>(::getpid()), ""}) +
                         EncodeOwnerLine(TOwnerStop{}),
                     kStopWait);
    TOwnerReplyReader reader;
    std::array<char, 4096> buffer{};
    while (Clock::now() < deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (!stream->WaitReadable(left)) break;
      const auto r = stream->Read(buffer.data(), buffer.size());
      if (r.Status == platform::LocalStream::IoStatus::kClosed) break;
      if (r.Status == platform::LocalStream::IoStatus::kWouldBlock) continue;
      reader.Append(std::string_view(buffer.data(), r.Count));
      while (auto read = reader.Next()) {
        if (!read->Message) continue;
        if (const auto* refused = std::get_if<TOwnerRefused>(&*read->Message)) {
          WriteAll(stderr, "zvcc agent: " + refused->Reason + "\n");
          return kStatusFailed;
        }
      }
    }
  } catch (const std::exception& e) {
    WriteAll(stderr, std::string("zvcc agent: ") + e.what() + "\n");
    return kStatusFailed;
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
  auto fail = [&o](const std::string& error) {
    if (o.Error.empty()) o.Error = error;
    o.Action = TAgentAction::kUsageError;
  };
  bool server = false;
  bool local = false;
  for (std::size_t i = 0; i < arguments.size() && o.Error.empty(); ++i) {
    std::string name = arguments[i];
    std::optional<std::string> value;
    if (const std::size_t eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.erase(eq);
    }
    auto take = [&]() -> std::optional<std::string> {
      if (value) return value;
      if (i + 1 == arguments.size()) {
        fail("option '" + name + "' needs a value");
        return std::nullopt;
      }
      return arguments[++i];
    };
    if (name == "--help") {
      o.Action = TAgentAction::kHelp;
      return o;
    } else if (name == "--stop" && !value) {
      o.Action = TAgentAction::kStop;
    } else if (name == "--local" && !value) {
      local = true;
      o.Run.ConnectionType = kConnectionLocal;
    } else if (name == "--home") {
      if (const auto v = take()) {
        if (v->empty()) fail("option '--home' needs a folder");
        o.Home = *v;
      }
    } else if (name == "--idle-exit") {
      if (const auto v = take()) {
        const auto minutes = Decimal(*v, 0, 100000);
        if (!minutes) fail("option '--idle-exit' expects minutes (0: never), not '" + *v + "'");
        else o.IdleExit = std::chrono::minutes(*minutes);
      }
    } else if (name == "--server") {
      if (const auto v = take()) {
        const std::size_t colon = v->rfind(':');
        const std::string host = v->substr(0, colon == std::string::npos ? 0 : colon);
        const auto port =
            colon == std::string::npos ? std::nullopt : Decimal(v->substr(colon + 1), 1, 65535);
        if (host.empty() || !port) {
          fail("option '--server' expects HOST:PORT, not '" + *v + "'");
        } else {
          server = true;
          o.Run.ConnectionType = kConnectionRemote;
          o.Run.ServerIP = host;
          o.Run.ServerPort = *port;
        }
      }
    } else {
      fail("unknown argument '" + arguments[i] + "'");
    }
  }
  if (o.Error.empty() && server && local) fail("'--server' and '--local' exclude each other");
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
