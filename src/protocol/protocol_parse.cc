// Reading received zVP text. The text is read as UTF-16 because the header's
// positions count UTF-16 units; fields go back to UTF-8 as they are taken out.
#include <utility>

#include "protocol/protocol.h"
#include "support/exceptions.h"
#include "support/int_text.h"
#include "support/text.h"

namespace zv {
namespace {

constexpr char16_t kDateSeparator = 0x1F;
constexpr char16_t kClientSeparator = 0x1D;
constexpr char16_t kHeaderSeparator = 0x02;
constexpr std::size_t kNone = std::u16string_view::npos;

// A text must be longer than the fixed fields before the date received.
constexpr std::size_t kFixedHeaderLength = 23;
// Positions (from 1) and widths of the fixed fields.
constexpr std::size_t kVersionPos = 1, kVersionWidth = 2;
constexpr std::size_t kCommandPos = 3, kCommandWidth = 10;
constexpr std::size_t kResultPos = 13, kResultWidth = 2;
constexpr std::size_t kMsgIdPos = 15, kMsgIdWidth = 8;
constexpr std::size_t kDelimiterPos = 23;
constexpr std::size_t kDateReceivedPos = 24;

// Up to `count` characters from position `first` (from 1), clipped to the text.
std::string Chars(std::u16string_view text, std::size_t first, std::size_t count) {
  if (first - 1 >= text.size()) return {};
  return Utf16ToUtf8(text.substr(first - 1, count));
}

// The characters from index `begin` up to, not including, index `end`; empty
// when either is missing or `end` does not come after `begin`.
std::string Span(std::u16string_view text, std::size_t begin, std::size_t end) {
  if (begin == kNone || end == kNone || end <= begin) return {};
  return Utf16ToUtf8(text.substr(begin, end - begin));
}

std::size_t After(std::size_t index) { return index == kNone ? kNone : index + 1; }

int32_t VersionOf(std::u16string_view text) {
  return TZVProtocol::NormalizeVersion(HexToInt(Chars(text, kVersionPos, kVersionWidth)));
}

void CheckHeader(std::u16string_view text, int32_t version) {
  if (!TZVProtocol::UsedInVersion(version)) return;
  if (text.size() <= kFixedHeaderLength) {
    throw EZVTcpConnection("Message header is corrupted. Required data are missing.");
  }
  if (text.find(kDateSeparator) == kNone) {
    throw EZVTcpConnection("Message header is corrupted. A date separator (0x1F) is missing.");
  }
  if (text.find(kClientSeparator) == kNone) {
    throw EZVTcpConnection(
        "Message header is corrupted. A client data separator (0x1D) is missing.");
  }
  if (text.find(kHeaderSeparator) == kNone) {
    throw EZVTcpConnection("Message header is corrupted. A header separator (0x02) is missing.");
  }
}

std::string ClientInfo(std::u16string_view text, int32_t version) {
  std::string accId;
  if (TZVProtocol::UsedInVersion(version)) {
    accId = Span(text, After(text.find(kClientSeparator)), text.find(kHeaderSeparator));
  }
  if (accId.empty()) throw EZVTcpConnection("An account id is invalid or missing");
  return accId;
}

int32_t MsgId(std::u16string_view text, int32_t version) {
  if (!TZVProtocol::UsedInVersion(version)) return 0;
  // The field is read whole; a text that ends inside it has no message id.
  if (text.size() >= kMsgIdPos - 1 + kMsgIdWidth) {
    if (auto id = TryStrToInt("$" + Chars(text, kMsgIdPos, kMsgIdWidth))) return *id;
  }
  throw EZVTcpConnection("Message id is corrupted or missing");
}

// A zero text (blanks, control characters and "0" only, or nothing) stands for
// "now"; anything else must be a valid hexadecimal date.
TDateTime ReadDate(const std::string& field) {
  return IsZeroText(field) ? TDateTime::Now() : HexToDateTime(field);
}

void Fill(std::u16string_view text, int32_t version, TZVRemoteMsg& msg) {
  const bool headed = TZVProtocol::UsedInVersion(version);
  if (headed) {
    msg.SetMsgResult(HexToInt(Chars(text, kResultPos, kResultWidth)));
    msg.SetFieldDelimit(Chars(text, kDelimiterPos, 1));
    const std::size_t dateSeparator = text.find(kDateSeparator);
    msg.SetDateReceived(ReadDate(Span(text, kDateReceivedPos - 1, dateSeparator)));
    msg.SetDateSent(ReadDate(Span(text, After(dateSeparator), text.find(kClientSeparator))));
  }
  const std::string command = headed ? Trim(Chars(text, kCommandPos, kCommandWidth)) : "";
  msg.SetTcpCommand(TZVProtocol::StrToTcpCmd(command));
  const std::size_t headerEnd = text.find(kHeaderSeparator);
  msg.SetMsg(Utf16ToUtf8(headerEnd == kNone ? text : text.substr(headerEnd + 1)));
  msg.SetTcpMsg(Utf16ToUtf8(text));
}

}  // namespace

std::unique_ptr<TZVRemoteMsg> TZVProtocol::CreateMsgFromTcp(std::string_view tcpString,
                                                            std::string ip) const {
  const std::u16string text = Utf8ToUtf16(tcpString);
  try {
    const int32_t version = VersionOf(text);
    CheckHeader(text, version);
    std::string accId = ClientInfo(text, version);
    const int32_t msgId = MsgId(text, version);
    auto msg = std::make_unique<TZVRemoteMsg>(std::move(accId), std::move(ip), msgId);
    msg->SetProtocol(version);
    Fill(text, version, *msg);
    return msg;
  } catch (const EZVTcpConnection& e) {
    throw EZVTcpConnection(std::string(kProtocolErrorText) + "\r\n" + e.what());
  }
}

void TZVProtocol::FillMsgFromTcp(std::string_view tcpString, int32_t iPPv,
                                 TZVRemoteMsg* rMsg) const {
  if (rMsg) Fill(Utf8ToUtf16(tcpString), iPPv, *rMsg);
}

int32_t TZVProtocol::ReadVersion(std::string_view tcpStr) const {
  return VersionOf(Utf8ToUtf16(tcpStr));
}

std::string TZVProtocol::ReadClientInfo(std::string_view tcpStr, int32_t ippV) const {
  return ClientInfo(Utf8ToUtf16(tcpStr), ippV);
}

int32_t TZVProtocol::ReadMsgId(std::string_view tcpStr, int32_t iPPv) const {
  return MsgId(Utf8ToUtf16(tcpStr), iPPv);
}

std::string TZVProtocol::SetVersion(std::string_view tcpStr, int32_t aVersion) const {
  const std::u16string text = Utf8ToUtf16(tcpStr);
  return StrFormat("%02X", static_cast<unsigned>(NormalizeVersion(aVersion))) +
         Utf16ToUtf8(std::u16string_view(text).substr(text.size() < 2 ? text.size() : 2));
}

}  // namespace zv
