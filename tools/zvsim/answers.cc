#include "zvsim/answers.h"

#include <vector>

#include "support/int_text.h"
#include "support/text.h"

namespace zv::sim {

std::string WithoutControls(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x20) out += c;
  }
  return out;
}

std::string LoginText(TZVLoginResult result, const std::string& user) {
  switch (result) {
    case TZVLoginResult::slrLoginOK:
      return "Account \"" + user + "\" logged in to Zorvane Server";
    case TZVLoginResult::slrAccountDisabled:
      return "Login refused: account \"" + user + "\" is disabled";
    case TZVLoginResult::slrDuplicateLogin:
      return "Login refused: account \"" + user + "\" is already logged in";
    default:
      return "Login refused: wrong account name or password";
  }
}

std::string EndText(int32_t code) {
  switch (code) {
    case kConnExcess:
      return "Zorvane Server ends the connection: too many connections";
    case kConnServerDisconnects:
      return "Zorvane Server disconnects the client";
    case kConnAdminDisconnects:
      return "An administrator disconnected the client from Zorvane Server";
    default:
      return "Zorvane Server disconnects the client after a time-out";
  }
}

std::string NoticeText(int32_t code) {
  return StrFormat("Zorvane Server notice %d: the link stays up", static_cast<int>(code));
}

TSendOrder ReadSendOrder(const std::string& body) {
  TSendOrder order;
  const std::size_t separator = body.find(kResultSeparator);
  if (separator == std::string::npos) return order;
  order.Text = body.substr(0, separator);
  std::vector<std::string> fields;
  std::string_view rest = std::string_view(body).substr(separator + 1);
  for (std::size_t comma; (comma = rest.find(',')) != std::string_view::npos;) {
    fields.emplace_back(rest.substr(0, comma));
    rest.remove_prefix(comma + 1);
  }
  fields.emplace_back(rest);
  if (fields.size() < 7) return order;
  order.Complete = true;
  order.Number = fields[0];
  order.Carrier = fields[1];
  order.Address = fields[2];
  return order;
}

TSendAnswer AnswerSendOrder(const TSendOrder& order, const TZVCarriersConsole& carriers) {
  TSendAnswer answer;
  if (!order.Complete) {
    answer.Result = kSendRefused;
    answer.Text = "Message refused: its field list is incomplete";
    return answer;
  }
  answer.Carrier = carriers.FindObject(StrToIntDef(Trim(order.Carrier), -1));
  if (answer.Carrier == nullptr) {
    answer.Result = kSendRefused;
    answer.Text = "Message " + order.Number + " refused: there is no carrier " + order.Carrier;
    return answer;
  }
  answer.Text = "Message " + order.Number + " accepted for " + order.Address + " through carrier " +
                answer.Carrier->ObjectIdStr() + " (" + answer.Carrier->ObjectName() + ")";
  return answer;
}

}  // namespace zv::sim
