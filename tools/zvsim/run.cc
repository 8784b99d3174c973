#include "zvsim/run.h"

#include <poll.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>

#include "platform/dbus_connection.h"
#include "platform/deadline_poll.h"
#include "platform/host_lookup.h"
#include "platform/tcp_socket.h"
#include "support/helpers.h"
#include "support/text.h"
#include "zvsim/accounts.h"
#include "zvsim/bus_server.h"
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

// How often the stop flag is looked at, at the latest.
constexpr std::chrono::milliseconds kStopCheck(100);

// Serves TCP/IP consoles and the bus from one poll until `stop` is set or
// nothing is left to serve (the bus side ended and there is no TCP/IP side).
// Returns whether the bus connection broke.
bool Serve(TSimServer* tcp, std::unique_ptr<TSimBusServer> bus, const std::atomic<bool>& stop) {
  bool broken = false;
  while (!stop.load() && (tcp || bus)) {
    pollfd fds[2] = {{tcp ? tcp->Fd() : -1, POLLIN, 0}, {bus ? bus->Fd() : -1, POLLIN, 0}};
    platform::PollUntil(fds, 2, platform::DeadlineAfter(kStopCheck));
    if (tcp) {
      if (fds[0].revents != 0) tcp->AcceptWaiting();
      tcp->Reap();
    }
    // Every pass, not only when readable: the bus may hold work it has
    // already read.
    if (bus && !bus->Process()) {
      broken = !bus->Failure().empty();
      bus.reset();
    }
  }
  if (tcp) tcp->StopAll();
  return broken;
}

}  // namespace

int RunSimulator(const std::vector<std::string>& args) {
  const TParsedOptions parsed = ParseOptions(args);
  if (parsed.Outcome == TParsedOptions::TOutcome::poHelp) {
    std::fputs(HelpText().c_str(), stdout);
    return kExitOk;
  }
  if (parsed.Outcome == TParsedOptions::TOutcome::poVersion) {
    std::fputs(VersionText().c_str(), stdout);
    return kExitOk;
  }
  if (parsed.Outcome == TParsedOptions::TOutcome::poError) {
    Fail(parsed.Error);
    std::fprintf(stderr, "%.*s\n", static_cast<int>(kUsageHint.size()), kUsageHint.data());
    return kExitUsage;
  }
  TSimOptions options = parsed.Options;
  TEventLog log(options.Quiet);
  try {
    if (!IsDottedQuadAddress(options.Address))
      options.Address = platform::ResolveIPv4(options.Address);
    TZVCarriersConsole carriers =
        options.CarriersFile.empty() ? BuiltInCarriers() : LoadCarrierFile(options.CarriersFile);
    CheckCarrierListReadsBack(carriers, ',');
    auto transcript = options.TranscriptFile.empty()
                          ? std::make_unique<TTranscript>()
                          : std::make_unique<TTranscript>(options.TranscriptFile);
    TAccountBook accounts(options.Accounts);
    TSimContext context{options, accounts, carriers, *transcript, log};
    std::unique_ptr<TSimServer> server;
    if (options.ServeTcp) server = std::make_unique<TSimServer>(context);
    std::unique_ptr<TSimBusServer> bus;
    if (options.Bus)
      bus = std::make_unique<TSimBusServer>(context, platform::DBusConnection::Open(*options.Bus));

    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    if (server) {
      std::printf("listening on %s:%u\n", options.Address.c_str(),
                  static_cast<unsigned>(server->Port()));
    }
    if (bus) std::printf("serving org.zorvane.Server on the bus\n");
    std::fflush(stdout);
    log.Event(StrFormat("serving %d carriers", static_cast<int>(carriers.Count())));
    const bool broken = Serve(server.get(), std::move(bus), gStopRequested);
    log.Event("stopped");
    return broken ? kExitFailure : kExitOk;
  } catch (const std::exception& error) {
    Fail(error.what());
    return kExitFailure;
  }
}

}  // namespace zv::sim
