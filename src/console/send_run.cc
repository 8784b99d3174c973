#include "console/send_run.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <optional>
#include <thread>

#include "console/entry.h"
#include "console/home_folder.h"
#include "console/owner_host.h"
#include "console/send_client.h"
#include "console/send_report.h"
#include "console/send_terminal.h"
#include "console/system_console.h"
#include "platform/message_queue.h"
#include "platform/owner_endpoint.h"
#include "platform/program_folder.h"
#include "platform/semaphore.h"
#include "support/exceptions.h"
#include "support/text.h"

namespace zv {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kPollInterval{300};
// A batch that takes longer than this shows its progress.
constexpr std::chrono::seconds kProgressAfter{2};
constexpr int kStandardInput = 0;
constexpr int kStandardOutput = 1;
constexpr int kStandardError = 2;
// Lines read ahead while a start is under way wait in the console; past this
// many (as many as the link's request buffer takes) the input is left unread
// until the link takes them, so a long batch for a server that never gets
// ready costs neither memory nor time, and telling the held ones at the
// time-out stays quick.
constexpr std::size_t kMaxHeldLines = 1000;
// The run stops waiting for outcomes this long before its time-out, to tell
// them, and ends at most this long after it, whatever the link's stop waits.
constexpr std::chrono::milliseconds kEndMargin{50};

// Ends the process with `status` at `deadline` unless disarmed first: the
// link's stop waits for a server that may not answer, and a run's time-out
// bounds the whole run. Armed only once every outcome has been told.
class TEndWatch {
 public:
  TEndWatch(Clock::time_point deadline, int status)
      : FThread([this, deadline, status] {
          const auto left =
              std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
          if (FDisarmed.Acquire(std::max(left, std::chrono::milliseconds(0)))) return;
          std::fflush(nullptr);
          std::_Exit(status);
        }) {}
  ~TEndWatch() {
    FDisarmed.Release();
    FThread.join();
  }
  TEndWatch(const TEndWatch&) = delete;
  TEndWatch& operator=(const TEndWatch&) = delete;

 private:
  platform::Semaphore FDisarmed{0};
  std::thread FThread;  // last: it uses FDisarmed
};

// Drives one console through a run: the start, the pages, the wait for their
// outcomes, the end.
class TSendRun {
 public:
  TSendRun(const TSendOptions& options, TZVSystemConsole& console, TSendTerminal& terminal,
           bool progress, Clock::time_point started)
      : FOptions(options),
        FConsole(console),
        FTerminal(terminal),
        FProgress(progress),
        FStarted(started),
        FDeadline(started + FOptions.Timeout - kEndMargin) {}

  // Returns once every page has its outcome, the time-out has passed or a
  // signal came (thrown as InputEnded); true when the time-out ended it.
  bool Run() {
    platform::MessageDispatcher& dispatcher = platform::MessageDispatcher::Main();
    bool inputOpen = FOptions.FromInput;
    if (!inputOpen) FConsole.SendOrder(FOptions.Address, FOptions.Text);
    while (true) {
      FTerminal.BeginEventOutput();
      dispatcher.DispatchPending();
      FTerminal.EndEventOutput();
      // One line per pass, as the console takes them: the link's events keep
      // pace with a long batch.
      if (inputOpen && !HoldingEnough() && FTerminal.KeyPressed()) inputOpen = TakeLine();
      CountRefusedLines();
      const bool done = !inputOpen && !FConsole.LinkStarting() && FConsole.PendingResults() == 0;
      FTerminal.Flush();
      const auto now = Clock::now();
      if (FProgress && now - FStarted >= kProgressAfter) FTerminal.ShowProgress(Progress());
      if (done) return false;
      if (now >= FDeadline) return true;
      const auto bound = std::min(
          kPollInterval, std::chrono::duration_cast<std::chrono::milliseconds>(FDeadline - now));
      if (inputOpen && !HoldingEnough()) {
        FTerminal.Wait(bound, dispatcher.WakeFd());
      } else {
        FTerminal.WaitEvents(bound, dispatcher.WakeFd());
      }
    }
  }

 private:
  // Reads and hands on one line; false at the end of input.
  bool TakeLine() {
    std::string line;
    try {
      line = FTerminal.ReadLine(false);
    } catch (const platform::InputEnded& ended) {
      CountRefusedLines();
      if (ended.Signal != 0) throw;
      return false;
    }
    if (Trim(line).empty()) return true;
    // A command would act on the console (or ask at a prompt no one answers).
    if (FConsole.CheckMode(line) != TCmdMode::cmMsg) {
      FConsole.RefuseLine(line, "not a message line (address,text[,carrier,...])");
    } else {
      FConsole.ReadCmdLine(line);
    }
    return true;
  }

  bool HoldingEnough() const { return FConsole.HeldOrderCount() >= kMaxHeldLines; }

  // The terminal has told each line it refused; each is a page not sent.
  void CountRefusedLines() {
    for (platform::Terminal::RefusedLine& line : FTerminal.TakeRefusedLines()) {
      FConsole.CountNotSent(RefusedLinePage(line.Head), std::move(line.Reason));
    }
  }

  std::string Progress() const {
    const TPageLedger& ledger = FConsole.Ledger();
    const int32_t without =
        ledger.Total() - ledger.Answered() - static_cast<int32_t>(ledger.Outstanding());
    return ProgressText({ledger.Total() - ledger.NotSentCount(), ledger.Answered(), without});
  }

  const TSendOptions& FOptions;
  TZVSystemConsole& FConsole;
  TSendTerminal& FTerminal;
  const bool FProgress;
  const Clock::time_point FStarted;
  const Clock::time_point FDeadline;
};

bool WriteAll(std::FILE* stream, const std::string& text) {
  return std::fputs(text.c_str(), stream) >= 0 && std::fflush(stream) == 0;
}

// Standard output as the run writes it (the JSON lines): the first failure
// is kept, and output stops there.
class TOutput {
 public:
  void Write(const std::string& text) {
    if (FError) return;
    if (!WriteAll(stdout, text)) FError = std::strerror(errno != 0 ? errno : EIO);
  }
  const std::optional<std::string>& Error() const { return FError; }

 private:
  std::optional<std::string> FError;
};

// The sends that came to this run while it was the home's owner get their
// outcomes before it ends, within its time-out.
void ServeOthers(TOwnerHost& host, TSendTerminal& terminal, Clock::time_point deadline) {
  platform::MessageDispatcher& dispatcher = platform::MessageDispatcher::Main();
  while ((host.Core().Clients() > 0 || host.Core().InFlight() > 0) && Clock::now() < deadline) {
    terminal.BeginEventOutput();
    dispatcher.DispatchPending();
    terminal.EndEventOutput();
    const auto bound = std::min(
        kPollInterval, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
    if (bound.count() > 0) terminal.WaitEvents(bound, dispatcher.WakeFd());
  }
}

}  // namespace

int RunSend(const TSendOptions& options, std::unique_ptr<platform::Terminal> terminal,
            bool progress, std::chrono::steady_clock::time_point started,
            std::optional<platform::OwnerEndpoint> owner) {
  auto owned = std::make_unique<TSendTerminal>(std::move(terminal), progress ? stderr : nullptr);
  TSendTerminal& term = *owned;
  std::unique_ptr<TZVSystemConsole> console;
  int status = 0;
  TOutput output;
  try {
    console = std::make_unique<TZVSystemConsole>(std::move(owned));
    console->Load();
    TZVSystemConsole::TRunSettings run = options.Run;
    run.Prompt = "";  // no one reads a prompt
    console->UseRunSettings(run);
    std::unique_ptr<TOwnerHost> host;
    if (owner) {
      try {
        host = std::make_unique<TOwnerHost>(*console, std::move(*owner), TOwnerKind::kConsole);
      } catch (const std::exception& e) {
        WriteAll(stderr, std::string("zvcc send: other sends are not served: ") + e.what() + "\n");
      }
    }
    if (options.Json) {
      console->ObservePages([&term, &output](const TPageOutcome& outcome) {
        term.ClearProgress();
        output.Write(OutcomeJson(outcome) + "\n");
      });
    }
    try {
      console->Start();
    } catch (const std::exception& e) {
      throw EZVException(std::string("The link could not start: ") + e.what());
    }
    bool timedOut = false;
    std::string endReason;
    try {
      timedOut = TSendRun(options, *console, term, progress, started).Run();
      if (timedOut) {
        endReason = "the time-out of " + std::to_string(options.Timeout.count()) + " s passed";
      }
    } catch (const platform::InputEnded& signal) {
      status = 128 + signal.Signal;
      endReason = "the run was interrupted";
    }
    if (host) {
      if (status == 0) {
        try {
          ServeOthers(*host, term, started + options.Timeout - kEndMargin);
        } catch (const platform::InputEnded& signal) {
          status = 128 + signal.Signal;
        }
      }
      host.reset();
    }
    if (console->Console().CursorPos().X != 0) console->Console().WriteLn();
    console->Save();
    // Every outcome is told before the link's stop, which may wait for the
    // server.
    console->EndPages(endReason.empty() ? "the link ended" : endReason);
    console->Console().Flush();
    term.ClearProgress();
    if (console->Ledger().Total() > 0) WriteAll(stderr, console->Ledger().Summary() + "\n");
    if (status == 0) status = SendExitStatus(console->Ledger());
    std::optional<std::string> lost = output.Error();
    // The transcript is the output only without --json; beside the JSON
    // lines it goes to standard error.
    if (!lost && !options.Json) lost = term.OutputError();
    if (lost && status < 128) {
      WriteAll(stderr, "zvcc send: the outcomes could not be written: " + *lost + "\n");
      status = kSendStatusFailed;
    }
    {
      const TEndWatch watch(std::max(started + options.Timeout + kEndMargin, Clock::now()),
                            status);
      try {
        console->Stop(endReason);
      } catch (const std::exception& e) {
        console->Console().WriteLn(e.what());  // the server was not told; the pages are told
      }
      console->Console().Flush();
    }
  } catch (const std::exception& e) {
    term.ClearProgress();
    if (console) console->Console().Flush();
    WriteAll(stderr, "zvcc send: " + ErrorReport(e) + "\n");
    status = kSendStatusFailed;
  }
  console.reset();
  return status;
}

int RunSendProgram(const std::vector<std::string>& arguments) {
  const Clock::time_point started = Clock::now();
  const TSendOptions options = ParseSendOptions(arguments);
  switch (options.Action) {
    case TSendAction::kHelp:
      if (WriteAll(stdout, SendUsageText())) return 0;
      WriteAll(stderr, "zvcc: cannot write the output\n");
      return kSendStatusFailed;
    case TSendAction::kUsageError:
      WriteAll(stderr, "zvcc send: " + options.Error + "\nTry 'zvcc send --help'.\n");
      return kSendStatusUsage;
    case TSendAction::kRun:
      break;
  }
  platform::BlockTerminalSignals();
  platform::IgnoreBrokenPipes();
  platform::UseUtf8Characters();
  try {
    const std::string notice = SetUpHome(options.Home);
    if (!notice.empty()) WriteAll(stderr, notice + "\n");
  } catch (const std::exception& e) {
    WriteAll(stderr, "zvcc send: " + ErrorReport(e) + "\n");
    return kSendStatusFailed;
  }
  // A send is a client of its home's owner: one login for every sender of
  // the home, and an outbox that keeps the pages through an outage. With
  // --no-agent and no owner running, the run is the owner itself.
  const std::string home = platform::HomeFolder();
  std::optional<platform::OwnerEndpoint> owner;
  bool alone = false;  // no owner can be had: the run goes as a run of its own
  if (options.NoAgent) {
    try {
      owner = platform::TryBecomeOwner(home);
    } catch (const std::exception& e) {
      WriteAll(stderr, std::string("zvcc send: other sends are not served: ") + e.what() + "\n");
      alone = true;
    }
  }
  if (!owner && !alone) {
    std::vector<TInputLine> lines;
    if (options.FromInput) lines = ReadInputLines(kStandardInput, platform::kMaxLineBytes);
    std::vector<TClientPage> pages = PagesOfRun(options, lines);
    return RunSendThroughOwner(options, home, pages, started);
  }
  // The console's transcript goes where the outcomes are wanted: on standard
  // output, or on standard error beside the JSON lines.
  const int transcript = options.Json ? kStandardError : kStandardOutput;
  const bool progress = options.FromInput && platform::StandardErrorIsTerminal();
  return RunSend(options, platform::CreatePlainTerminal(kStandardInput, transcript), progress,
                 started, std::move(owner));
}

}  // namespace zv
