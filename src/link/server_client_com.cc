#include "link/server_client_com.h"

#include "link/link_context.h"
#include "support/exceptions.h"
#include "support/sys_log.h"

namespace zv {
namespace {

constexpr const char* kNoInterface =
    "No local server interface is available to this console; use the TCP/IP connection type";

}  // namespace

TZVServerClientCom::TZVServerClientCom(TZVLinkContext& context) : TZVServerClient(context, 1) {}

TZVServerClientCom::~TZVServerClientCom() { CloseQueue(); }

void TZVServerClientCom::StartZVServer() {
  FActive = false;
  PostInfo(FContext.CurrentUserId(), "Cannot connect to the local Zorvane Server (COM).",
           kNoInterface, TTcpCommand::tcpConnect, false, 0, kConnFailed);
  FContext.SysLog().LogItem("Creating COM Client Failed", "Unable to connect to the COM server",
                            kNoInterface);
}

void TZVServerClientCom::StopZVServer() { FActive = false; }

void TZVServerClientCom::LogIn(const std::string& userName, const std::string& ipAddress,
                               int32_t encoded, std::string& password) {
  TZVServerClient::LogIn(userName, ipAddress, encoded, password);
}

void TZVServerClientCom::LogOut(const std::string& /*accountId*/) {}
void TZVServerClientCom::ReConnect(const std::string& /*userName*/,
                                   const std::string& /*ipAddress*/) {}
void TZVServerClientCom::ConfirmReady() {}
void TZVServerClientCom::LoadClientCarriers(TZVCarriersConsole& /*objLst*/) {}
void TZVServerClientCom::DeleteAllMsgs(const std::string& /*accountId*/) {}
void TZVServerClientCom::DeleteOldMsgs(const std::string& /*accountId*/,
                                       int32_t /*olderThenDays*/) {}
void TZVServerClientCom::DeleteSelectedMsg(const std::string& /*accountId*/, int32_t /*msgId*/) {}

void TZVServerClientCom::SendMessage(const TStringList& /*msgData*/) {
  throw EZVException("the local Zorvane Server is not connected");
}

}  // namespace zv
