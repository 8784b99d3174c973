// Sending messages: a message line is a send order (address, text and the
// optional carrier, priority, subject and age limit). The console numbers it,
// logs it and hands it to the server client; the outcome arrives later as a
// message result.
#include "console/system_console.h"
#include "link/server_client.h"
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
    ++FMsgFailures;  // a script must not end as if it had gone out
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
  try {
    const int32_t n = NextMsgId();
    // Joined, not formatted: a field may hold any character, NUL included,
    // and the log keeps what is sent.
    const std::string debug = std::to_string(n) + "," + address + "," + text + "," + carrier + "," +
                              priority + "," + subject + "," + age;
    FLog->LogItem("Sending Message", "Sending message to \"" + address + "\"", debug);
    // The seven fields, unquoted: number, carrier, address, priority, age, subject, account.
    const std::string request =
        std::to_string(n) + "," + ValueOrDefault(carrier, std::to_string(FDefaultCarrier)) + "," +
        address + "," + ValueOrDefault(priority, std::to_string(FDefaultPriority)) + "," +
        ValueOrDefault(age, std::to_string(FDefaultAge)) + "," +
        ValueOrDefault(subject, FDefaultSubject) + "," + FUserId;
    const TStringList msgData{text + '\x03' + request};
    if (!FClientServer) {
      ++FMsgFailures;
      ConnectInfoEvent(1, StrFormat("Not connected to the server on %s:%d", FServerAddress.c_str(),
                                    FServerPort));
      return;
    }
    try {
      FClientServer->SendMessage(msgData);
      ++FPendingResults;
    } catch (const std::exception& e) {
      // The operator must never believe that a message went out when it did not.
      ++FMsgFailures;
      const std::string line =
          "Message " + std::to_string(n) + " to \"" + address + "\" was not sent: " + e.what();
      FLog->LogItem("Message Not Sent", line, debug);
      FConsole->WriteLn(line);
    }
  } catch (const std::exception& e) {
    FConsole->WriteLn(e.what());
  }
}

void TZVSystemConsole::MsgFailedEvent(int32_t msgNo, TMsgFailure failure,
                                      const std::string& reason) {
  if (FPendingResults > 0) --FPendingResults;
  ++FMsgFailures;
  const std::string line =
      "Message " + std::to_string(msgNo) +
      (failure == TMsgFailure::mfNotSent ? " was not sent: " : " got no result: ") + reason;
  FLog->LogItem(failure == TMsgFailure::mfNotSent ? "Message Not Sent" : "Message Without Result",
                line, "");
  FConsole->WriteLn(VisibleText(line));
  WritePrompt();
}

}  // namespace zv
