#include "console/owner_host.h"

#include <unistd.h>

#include <chrono>

#include "console/system_console.h"
#include "support/helpers.h"

namespace zv {

int64_t TOwnerHost::Now() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string TOwnerHost::OutboxPath() { return AppFilePath("Settings", kOutboxFileName); }

TOwnerHost::TOwnerHost(TZVSystemConsole& console, platform::OwnerEndpoint endpoint,
                       TOwnerKind kind, TOwnerCore::TNoticeSink notices)
    : FConsole(console), FOutbox(OutboxPath()), FLink(console) {
  FCore = std::make_unique<TOwnerCore>(FOutbox, FLink, kind, static_cast<int64_t>(::getpid()));
  FCore->SetNoticeSink(std::move(notices));
  FCore->SetLinkText([&console] { return console.LinkText(); });
  FRecovered = FCore->Open(Now(), TOutbox::kRetentionMs);
  FServer = std::make_unique<TOwnerServer>(std::move(endpoint), *FCore, &TOwnerHost::Now);
  TOwnerCore& core = *FCore;
  FConsole.ObserveOwnerPages(
      [&core](const TPageOutcome& outcome) {
        TOutboxState state = TOutboxState::kNoResult;
        if (outcome.Kind == TPageOutcomeKind::kResult) state = TOutboxState::kResult;
        if (outcome.Kind == TPageOutcomeKind::kNotSent) state = TOutboxState::kNotSent;
        core.PageEnded(outcome.Page.Number, state, outcome.Result, outcome.Code, outcome.Reason,
                       outcome.LinkEnded, Now());
      },
      [&core] { core.LinkReady(Now()); });
  TOwnerServer& server = *FServer;
  FWatch = platform::MessageDispatcher::Main().AddWatch(server.Fd(), [&server] { server.Service(); });
}

TOwnerHost::~TOwnerHost() {
  FWatch.reset();
  FConsole.ObserveOwnerPages({}, {});
}

}  // namespace zv
