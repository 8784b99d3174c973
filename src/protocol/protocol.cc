#include "protocol/protocol.h"

#include <array>
#include <utility>

#include "support/text.h"

namespace zv {
namespace {

constexpr std::array<std::string_view, kTcpCommandCount> kTcpCommandTexts = {
    "TCP_ERROR", "CONNECT",   "LOGIN",    "LOAD",     "OBJ_NEW",   "OBJ_SAVE",
    "OBJ_DEL",   "QUERY_RUN", "ACC_CHNG", "MSG_SEND", "SEND_ESCLT"};

// The command field is as wide as the longest wire text, "SEND_ESCLT".
constexpr std::size_t kCommandWidth = 10;

constexpr char kDateSeparator = '\x1F';
constexpr char kClientSeparator = '\x1D';
constexpr char kHeaderSeparator = '\x02';
constexpr char kSendItemSeparator = '\x1E';

constexpr std::string_view kLoadBody = "Loading carrier objects from Zorvane Server";

// The one character a delimiter field holds: the first UTF-16 unit of
// `delimit` (a lone surrogate becomes U+FFFD), "," when it is empty or one of
// the header's separators, which the peer would take for the end of a field
// that comes later (a received record may carry any delimiter).
std::string DelimiterChar(const std::string& delimit) {
  const std::u16string units = Utf8ToUtf16(delimit);
  if (units.empty() || units[0] == kDateSeparator || units[0] == kClientSeparator ||
      units[0] == kHeaderSeparator) {
    return ",";
  }
  return Utf16ToUtf8(std::u16string_view(units).substr(0, 1));
}

std::string BuildHeader(const TZVRemoteMsg& msg) {
  if (!TZVProtocol::UsedInVersion(msg.Protocol())) return {};
  std::string command = msg.TcpCommandStr();
  const std::size_t width = Utf16Length(command);
  if (width > kCommandWidth) {
    command = Utf16ToUtf8(std::u16string_view(Utf8ToUtf16(command)).substr(0, kCommandWidth));
  }
  std::string header = StrFormat("%02X", static_cast<unsigned>(msg.Protocol()));
  if (width < kCommandWidth) header.append(kCommandWidth - width, ' ');
  header += command;
  header += StrFormat("%02X%08X", static_cast<unsigned>(msg.MsgResult()) & 0xFFu,
                      static_cast<unsigned>(msg.TransactionId()));
  header += DelimiterChar(msg.FieldDelimit());
  header += DateTimeToHex(msg.DateReceived());
  header += kDateSeparator;
  header += DateTimeToHex(msg.DateSent());
  header += kClientSeparator;
  header += msg.AccountId();
  return header;
}

}  // namespace

// --- Builders

std::unique_ptr<TZVRemoteMsg> TZVProtocol::CreateBaseMsg(TZVProtocolSession& session,
                                                         std::string accId, std::string accIp,
                                                         TTcpCommand tcpCmd) const {
  return CreateBaseMsg(std::move(accId), std::move(accIp), tcpCmd, session.NextMsgId());
}

std::unique_ptr<TZVRemoteMsg> TZVProtocol::CreateBaseMsg(std::string accId, std::string accIp,
                                                         TTcpCommand tcpCmd, int32_t aId) const {
  auto msg = std::make_unique<TZVRemoteMsg>(std::move(accId), std::move(accIp), aId);
  msg->SetTcpCommand(tcpCmd);
  return msg;
}

std::unique_ptr<TZVRemoteMsg> TZVProtocol::CreateSessionMsg(TZVProtocolSession& session,
                                                            std::string accId, std::string accIp,
                                                            TTcpCommand tcpCmd, int32_t result,
                                                            std::string body) const {
  auto msg = CreateBaseMsg(session, std::move(accId), std::move(accIp), tcpCmd);
  msg->SetProtocol(session.SessionProtocol());
  msg->SetMsgResult(result);
  msg->SetMsg(std::move(body));
  msg->SetTcpMsg(CreateTcpMsg(*msg));
  return msg;
}

std::unique_ptr<TZVRemoteMsg> TZVProtocol::CreateLoginMsg(TZVProtocolSession& session,
                                                          const std::string& accId,
                                                          const std::string& accPassword,
                                                          const std::string& accIp,
                                                          int32_t encoded) const {
  auto msg = CreateBaseMsg(session, accId, accIp, TTcpCommand::tcpLogin);
  msg->SetProtocol(session.SessionProtocol());
  if (UsedInVersion(msg->Protocol())) {
    const std::string d = DelimiterChar(msg->FieldDelimit());
    msg->SetMsg(accId + d + accPassword + d + std::to_string(encoded));
  }
  msg->SetTcpMsg(CreateTcpMsg(*msg));
  return msg;
}

std::unique_ptr<TZVRemoteMsg> TZVProtocol::CreateLoadMsg(TZVProtocolSession& session,
                                                         std::string accId, std::string accIp,
                                                         TZVLoadResult loadType) const {
  return CreateSessionMsg(session, std::move(accId), std::move(accIp), TTcpCommand::tcpLoad,
                          static_cast<int32_t>(loadType), std::string(kLoadBody));
}

std::unique_ptr<TZVRemoteMsg> TZVProtocol::CreateSendMsg(std::string accId, std::string accIp,
                                                         const TStringList& msgData,
                                                         int32_t ippv) const {
  auto msg = CreateBaseMsg(std::move(accId), std::move(accIp), TTcpCommand::tcpSendMsg, 0);
  msg->SetProtocol(ippv);
  std::string body;
  for (std::size_t i = 0; i < msgData.size(); ++i) {
    if (i > 0) body += kSendItemSeparator;
    body += msgData[i];
  }
  msg->SetMsg(std::move(body));
  msg->SetTcpMsg(CreateTcpMsg(*msg));
  return msg;
}

std::unique_ptr<TZVRemoteMsg> TZVProtocol::CreateQuitMsg(TZVProtocolSession& session,
                                                         std::string accId, std::string accIp,
                                                         int32_t iPPv) const {
  auto msg = CreateBaseMsg(session, std::move(accId), std::move(accIp), TTcpCommand::tcpConnect);
  msg->SetProtocol(iPPv);
  msg->SetMsgResult(kConnRequesting);
  msg->SetTcpMsg(CreateTcpMsg(*msg));
  return msg;
}

std::unique_ptr<TZVRemoteMsg> TZVProtocol::CreateConnectMsg(TZVProtocolSession& session,
                                                            std::string accId, std::string accIp,
                                                            const std::string& serverAddress,
                                                            int32_t port, bool reconnect) const {
  std::string body =
      reconnect ? "Trying to reconnect to " + serverAddress + ":" + std::to_string(port)
                : StrFormat("Connecting to Zorvane Server on %s:%d", serverAddress.c_str(), port);
  return CreateSessionMsg(session, std::move(accId), std::move(accIp), TTcpCommand::tcpConnect,
                          kConnConnect, std::move(body));
}

std::unique_ptr<TZVRemoteMsg> TZVProtocol::CreateLogoutMsg(TZVProtocolSession& session,
                                                           std::string accId,
                                                           std::string accIp) const {
  std::string body = "Account \"" + accId + "\" logging out from Zorvane Server";
  return CreateSessionMsg(session, std::move(accId), std::move(accIp), TTcpCommand::tcpConnect,
                          kConnUserDisconnects, std::move(body));
}

std::unique_ptr<TZVRemoteMsg> TZVProtocol::CreateReadyMsg(TZVProtocolSession& session,
                                                          std::string accId,
                                                          std::string accIp) const {
  std::string body = "Client \"" + accId + "\" on " + accIp + " ready to communicate.";
  return CreateSessionMsg(session, std::move(accId), std::move(accIp), TTcpCommand::tcpConnect,
                          kConnClientReady, std::move(body));
}

std::unique_ptr<TZVRemoteMsg> TZVProtocol::CreateDeleteAllMsg(TZVProtocolSession& session,
                                                              std::string accId,
                                                              std::string accIp) const {
  return CreateSessionMsg(session, std::move(accId), std::move(accIp), TTcpCommand::tcpDeleteObject,
                          static_cast<int32_t>(TZVLoadResult::sorMsg), "0");
}

std::unique_ptr<TZVRemoteMsg> TZVProtocol::CreateDeleteOldMsg(TZVProtocolSession& session,
                                                              std::string accId, std::string accIp,
                                                              int32_t days) const {
  return CreateSessionMsg(session, std::move(accId), std::move(accIp), TTcpCommand::tcpDeleteObject,
                          static_cast<int32_t>(TZVLoadResult::sorMsg), "1," + std::to_string(days));
}

std::unique_ptr<TZVRemoteMsg> TZVProtocol::CreateDeleteOneMsg(TZVProtocolSession& session,
                                                              std::string accId, std::string accIp,
                                                              int32_t msgId) const {
  return CreateSessionMsg(session, std::move(accId), std::move(accIp), TTcpCommand::tcpDeleteObject,
                          static_cast<int32_t>(TZVLoadResult::sorMsg),
                          "2," + std::to_string(msgId));
}

std::string TZVProtocol::CreateTcpMsg(const TZVRemoteMsg& aMsg) const {
  std::string text = BuildHeader(aMsg);
  text += kHeaderSeparator;
  text += aMsg.Msg();
  return text;
}

// --- Versions

int32_t TZVProtocol::NormalizeVersion(int32_t version) {
  if (version < kProtocolV11) return kProtocolV11;
  return version < kProtocolMax ? version : kProtocolMax;
}

bool TZVProtocol::UsedInVersion(int32_t iPPV) {
  return iPPV == kProtocolV11 || iPPV == kProtocolV12;
}

std::string TZVProtocol::VersionToStr(int32_t aVersion) {
  const auto bits = static_cast<unsigned>(aVersion);
  return StrFormat("zVP %X.%X", (bits >> 4) & 0xFu, bits & 0xFu);
}

bool TZVProtocol::CheckVersion(int32_t iPPV, std::string& errorMsg) {
  errorMsg.clear();
  if (!UsedInVersion(iPPV)) {
    errorMsg = StrFormat("%s. The server cannot handle \"%s\" protocol.",
                         std::string(kProtocolErrorText).c_str(), VersionToStr(iPPV).c_str());
  }
  return errorMsg.empty();
}

void TZVProtocol::GetStrings(std::vector<TZVVersionItem>& strings) {
  strings.clear();
  for (const int32_t version : {kProtocolV11, kProtocolV12}) {
    strings.push_back({VersionToStr(version), version});
  }
}

// --- Commands

std::string TZVProtocol::TcpCmdToStr(TTcpCommand cmd) {
  const auto index = static_cast<std::size_t>(cmd);
  return std::string(index < kTcpCommandTexts.size() ? kTcpCommandTexts[index]
                                                     : kTcpCommandTexts[0]);
}

TTcpCommand TZVProtocol::StrToTcpCmd(std::string_view cmdStr) {
  const std::string upper = UpperCaseAscii(cmdStr);
  for (std::size_t i = 0; i < kTcpCommandTexts.size(); ++i) {
    if (upper == kTcpCommandTexts[i]) return static_cast<TTcpCommand>(i);
  }
  return TTcpCommand::tcpInvalid;
}

}  // namespace zv
