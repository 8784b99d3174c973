// TZVRemoteMsg: one request to the server or one reply or notice from it,
// however the server is reached. A record is used by one thread at a time and
// handed over whole.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "protocol/global_types.h"
#include "protocol/msg_global.h"
#include "support/date_time.h"

namespace zv {

class TZVRemoteMsg {
 public:
  // DateReceived is the clock's time now; every other field not given here
  // starts at its neutral value (priority 4, age limit 120, delimiter ",",
  // contact "N/A", command tcpInvalid with the text "TCP_ERROR").
  TZVRemoteMsg(std::string accId, std::string accIp, int32_t msgId);

  // Copies the content, not the identity: the message id, account id, IP
  // address and data size of this record stay as they are.
  void CopyFrom(const TZVRemoteMsg& src);

  int32_t TransactionId() const { return FTransactionId; }
  void SetTransactionId(int32_t value) { FTransactionId = value; }
  int32_t Priority() const { return FPriority; }
  void SetPriority(int32_t value) { FPriority = value; }
  int32_t AgeLimit() const { return FAgeLimit; }
  void SetAgeLimit(int32_t value) { FAgeLimit = value; }
  // A sub-code of the command in requests, the outcome in replies.
  int32_t MsgResult() const { return FMsgResult; }
  void SetMsgResult(int32_t value) { FMsgResult = value; }
  int32_t Protocol() const { return FProtocol; }
  void SetProtocol(int32_t value) { FProtocol = value; }
  const TDateTime& DateReceived() const { return FDateReceived; }
  void SetDateReceived(const TDateTime& value) { FDateReceived = value; }
  const TDateTime& DateSent() const { return FDateSent; }
  void SetDateSent(const TDateTime& value) { FDateSent = value; }
  const std::string& AccountId() const { return FAccountId; }
  void SetAccountId(std::string value) { FAccountId = std::move(value); }
  const std::string& AccountIP() const { return FClientIP; }
  void SetAccountIP(std::string value) { FClientIP = std::move(value); }

  // Sets the text only; TcpCommand keeps its value.
  const std::string& TcpCommandStr() const { return FMsgCommandStr; }
  void SetTcpCommandStr(std::string value) { FMsgCommandStr = std::move(value); }
  // A different command also sets TcpCommandStr to its wire text; writing the
  // current command changes nothing.
  TTcpCommand TcpCommand() const { return FMsgCommand; }
  void SetTcpCommand(TTcpCommand value);

  const std::string& Msg() const { return FMsg; }
  void SetMsg(std::string value) { FMsg = std::move(value); }
  const std::string& ResultMsg() const { return FResultMsg; }
  void SetResultMsg(std::string value) { FResultMsg = std::move(value); }
  const std::string& MsgAddress() const { return FAddress; }
  void SetMsgAddress(std::string value) { FAddress = std::move(value); }
  // The complete zVP text as sent or received.
  const std::string& TcpMsg() const { return FTcpMsg; }
  void SetTcpMsg(std::string value) { FTcpMsg = std::move(value); }
  // Only the first character is the delimiter.
  const std::string& FieldDelimit() const { return FFieldDelimit; }
  void SetFieldDelimit(std::string value) { FFieldDelimit = std::move(value); }
  const std::string& ContactName() const { return FContactName; }
  void SetContactName(std::string value) { FContactName = std::move(value); }
  TZVAddressType AddressType() const { return FAddressType; }
  void SetAddressType(TZVAddressType value) { FAddressType = value; }
  // "unknown", "pager id", ...
  std::string AddressTypeStr() const { return AddressTypeText(FAddressType); }
  // Bytes of UTF-8 text in the frame a received message came in.
  int32_t TcpDataSize() const { return FTcpDataSize; }
  void SetTcpDataSize(int32_t value) { FTcpDataSize = value; }

 private:
  int32_t FTransactionId;
  int32_t FPriority = kPriorityNormal;
  int32_t FAgeLimit = 120;
  int32_t FMsgResult = 0;
  int32_t FProtocol = 0;
  TDateTime FDateReceived;
  TDateTime FDateSent;
  std::string FAccountId;
  std::string FClientIP;
  std::string FMsgCommandStr;
  TTcpCommand FMsgCommand = TTcpCommand::tcpInvalid;
  std::string FMsg;
  std::string FResultMsg;
  std::string FAddress;
  std::string FTcpMsg;
  std::string FFieldDelimit = ",";
  std::string FContactName = "N/A";
  TZVAddressType FAddressType = TZVAddressType::atUnknown;
  int32_t FTcpDataSize = 0;
};

}  // namespace zv
