#include "link/link_session.h"

#include <exception>
#include <utility>

#include "carriers/carriers_console.h"
#include "link/link_context.h"
#include "protocol/protocol.h"
#include "protocol/remote_msg.h"
#include "support/exceptions.h"
#include "support/helpers.h"
#include "support/int_text.h"

namespace zv {
namespace {

char DelimiterOf(const TZVRemoteMsg& msg) {
  return msg.FieldDelimit().empty() ? ',' : msg.FieldDelimit().front();
}

}  // namespace

TZVLinkSession::TZVLinkSession(const TZVProtocol& protocol, TZVLinkContext& context,
                               std::string peerAddress)
    : FProtocol(protocol), FContext(context), FPeerAddress(std::move(peerAddress)) {}

void TZVLinkSession::Append(const char* data, std::size_t size) {
  if (!FEnded) FReader.Append(data, size);
}

bool TZVLinkSession::HasRecord() const {
  return !FWaiting.empty() || (!FEnded && FReader.HasFrame());
}

std::optional<TLinkRecord> TZVLinkSession::Next() {
  while (FWaiting.empty() && !FEnded && FReader.HasFrame()) {
    try {
      if (const std::optional<std::string> text = FReader.Next()) Decode(*text);
    } catch (const std::exception& e) {
      FWaiting.push_back(Lost(e.what()));
    }
  }
  if (FWaiting.empty()) return std::nullopt;
  TLinkRecord record = std::move(FWaiting.front());
  FWaiting.pop_front();
  if (record.Kind == TLinkRecord::TKind::lrLost) {
    FEnded = true;
    FWaiting.clear();
  }
  return record;
}

TLinkRecord TZVLinkSession::Lost(const std::string& reason) {
  TLinkRecord record;
  record.Kind = TLinkRecord::TKind::lrLost;
  record.Info.Msg = reason;
  return record;
}

void TZVLinkSession::PushInfo(const TZVRemoteMsg& msg, TTcpCommand cmd, bool success,
                              const std::string& text) {
  TLinkRecord record;
  record.Info =
      TTcpInfo{cmd, text, msg.TcpMsg(), msg.AccountId(), msg.MsgResult(), msg.TransactionId()};
  record.Success = success;
  FWaiting.push_back(std::move(record));
}

void TZVLinkSession::Decode(const std::string& text) {
  const std::unique_ptr<TZVRemoteMsg> msg = FProtocol.CreateMsgFromTcp(text, FPeerAddress);
  msg->SetTcpDataSize(static_cast<int32_t>(text.size()));
  FContext.SetSessionProtocol(msg->Protocol());
  switch (msg->TcpCommand()) {
    case TTcpCommand::tcpInvalid:
      PushInfo(*msg, TTcpCommand::tcpInvalid, false, msg->Msg());
      break;
    case TTcpCommand::tcpConnect:
      PushInfo(*msg, TTcpCommand::tcpConnect, IsConnectSuccess(msg->MsgResult()), msg->Msg());
      break;
    case TTcpCommand::tcpLogin:
      PushInfo(*msg, TTcpCommand::tcpLogin, true, msg->Msg());
      break;
    case TTcpCommand::tcpLoad:
      DecodeLoad(*msg);
      break;
    case TTcpCommand::tcpSendMsg:
    case TTcpCommand::tcpSendMsgEsc: {
      TLinkRecord record;
      record.Kind = TLinkRecord::TKind::lrMsgResult;
      record.Result =
          std::make_unique<TZVRemoteMsg>(msg->AccountId(), msg->AccountIP(), msg->TransactionId());
      record.Result->CopyFrom(*msg);
      SplitMsgResult(*record.Result, DelimiterOf(*msg));
      FWaiting.push_back(std::move(record));
      break;
    }
    default:
      break;  // requests of the server's own kinds: nothing for a console
  }
}

void TZVLinkSession::DecodeLoad(const TZVRemoteMsg& msg) {
  const auto result = static_cast<TZVLoadResult>(msg.MsgResult() & 0xFF);
  bool success = true;
  if (result == TZVLoadResult::sorCarrierSum || result == TZVLoadResult::sorCarrierSumOk) {
    // The list is built aside and handed over whole, before the load result:
    // the main thread never sees it half done.
    TLinkRecord list;
    list.Kind = TLinkRecord::TKind::lrCarriers;
    list.Carriers = std::make_unique<TZVCarriersConsole>();
    try {
      list.Carriers->FromTcpStr(msg.Msg(), DelimiterOf(msg), msg.Protocol());
    } catch (const std::exception& e) {
      FWaiting.push_back(std::move(list));  // the carriers before the bad record, as read
      // A list that cannot be read is the server's fault, as a bad header is.
      throw EZVTcpConnection(std::string(kProtocolErrorText) +
                             "\r\nThe carrier list cannot be read: " + e.what());
    }
    FWaiting.push_back(std::move(list));
  } else if (result == TZVLoadResult::sorCarrierSumError) {
    success = false;
  }
  // A refusal carries the server's own reason, which the operator is shown.
  const std::string failure =
      msg.Msg().empty() ? "Error loading carrier objects from Zorvane Server" : msg.Msg();
  PushInfo(msg, TTcpCommand::tcpLoad, success,
           success ? "Carrier objects successfully loaded from Zorvane Server" : failure);
  TLinkRecord log;
  log.Kind = TLinkRecord::TKind::lrLog;
  log.Caption = "Loading " + LoadResultObjectStr(result, true);
  log.Info.Msg = msg.Msg();
  log.Info.Debug = msg.TcpMsg();
  FWaiting.push_back(std::move(log));
}

void TZVLinkSession::SplitMsgResult(TZVRemoteMsg& msg, char delimiter) {
  const std::string body = msg.Msg();
  const std::size_t p = body.find('\x03');
  std::string fields;
  if (p == std::string::npos) {
    msg.SetResultMsg("");
    fields = body;
  } else {
    msg.SetResultMsg(body.substr(0, p));
    fields = body.substr(p + 1);
  }
  const TStringList items = SplitDelimited(fields, delimiter);
  if (items.size() > 2) {
    msg.SetMsgAddress(items[0]);
    msg.SetAddressType(AddressTypeFromInt(StrToIntDef(items[1], 0)));
    msg.SetMsg(items[2]);
  }
  if (items.size() > 3) msg.SetContactName(items[3]);
}

}  // namespace zv
