#include "console/console_owner.h"

#include <exception>

#include "console/agent_run.h"
#include "console/owner_host.h"
#include "console/owner_takeover.h"
#include "console/system_console.h"
#include "platform/spawn_detached.h"
#include "protocol/msg_global.h"
#include "support/text.h"

namespace zv {
namespace {

// The agent a console leaves behind stays as long as one started by a send.
constexpr std::chrono::minutes kAgentIdle{10};

std::string Pages(int n) { return std::to_string(n) + (n == 1 ? " page" : " pages"); }

// What the operator sees of the pages from elsewhere: one line when one
// arrives, one with its outcome where the link's own lines do not tell it.
void ShowNotice(TZVSystemConsole& console, const TOwnerCore::TNotice& notice) {
  const TOutboxPage& p = notice.Page;
  const std::string from = p.Source.empty() ? "elsewhere" : p.Source;
  std::string line;
  if (notice.Arrived) {
    line = "A page from " + from + " to \"" + p.Address + "\" waits in the outbox (#" +
           std::to_string(p.Id) + ")";
  } else if (p.State == TOutboxState::kResult) {
    line = "The page from " + from + " to \"" + p.Address + "\" (message " +
           std::to_string(p.Number) + ") has its result";
  } else {
    line = "The page from " + from + " to \"" + p.Address + "\" (#" + std::to_string(p.Id) +
           ") ended: " + std::string(OutboxStateText(p.State)) +
           (p.Reason.empty() ? "" : " (" + p.Reason + ")");
  }
  console.ConnectInfoEvent(kConnConnect, VisibleText(line));
}

}  // namespace

std::unique_ptr<TOwnerHost> BeginOwnership(TZVSystemConsole& console, const std::string& home) {
  TOwnership own = BecomeOwner(home);
  if (!own.Endpoint) {
    console.Console().WriteLn(VisibleText("The home's senders are not served by this console: " +
                                          own.Error));
    return nullptr;
  }
  try {
    auto host = std::make_unique<TOwnerHost>(
        console, std::move(*own.Endpoint), TOwnerKind::kConsole,
        [&console](const TOwnerCore::TNotice& notice) { ShowNotice(console, notice); });
    if (own.TakenOver >= 0) {
      console.Console().WriteLn("The agent of this home handed over; " + Pages(own.TakenOver) +
                                " from elsewhere wait in the outbox");
    } else if (host->Recovered() > 0) {
      console.Console().WriteLn(Pages(host->Recovered()) +
                                " of the last owner go out again once the link is ready");
    }
    return host;
  } catch (const std::exception& e) {
    console.Console().WriteLn(VisibleText(
        std::string("The home's senders are not served by this console: ") + e.what()));
    return nullptr;
  }
}

void EndOwnership(TZVSystemConsole& console, std::unique_ptr<TOwnerHost> host,
                  const std::string& home) {
  if (!host) return;
  int waiting = 0;
  try {
    waiting = host->Waiting();
  } catch (const std::exception&) {
  }
  host.reset();  // lets go of the home: the agent can take it
  if (waiting == 0) return;
  try {
    platform::SpawnDetached(platform::OwnProgramFile(),
                            AgentArguments(home, TZVSystemConsole::TRunSettings{}, kAgentIdle));
    console.Console().WriteLn(Pages(waiting) +
                              " from elsewhere still wait: the agent carries them on");
  } catch (const std::exception& e) {
    console.Console().WriteLn(VisibleText(Pages(waiting) + " from elsewhere still wait in the "
                                          "outbox, and the agent could not start: " + e.what()));
  }
}

}  // namespace zv
