#include "protocol/remote_msg.h"

#include "protocol/protocol.h"

namespace zv {

TZVRemoteMsg::TZVRemoteMsg(std::string accId, std::string accIp, int32_t msgId)
    : FTransactionId(msgId),
      FDateReceived(TDateTime::Now()),
      FAccountId(std::move(accId)),
      FClientIP(std::move(accIp)),
      FMsgCommandStr(TZVProtocol::TcpCmdToStr(TTcpCommand::tcpInvalid)) {}

void TZVRemoteMsg::CopyFrom(const TZVRemoteMsg& src) {
  FProtocol = src.FProtocol;
  FMsgResult = src.FMsgResult;
  FAddress = src.FAddress;
  FPriority = src.FPriority;
  FAgeLimit = src.FAgeLimit;
  FAddressType = src.FAddressType;
  FDateReceived = src.FDateReceived;
  FDateSent = src.FDateSent;
  FMsgCommandStr = src.FMsgCommandStr;
  FMsgCommand = src.FMsgCommand;
  FMsg = src.FMsg;
  FResultMsg = src.FResultMsg;
  FTcpMsg = src.FTcpMsg;
  FFieldDelimit = src.FFieldDelimit;
  FContactName = src.FContactName;
}

void TZVRemoteMsg::SetTcpCommand(TTcpCommand value) {
  if (value == FMsgCommand) return;
  FMsgCommand = value;
  FMsgCommandStr = TZVProtocol::TcpCmdToStr(value);
}

}  // namespace zv
