// What the simulator answers, whichever way a console reaches it (zVP over
// TCP/IP or the local interface on the bus): the texts of its answers and its
// reading of a send order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "carriers/carriers_console.h"
#include "protocol/msg_global.h"

namespace zv::sim {

// Ends the text of a send order and of a send result.
inline constexpr char kResultSeparator = '\x03';

// `text` without control characters: nothing that a console's splitting of a
// result (0x03) or of a reply could misread.
std::string WithoutControls(std::string_view text);

// The description that goes with a login result for `user`.
std::string LoginText(TZVLoginResult result, const std::string& user);

// The description that goes with ending a ready link with `code`.
std::string EndText(int32_t code);
// The description of a notice with `code` that leaves the link up.
std::string NoticeText(int32_t code);

// A send order: the message text, 0x03, then "," between the message number,
// carrier id, address, priority, age limit, subject and account id, none of
// them quoted. Only the subject may hold "," as far as this reading goes: it
// takes the fields before it from the left and the account id from the right.
struct TSendOrder {
  bool Complete = false;  // the text and all seven fields are there
  std::string Text;
  std::string Number;
  std::string Carrier;
  std::string Address;
};

TSendOrder ReadSendOrder(const std::string& body);

// The result of a send, over TCP/IP in the MSG_SEND reply's result field.
enum : int32_t {
  kSendAccepted = 0,
  kSendRefused = 1,  // unknown carrier or incomplete field list
};

// What the server makes of a send order: accepted through the carrier it
// names, or refused, with the text that says which.
struct TSendAnswer {
  int32_t Result = kSendAccepted;
  std::string Text;
  const TZVCarrierConsole* Carrier = nullptr;  // none when refused
};

TSendAnswer AnswerSendOrder(const TSendOrder& order, const TZVCarriersConsole& carriers);

}  // namespace zv::sim
