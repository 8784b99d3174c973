#include "link/server_client_com.h"

#include <utility>

#include "carriers/carrier_console.h"
#include "carriers/carriers_console.h"
#include "link/link_context.h"
#include "link/zorvane_server_com.h"
#include "protocol/global_types.h"
#include "protocol/remote_msg.h"
#include "support/com_date.h"
#include "support/exceptions.h"
#include "support/int_text.h"
#include "support/sys_log.h"
#include "support/text.h"

namespace zv {

TZVServerClientCom::TZVServerClientCom(TZVLinkContext& context)
    : TZVServerClient(context, 1),
      FZVServer(std::make_unique<TZorvaneServerCom>(context.Dispatcher())) {}

TZVServerClientCom::~TZVServerClientCom() {
  try {
    StopZVServer();
  } catch (const std::exception& e) {
    // The console stops the link before freeing the client and reports such
    // errors there; a failure here has nobody left to tell but the log.
    try {
      FContext.SysLog().LogItem("Logging Out", "Stopping the link failed", e.what());
    } catch (...) {
    }
  }
  FZVServer.reset();  // its undelivered events go with it
  CloseQueue();
}

void TZVServerClientCom::SetBusAddress(const std::string& address) {
  FZVServer->SetBusAddress(address);
}

void TZVServerClientCom::SetCallTimeout(std::chrono::milliseconds timeout) {
  FZVServer->SetCallTimeout(timeout);
}

bool TZVServerClientCom::HasServer() const { return FZVServer && FZVServer->IsConnected(); }

void TZVServerClientCom::SetServerEvents(bool attach) {
  if (!FZVServer) return;
  if (!attach) {
    FZVServer->OnConnect = nullptr;
    FZVServer->OnLogin = nullptr;
    FZVServer->OnZVMessage = nullptr;
    FZVServer->OnServerLost = nullptr;
    return;
  }
  FZVServer->OnConnect = [this](TZorvaneServerCom&, bool success, int32_t code,
                                const std::string& description, const std::string& accountId) {
    ZVServerConnect(TZorvaneServerCom::kClassName, success, code, description, accountId);
  };
  FZVServer->OnLogin = [this](TZorvaneServerCom&, bool success, int32_t code,
                              const std::string& description, const std::string& accountId) {
    ZVServerLogin(TZorvaneServerCom::kClassName, success, code, description, accountId);
  };
  FZVServer->OnZVMessage = [this](TZorvaneServerCom&, int32_t transactionId,
                                  const std::string& accountId, const std::string& msgAddress,
                                  const std::string& resultStr, const std::string& msg,
                                  const std::string& contactName, int32_t sendResult,
                                  double dateSent, double dateReceived, int32_t addressType) {
    ZVServerMessage(transactionId, accountId, msgAddress, resultStr, msg, contactName, sendResult,
                    dateSent, dateReceived, addressType);
  };
  // A server that has gone ends the link like any lost connection; the stop
  // is deferred like every result that stops the link.
  FZVServer->OnServerLost = [this](const std::string& reason) {
    PostInfo(FContext.CurrentUserId(), "The local Zorvane Server (COM) is no longer reachable.",
             reason, TTcpCommand::tcpConnect, false, 0, kConnLost);
  };
}

void TZVServerClientCom::StartZVServer() {
  if (FActive) return;
  try {
    FZVServer->Connect();
    SetServerEvents(true);
    FActive = true;
    FZVServer->Start();
    FZVServer->ConnectToServer(FLoginName, FContext.IPAddress());
  } catch (const std::exception& e) {
    FZVServer->Disconnect();
    FActive = false;
    PostInfo(FContext.CurrentUserId(), "Cannot connect to the local Zorvane Server (COM).",
             e.what(), TTcpCommand::tcpConnect, false, 0, kConnFailed);
    FContext.SysLog().LogItem("Creating COM Client Failed", "Unable to connect to the COM server",
                              e.what());
  }
}

void TZVServerClientCom::StopZVServer() {
  if (!FActive) return;
  FActive = false;
  struct Detach {
    TZVServerClientCom& Client;
    ~Detach() {
      Client.SetServerEvents(false);
      Client.FZVServer->Disconnect();
    }
  } detach{*this};
  if (FUserDisconnects) FZVServer->Logout(FContext.CurrentUserId(), FContext.IPAddress());
  SetServerEvents(false);
  FZVServer->Stop();
}

void TZVServerClientCom::LogIn(const std::string& userName, const std::string& ipAddress,
                               int32_t encoded, std::string& password) {
  TZVServerClient::LogIn(userName, ipAddress, encoded, password);
  FZVServer->Login(userName, password, FContext.IPAddress(), encoded);
}

void TZVServerClientCom::LogOut(const std::string& accountId) {
  FZVServer->Logout(accountId, FContext.IPAddress());
}

void TZVServerClientCom::ReConnect(const std::string& userName, const std::string& ipAddress) {
  FZVServer->ConnectToServer(userName, ipAddress);
}

void TZVServerClientCom::ConfirmReady() {
  FZVServer->ClientReady(FContext.CurrentUserId(), FContext.IPAddress(), true);
}

void TZVServerClientCom::SendMessage(const TStringList& msgData) {
  FZVServer->SendMsg(FContext.CurrentUserId(), FContext.IPAddress(), msgData);
}

void TZVServerClientCom::GetCollectionArray(const TStringList& collectionStrings,
                                            std::vector<int32_t>& a) {
  if (collectionStrings.empty()) return;
  a.assign(collectionStrings.size(), 0);
  for (std::size_t i = 0; i < collectionStrings.size(); ++i) {
    const std::string& item = collectionStrings[i];
    const int32_t id = StrToIntDef(std::string_view(item).substr(0, item.find('=')), -1);
    if (id > 0) a[i] = id;
  }
}

void TZVServerClientCom::LoadClientCarriers(TZVCarriersConsole& objLst) {
  TStringList list;
  try {
    list = FZVServer->Carriers();
  } catch (const std::exception& e) {
    // The list is absent: the reason follows the system's own text.
    throw EZVException(std::string("Error loading client carriers from the server.\r\n") +
                       e.what());
  }
  objLst.Clear();
  std::vector<int32_t> ids;
  GetCollectionArray(list, ids);
  for (const int32_t id : ids) {
    const std::optional<TZVCarrierFields> carrier = FZVServer->CarrierById(id);
    objLst.Add(std::make_unique<TZVCarrierConsole>(carrier ? &*carrier : nullptr));
  }
  if (OnLoadObjects) {
    OnLoadObjects(true, TZVEditObject::eoCarrier,
                  StrFormat("Client %s objects successfully loaded",
                            EditObjectName(TZVEditObject::eoCarrier).c_str()));
  }
}

namespace {

TZorvaneServerCom::TAccount FindAccount(TZorvaneServerCom& server, const std::string& accountId) {
  std::optional<TZorvaneServerCom::TAccount> account = server.AccountById(accountId);
  if (!account) {
    throw EZVNoObject(StrFormat("Cannot find account \"%s\" on Zorvane Server", accountId.c_str()));
  }
  return *account;
}

}  // namespace

void TZVServerClientCom::DeleteAllMsgs(const std::string& accountId) {
  FindAccount(*FZVServer, accountId).DeleteAllMsgs();
}

void TZVServerClientCom::DeleteOldMsgs(const std::string& accountId, int32_t olderThenDays) {
  FindAccount(*FZVServer, accountId).DeleteOldMsgs(olderThenDays);
}

void TZVServerClientCom::DeleteSelectedMsg(const std::string& accountId, int32_t msgId) {
  FindAccount(*FZVServer, accountId).DeleteSelectedMsg(msgId);
}

void TZVServerClientCom::ZVServerMessage(int32_t transactionId, const std::string& accountId,
                                         const std::string& msgAddress,
                                         const std::string& resultStr, const std::string& msg,
                                         const std::string& contactName, int32_t sendResult,
                                         double dateSent, double dateReceived,
                                         int32_t addressType) {
  if (!IsOwnAccount(accountId)) return;
  TZVRemoteMsg result(accountId, FContext.IPAddress(), transactionId);
  result.SetMsgAddress(msgAddress);
  result.SetMsg(msg);
  result.SetContactName(contactName);
  result.SetResultMsg(resultStr);
  result.SetMsgResult(sendResult);
  result.SetDateSent(ComDateToDateTime(dateSent));
  result.SetDateReceived(ComDateToDateTime(dateReceived));
  result.SetAddressType(AddressTypeFromInt(addressType & 0xFF));
  result.SetTcpCommand(TTcpCommand::tcpSendMsg);
  result.SetProtocol(FContext.ProtocolMax());
  DoMsgResult(result);
}

}  // namespace zv
