// Sending messages: a message line is a send order (address, text and the
// optional carrier, priority, subject and age limit). The console numbers it,
// logs it and hands it to the server client; the outcome arrives later as a
// message result.
#include <optional>
#include <utility>

#include "console/page_check.h"
#include "console/system_console.h"
#include "link/server_client.h"
#include "support/exceptions.h"
#include "support/sys_log.h"
#include "support/text.h"

namespace zv {
namespace {

constexpr std::string_view kFieldSeparators = ",;";
constexpr std::size_t kMaxMessageFields = 6;

}  // namespace

std::string TZVSystemConsole::ValueOrDefault(const std::string& value,
                                             const std::string& defaultValue) {
  return value.empty() ? defaultValue : value;
}

bool TZVSystemConsole::ProcessMsgLine(const std::string& line) {
  TStringList items = SplitToArray(line, kFieldSeparators);
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i != 1) items[i] = Trim(items[i]);
  }
  if (items.size() > kMaxMessageFields) {
    // Dropping it silently would let the operator believe it went out.
    FConsole->WriteLn("Nothing was sent: a message line has at most six fields");
    // A script must not end as if it had gone out.
    FLedger.NotSent({0, items[0], items[1]}, "a message line has at most six fields");
    return true;
  }
  const std::string carrier = std::to_string(FDefaultCarrier);
  const std::string priority = std::to_string(FDefaultPriority);
  const std::string age = std::to_string(FDefaultAge);
  auto item = [&](std::size_t index, const std::string& defaultValue) {
    return index < items.size() ? items[index] : defaultValue;
  };
  std::string text = items[1];
  if (items.size() == 2 && !text.empty() && text.front() == '"') text = UnquoteText(text);
  SendMsg(items[0], text, item(2, carrier), item(3, priority), item(4, FDefaultSubject),
          item(5, age));
  return true;
}


void TZVSystemConsole::SendMsg(const std::string& address, const std::string& text,
                               const std::string& carrier, const std::string& priority,
                               const std::string& subject, const std::string& age) {
  const std::string wireCarrier = ValueOrDefault(carrier, std::to_string(FDefaultCarrier));
  const std::string wirePriority = ValueOrDefault(priority, std::to_string(FDefaultPriority));
  const std::string wireAge = ValueOrDefault(age, std::to_string(FDefaultAge));
  const std::string wireSubject = ValueOrDefault(subject, FDefaultSubject);
  // Checked before a page is held for a start, so that it is refused at once.
  const std::string why = PageFault(address, text, wireCarrier, wirePriority, wireSubject, wireAge);
  if (!why.empty()) {
    FLedger.NotSent({0, address, text}, why);
    FConsole->WriteLn(
        VisibleText((Trim(address).empty() ? "Nothing was sent: "
                                           : "Nothing was sent to \"" + address + "\": ") +
                    why));
    return;
  }
  if (LinkStarting()) {
    // Framed before the login is answered, the server would refuse it and
    // end the link.
    FHeldOrders.push_back({address, text, carrier, priority, subject, age});
    FConsole->WriteLn(
        VisibleText("The message to \"" + address + "\" waits until the server is ready"));
    return;
  }
  int32_t n = 0;
  try {
    n = NextMsgId();
    // Joined, not formatted: a field may hold any character, NUL included,
    // and the log keeps what is sent.
    const std::string debug = std::to_string(n) + "," + address + "," + text + "," + carrier + "," +
                              priority + "," + subject + "," + age;
    FLog->LogItem("Sending Message", "Sending message to \"" + address + "\"", debug);
    // The seven fields, unquoted: number, carrier, address, priority, age, subject, account.
    const std::string request = std::to_string(n) + "," + wireCarrier + "," + address + "," +
                                wirePriority + "," + wireAge + "," + wireSubject + "," + FUserId;
    const TStringList msgData{text + '\x03' + request};
    if (!FClientServer) {
      const std::string line =
          StrFormat("Not connected to the server on %s:%d", FServerAddress.c_str(), FServerPort);
      FLedger.NotSent({n, address, text}, line);
      ConnectInfoEvent(kConnConnect, line);
      return;
    }
    try {
      // A client left in place by a failed start, or whose link has just
      // ended, would take the page and never answer for it.
      if (!FClientServer->IsActive()) throw EZVException("the link is not up; type start");
      FClientServer->SendMessage(msgData);
      FLedger.Sent({n, address, text});
    } catch (const std::exception& e) {
      // The operator must never believe that a message went out when it did not.
      FLedger.NotSent({n, address, text}, e.what());
      const std::string line =
          "Message " + std::to_string(n) + " to \"" + address + "\" was not sent: " + e.what();
      FLog->LogItem("Message Not Sent", line, debug);
      FConsole->WriteLn(VisibleText(line));
    }
  } catch (const std::exception& e) {
    FLedger.NotSent({n, address, text}, e.what());
    FConsole->WriteLn(e.what());
  }
}

void TZVSystemConsole::SendOrder(const std::string& address, const std::string& text) {
  SendMsg(address, text, {}, {}, {}, {});
}

void TZVSystemConsole::RefuseLine(const std::string& line, const std::string& reason) {
  FLedger.NotSent({0, line, {}}, reason);
  FConsole->WriteLn(VisibleText("Nothing was sent for \"" + line + "\": " + reason));
}

void TZVSystemConsole::SendHeldOrders() {
  std::vector<TMsgOrder> held = std::move(FHeldOrders);
  FHeldOrders.clear();
  for (const TMsgOrder& o : held)
    SendMsg(o.Address, o.Text, o.Carrier, o.Priority, o.Subject, o.Age);
}

void TZVSystemConsole::DropHeldOrders(const std::string& reason) {
  std::vector<TMsgOrder> held = std::move(FHeldOrders);
  FHeldOrders.clear();
  if (!held.empty() && FConsole->CursorPos().X != 0) FConsole->WriteLn();
  for (const TMsgOrder& o : held) {
    FLedger.NotSent({0, o.Address, o.Text}, reason);
    const std::string line = "The message to \"" + o.Address + "\" was not sent: " + reason;
    FLog->LogItem("Message Not Sent", line, o.Address + "," + o.Text);
    FConsole->WriteLn(VisibleText(line));
  }
}

void TZVSystemConsole::EndOutstandingPages(const std::string& reason) {
  const std::vector<TPage> ended = FLedger.EndAll(reason);
  if (ended.empty()) return;
  if (FConsole->CursorPos().X != 0) FConsole->WriteLn();  // not after a standing prompt
  const std::string line =
      std::string(ended.size() == 1 ? "No result for message " : "No result for messages ") +
      TPageLedger::NumberList(ended) + ": " + reason;
  FLog->LogItem("Messages Without Result", line, "");
  FConsole->WriteLn(VisibleText(line));
}

void TZVSystemConsole::MsgFailedEvent(int32_t msgNo, TMsgFailure failure,
                                      const std::string& reason) {
  const std::optional<TPage> page = FLedger.EndWithoutResult(
      msgNo,
      failure == TMsgFailure::mfNotSent ? TPageOutcomeKind::kNotSent : TPageOutcomeKind::kNoResult,
      reason);
  if (!page) return;  // its outcome was told already
  const std::string line =
      "Message " + std::to_string(msgNo) + " to \"" + page->Address + "\"" +
      (failure == TMsgFailure::mfNotSent ? " was not sent: " : ": no result: ") + reason;
  FLog->LogItem(failure == TMsgFailure::mfNotSent ? "Message Not Sent" : "Message Without Result",
                line, "");
  FConsole->WriteLn(VisibleText(line));
  WritePrompt();
}

}  // namespace zv
