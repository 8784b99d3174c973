#include "console/system_console.h"

#include "carriers/carriers_console.h"
#include "carriers/xml_carrier.h"
#include "link/msg_buffer.h"
#include "link/server_client.h"
#include "platform/host_address.h"
#include "platform/message_queue.h"
#include "protocol/protocol.h"
#include "protocol/remote_msg.h"
#include "support/login_data.h"
#include "support/sys_log.h"
#include "support/text.h"

namespace zv {

TZVSystemConsole::TZVSystemConsole(std::unique_ptr<platform::Terminal> terminal) {
  FConsole = std::make_unique<TZVConsole>(std::move(terminal), *this);
  FUserId = "TerminalAgent";
  FProtocolMax = 18;
  FTcpProtocol = std::make_unique<TZVProtocol>();
  FHostAddress = platform::LocalHostAddress();
  FCommandMode = TCmdMode::cmSet;
  FCarriers = std::make_unique<TZVCarriersConsole>();
  FLog = std::make_unique<TSysLog>(FDebugMode);
  FOwnQueue = std::make_unique<platform::MessageQueue>(Dispatcher());
}

// The link goes first, whatever path led here: its threads use the log, the
// protocol object and the carriers.
TZVSystemConsole::~TZVSystemConsole() {
  try {
    Stop();
  } catch (...) {
    // Without the operator's stop no logout notice is sent, so nothing to tell.
  }
  TXmlCarrier::SetWarningSink(nullptr);  // it writes on this console
}

bool TZVSystemConsole::IsConnected() const { return FClientServer && FClientServer->IsActive(); }

bool TZVSystemConsole::UserDisconnects() const {
  return FClientServer && FClientServer->UserDisconnects();
}

void TZVSystemConsole::SetUserDisconnects(bool value) {
  if (FClientServer) FClientServer->SetUserDisconnects(value);
}

std::string TZVSystemConsole::EncodeLoginData(const std::string& encodedStr, int encoding) {
  return zv::EncodeLoginData(encodedStr, encoding);
}

std::string TZVSystemConsole::DecodeLoginData(const std::string& encodedStr, int encoding) {
  return zv::DecodeLoginData(encodedStr, encoding);
}

void TZVSystemConsole::WritePrompt() {
  FConsole->Write(FCmdPrompt);
  FConsole->Flush();
}

void TZVSystemConsole::ConnectInfoEvent(int32_t resultCode, const std::string& resultMsg) {
  const bool tcp = FConnectionType == kConnectionRemote;
  const std::string p = tcp ? "\r\n" : "";
  enum class After { kNothing, kPrompt, kPromptOnTcp };
  std::string text;
  After after = After::kNothing;
  switch (resultCode) {
    case kConnConnect:
      text = resultMsg;
      break;
    case kConnFailed:
      text =
          "\r\nCannot find Zorvane Server\r\n"
          "- Check whether the server is installed and registered on the machine\r\n"
          "- Reported error: " +
          resultMsg;
      after = After::kPrompt;
      break;
    case kConnFailedStop:
      text =
          "\r\nCannot find Zorvane Server\r\n"
          "- Check the server IP address and port number\r\n"
          "- Check whether the server is running\r\n"
          "- Check your network connection\r\n"
          "- Reported error: " +
          resultMsg;
      after = After::kPrompt;
      break;
    case kConnExcess:
    case kConnNotConnected:
      text = p + resultMsg;
      after = After::kPromptOnTcp;
      break;
    case kConnServerDisconnects:
    case kConnAdminDisconnects:
    case kConnTimeoutDisconnects:  // the server ended an idle link: the operator is told why
      text = "\r\n" + resultMsg;
      after = After::kPrompt;
      break;
    case kConnLost:
      text = "\r\nLost connection to the server\r\n" + resultMsg;
      after = After::kPromptOnTcp;
      break;
    case kConnClientReady:
      text = p + "Connected to the server" + "\r\n" + resultMsg;
      after = After::kPromptOnTcp;
      break;
    default:
      return;  // 0, 2, 5, 8 and unknown codes print nothing
  }
  // Readiness, or a failed start that leaves the client in place, ends a
  // start as far as a script waiting for it is concerned.
  if (resultCode == kConnClientReady || resultCode == kConnFailed) FLinkReady = true;
  // Most of these texts come from the server: never let it drive the terminal.
  FConsole->WriteLn(VisibleText(text));
  if (resultCode == kConnClientReady) {
    SendHeldOrders();
    // The outbox's pages follow the operator's own.
    if (FOnLinkReady) FOnLinkReady();
  }
  if (resultCode == kConnFailed) DropHeldOrders("the start failed (" + resultMsg + ")");
  if (after == After::kPrompt || (after == After::kPromptOnTcp && tcp)) WritePrompt();
}

void TZVSystemConsole::MsgResultEvent(const TZVRemoteMsg& rMsg) {
  const std::string debug =
      StrFormat("%d,%s,%s,%s", rMsg.TransactionId(), rMsg.MsgAddress().c_str(),
                rMsg.AddressTypeStr().c_str(), rMsg.Msg().c_str());
  FLog->LogItem("Send Message Result", rMsg.ResultMsg(), debug);
  // Printed whether or not it answers a page of this run; only a match
  // accounts for a page.
  FLedger.MatchResult(rMsg.TransactionId(), rMsg.MsgAddress(), rMsg.Msg(), rMsg.ResultMsg(),
                      rMsg.MsgResult());
  FConsole->GotoXY(0, static_cast<uint16_t>(FConsole->CursorPos().Y + 1));
  FConsole->WriteLn(
      VisibleText(StrFormat("Message Result: %s%s%d, %s, %s", rMsg.ResultMsg().c_str(), "\r\n",
                            rMsg.TransactionId(), rMsg.MsgAddress().c_str(), rMsg.Msg().c_str())));
  WritePrompt();
}

}  // namespace zv
