// The console as its home's owner: the outbox's pages go out through this
// console's link beside the operator's own, and their outcomes go back to the
// owner. The operator's own pages keep their course: sent at once, or told as
// not sent.
#include <utility>

#include "console/page_check.h"
#include "console/system_console.h"
#include "link/server_client.h"
#include "protocol/msg_global.h"
#include "support/exceptions.h"
#include "support/sys_log.h"
#include "support/text.h"

namespace zv {

bool TZVSystemConsole::PagesGoOut() const {
  return FClientServer && FClientServer->IsActive() && FLinkReady && FHeldOrders.empty();
}

bool TZVSystemConsole::LinkMayStart() const {
  if (FOperatorStopped) return false;
  // No link, or one left in place by a failed start: a new start is the
  // owner's to make. A start under way is left to finish.
  return !FClientServer || (!FClientServer->IsActive() && !LinkStarting());
}

std::string TZVSystemConsole::LinkText() const {
  if (FConnectionType == kConnectionRemote) {
    return "tcp " + FServerAddress + ":" + std::to_string(FServerPort);
  }
  return "local";
}

std::string TZVSystemConsole::LinkText(const TRunSettings& run) {
  if (run.ConnectionType == kConnectionRemote && run.ServerIP && run.ServerPort) {
    return "tcp " + *run.ServerIP + ":" + std::to_string(*run.ServerPort);
  }
  if (run.ConnectionType == kConnectionLocal) return "local";
  return {};
}

void TZVSystemConsole::ObserveOwnerPages(TPageLedger::TObserver outcomes,
                                         std::function<void()> ready) {
  FLedger.SetForeignObserver(std::move(outcomes));
  FOnLinkReady = std::move(ready);
}

std::optional<TOwnerLink::TRefusal> TZVSystemConsole::SendFromOutbox(const TOutboxPage& page,
                                                                     int32_t number) {
  const std::string carrier = ValueOrDefault(page.Carrier, std::to_string(FDefaultCarrier));
  const std::string priority = ValueOrDefault(page.Priority, std::to_string(FDefaultPriority));
  const std::string age = ValueOrDefault(page.Age, std::to_string(FDefaultAge));
  const std::string subject = ValueOrDefault(page.Subject, FDefaultSubject);
  if (const std::string bad = PageFault(page.Address, page.Text, carrier, priority, subject,
                                             age);
      !bad.empty()) {
    return TOwnerLink::TRefusal{bad, true};
  }
  if (!PagesGoOut()) return TOwnerLink::TRefusal{"the link is not ready", false};
  const std::string debug = std::to_string(number) + "," + page.Address + "," + page.Text + "," +
                            carrier + "," + priority + "," + subject + "," + age;
  const std::string from = page.Source.empty() ? "elsewhere" : page.Source;
  FLog->LogItem(page.Attempts > 1 ? "Sending Message Again" : "Sending Message",
                "Sending message to \"" + page.Address + "\" from " + from +
                    (page.Attempts > 1 ? " (attempt " + std::to_string(page.Attempts) + ")" : ""),
                debug);
  const std::string request = std::to_string(number) + "," + carrier + "," + page.Address + "," +
                              priority + "," + age + "," + subject + "," + FUserId;
  try {
    FClientServer->SendMessage(TStringList{page.Text + '\x03' + request});
  } catch (const std::exception& e) {
    const std::string line = "Message " + std::to_string(number) + " to \"" + page.Address +
                             "\" was not sent: " + e.what();
    FLog->LogItem("Message Not Sent", line, debug);
    return TOwnerLink::TRefusal{e.what(), true};
  }
  FLedger.Sent({number, page.Address, page.Text, /*Foreign=*/true});
  return std::nullopt;
}

}  // namespace zv
