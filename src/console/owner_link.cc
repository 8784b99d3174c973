#include "console/owner_link.h"

#include <exception>

#include "console/system_console.h"
#include "support/sys_log.h"

namespace zv {

bool TConsoleOwnerLink::Ready() const { return FConsole.PagesGoOut(); }

bool TConsoleOwnerLink::MayStart() const { return FConsole.LinkMayStart(); }

void TConsoleOwnerLink::Start() {
  try {
    FConsole.Start();
  } catch (const std::exception& e) {
    // A start that cannot even begin is tried again after the next pause.
    FConsole.SysLog().LogItem("Connecting", "The link could not start", e.what());
  }
}

int32_t TConsoleOwnerLink::NextNumber() { return FConsole.NextMsgId(); }

std::optional<TOwnerLink::TRefusal> TConsoleOwnerLink::Send(const TOutboxPage& page,
                                                            int32_t number) {
  return FConsole.SendFromOutbox(page, number);
}

void TConsoleOwnerLink::Log(const std::string& action, const std::string& text) {
  FConsole.SysLog().LogItem(action, text, "");
}

}  // namespace zv
