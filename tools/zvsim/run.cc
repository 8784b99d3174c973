#include "zvsim/run.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>

#include "platform/tcp_socket.h"
#include "support/helpers.h"
#include "support/text.h"
#include "zvsim/accounts.h"
#include "zvsim/carrier_source.h"
#include "zvsim/event_log.h"
#include "zvsim/options.h"
#include "zvsim/server.h"
#include "zvsim/transcript.h"

namespace zv::sim {
namespace {

// Set by SIGINT and SIGTERM; the server looks at it between its waits.
std::atomic<bool> gStopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void OnStopSignal(int) { gStopRequested.store(true); }

void Fail(const std::string& text) { std::fprintf(stderr, "zvsim: %s\n", text.c_str()); }

}  // namespace

int RunSimulator(const std::vector<std::string>& args) {
  const TParsedOptions parsed = ParseOptions(args);
  if (parsed.Outcome == TParsedOptions::TOutcome::poHelp) {
    std::fputs(HelpText().c_str(), stdout);
    return kExitOk;
  }
  if (parsed.Outcome == TParsedOptions::TOutcome::poError) {
    Fail(parsed.Error);
    return kExitUsage;
  }
  TSimOptions options = parsed.Options;
  TEventLog log(options.Quiet);
  try {
    if (!IsDottedQuadAddress(options.Address))
      options.Address = platform::TcpSocket::ResolveIPv4(options.Address);
    TZVCarriersConsole carriers =
        options.CarriersFile.empty() ? BuiltInCarriers() : LoadCarrierFile(options.CarriersFile);
    CheckCarrierListReadsBack(carriers, ',');
    auto transcript = options.TranscriptFile.empty()
                          ? std::make_unique<TTranscript>()
                          : std::make_unique<TTranscript>(options.TranscriptFile);
    TAccountBook accounts(options.Accounts);
    TSimContext context{options, accounts, carriers, *transcript, log};
    TSimServer server(context);

    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    std::printf("listening on %s:%u\n", options.Address.c_str(),
                static_cast<unsigned>(server.Port()));
    std::fflush(stdout);
    log.Event(StrFormat("serving %d carriers", static_cast<int>(carriers.Count())));
    server.Run(gStopRequested);
    log.Event("stopped");
    return kExitOk;
  } catch (const std::exception& error) {
    Fail(error.what());
    return kExitFailure;
  }
}

}  // namespace zv::sim
