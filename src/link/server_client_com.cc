#include "link/server_client_com.h"

#include <algorithm>
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
namespace {

constexpr const char* kBusNoReply = "org.freedesktop.DBus.Error.NoReply";
constexpr const char* kBusDisconnected = "org.freedesktop.DBus.Error.Disconnected";
constexpr const char* kBusFailed = "org.freedesktop.DBus.Error.Failed";

}  // namespace

TZVServerClientCom::TZVServerClientCom(TZVLinkContext& context)
    : TZVServerClient(context, kConnectionLocal),
      FZVServer(std::make_unique<TZorvaneServerCom>(context.Dispatcher())) {
  FZVServer->SetCallTimeout(platform::LocalCallTimeoutFromEnvironment());
}

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
    // Active from now: a stop while the connect is pending forgets it.
    FActive = true;
    FLoggedIn = false;
    FZVServer->Connect([this](const platform::DBusError* connectFailure) {
      if (connectFailure != nullptr) return StartFailed(connectFailure->what());
      SetServerEvents(true);
      // The first failure ends the start; the connection goes with it, and
      // the other call's outcome with the connection. A server that has gone
      // reports as such instead.
      const auto started = [this](const platform::DBusError* failure) {
        if (failure != nullptr && FActive && FZVServer->IsConnected()) {
          StartFailed(failure->what());
        }
      };
      try {
        FZVServer->Start(started);
        FZVServer->ConnectToServer(FLoginName, FContext.IPAddress(), started);
      } catch (const std::exception& e) {
        StartFailed(e.what());
      }
    });
  } catch (const std::exception& e) {
    StartFailed(e.what());
  }
}

void TZVServerClientCom::StartFailed(const std::string& reason) {
  FZVServer->Disconnect();
  FActive = false;
  PostInfo(FContext.CurrentUserId(), "Cannot connect to the local Zorvane Server (COM).", reason,
           TTcpCommand::tcpConnect, false, 0, kConnFailed);
  FContext.SysLog().LogItem("Creating COM Client Failed", "Unable to connect to the COM server",
                            reason);
}

void TZVServerClientCom::SessionCallFailed(const std::string& action,
                                           const std::string& description,
                                           const std::string& reason) {
  FContext.SysLog().LogItem(action, description, reason);
  if (OnLogError) OnLogError(kConnFailedStop, "\r\n" + reason);
  EndLink(kConnFailedStop, reason);
}

void TZVServerClientCom::StopZVServer() {
  if (!FActive) return;
  FActive = false;
  FLoggedIn = false;
  FLoad.reset();
  struct Detach {
    TZVServerClientCom& Client;
    ~Detach() {
      Client.SetServerEvents(false);
      Client.FZVServer->Disconnect();
    }
  } detach{*this};
  SetServerEvents(false);
  const std::string account = FContext.CurrentUserId();
  FZVServer->Close(FUserDisconnects ? &account : nullptr, FContext.IPAddress(), kStopWait);
}

void TZVServerClientCom::LogIn(const std::string& userName, const std::string& ipAddress,
                               int32_t encoded, std::string& password) {
  TZVServerClient::LogIn(userName, ipAddress, encoded, password);
  FZVServer->Login(userName, password, FContext.IPAddress(), encoded,
                   [this](const platform::DBusError* failure) {
                     if (failure != nullptr) {
                       SessionCallFailed("Login Failed", "The login could not be sent",
                                         failure->what());
                     }
                   });
}

void TZVServerClientCom::LogOut(const std::string& accountId) {
  FZVServer->Logout(accountId, FContext.IPAddress(), [this](const platform::DBusError* failure) {
    if (failure != nullptr) {
      FContext.SysLog().LogItem("Logging Out", "The logout notice was not sent", failure->what());
    }
  });
}

void TZVServerClientCom::ReConnect(const std::string& userName, const std::string& ipAddress) {
  FZVServer->ConnectToServer(userName, ipAddress, [this](const platform::DBusError* failure) {
    if (failure != nullptr) {
      SessionCallFailed("Connecting Failed", "The connect could not be sent", failure->what());
    }
  });
}

void TZVServerClientCom::ConfirmReady() {
  FZVServer->ClientReady(FContext.CurrentUserId(), FContext.IPAddress(), true,
                         [this](const platform::DBusError* failure) {
                           if (failure != nullptr) {
                             SessionCallFailed("Confirming Readiness Failed",
                                               "The readiness could not be confirmed",
                                               failure->what());
                           }
                         });
}

namespace {

// "25 s", "0.3 s".
std::string Seconds(std::chrono::milliseconds span) {
  const auto ms = static_cast<int>(span.count());
  return ms % 1000 == 0 ? StrFormat("%d s", ms / 1000) : StrFormat("%.1f s", ms / 1000.0);
}

}  // namespace

void TZVServerClientCom::SendMessage(const TStringList& msgData) {
  const int32_t msgNo = MsgNoOf(msgData);
  FZVServer->SendMsg(FContext.CurrentUserId(), FContext.IPAddress(), msgData,
                     [this, msgNo](const platform::DBusError* failure) {
                       if (failure == nullptr || !OnMsgFailed || Ending()) return;
                       const std::string& name = failure->Name();
                       if (name == platform::kDBusErrorTimedOut) {
                         OnMsgFailed(msgNo, TMsgFailure::mfNoAnswer,
                                     "no answer within " + Seconds(FZVServer->CallTimeout()) +
                                         "; the server may have received it");
                       } else if (name == kBusNoReply || name == kBusDisconnected) {
                         // The server, or the bus, went before the reply did.
                         OnMsgFailed(
                             msgNo, TMsgFailure::mfNoAnswer,
                             std::string(failure->what()) + "; the server may have received it");
                       } else {
                         OnMsgFailed(msgNo, TMsgFailure::mfNotSent, failure->what());
                       }
                     });
}

int32_t TZVServerClientCom::MsgNoOf(const TStringList& msgData) {
  if (msgData.empty()) return 0;
  const std::string& item = msgData.front();
  // No field holds ",": the item's last six commas separate the seven fields,
  // and the 0x03 before them ends the text.
  std::size_t limit = item.size();
  for (int i = 0; i < 6 && limit != std::string::npos; ++i) {
    limit = limit == 0 ? std::string::npos : item.rfind(',', limit - 1);
  }
  const std::size_t mark = item.rfind('\x03', limit);
  if (mark == std::string::npos) return 0;
  const std::size_t end = std::min(item.find(',', mark), item.size());
  return StrToIntDef(std::string_view(item).substr(mark + 1, end - mark - 1), 0);
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

struct TZVServerClientCom::TCarrierLoad {
  uint64_t Serial;  // the calls of a replaced load find theirs gone
  TZVCarriersConsole* Target;
  std::vector<int32_t> Ids;
  std::vector<std::optional<TZVCarrierFields>> Found;
  std::size_t Asked = 0;
  std::size_t Answered = 0;
};

void TZVServerClientCom::LoadClientCarriers(TZVCarriersConsole& objLst) {
  static uint64_t serials = 0;
  const uint64_t serial = ++serials;
  FLoad = std::make_unique<TCarrierLoad>(TCarrierLoad{serial, &objLst, {}, {}});
  const auto current = [this, serial] { return FLoad && FLoad->Serial == serial; };
  try {
    FZVServer->Carriers([this, current](const platform::DBusError* failure,
                                        const TStringList& items) {
      if (!current()) return;
      if (failure != nullptr) {
        FLoad.reset();
        return SessionCallFailed(
            "Loading Carriers Failed", "The carriers could not be loaded",
            std::string("Error loading client carriers from the server.\r\n") + failure->what());
      }
      GetCollectionArray(items, FLoad->Ids);
      FLoad->Found.resize(FLoad->Ids.size());
      AskForCarriers();
    });
  } catch (const std::exception& e) {
    FLoad.reset();
    // The list is absent: the reason follows the system's own text.
    throw EZVException(std::string("Error loading client carriers from the server.\r\n") +
                       e.what());
  }
}

void TZVServerClientCom::AskForCarriers() {
  TCarrierLoad& load = *FLoad;
  const uint64_t serial = load.Serial;
  try {
    while (load.Asked < load.Ids.size() && load.Asked - load.Answered < kCarrierCallsInFlight) {
      const std::size_t index = load.Asked++;
      FZVServer->CarrierById(load.Ids[index],
                             [this, serial, index](const platform::DBusError* failure,
                                                   const std::optional<TZVCarrierFields>& carrier) {
                               if (!FLoad || FLoad->Serial != serial) return;
                               if (failure != nullptr) return CarrierFailed(failure->what());
                               FLoad->Found[index] = carrier;
                               ++FLoad->Answered;
                               AskForCarriers();
                             });
    }
  } catch (const std::exception& e) {
    return CarrierFailed(e.what());
  }
  if (load.Answered < load.Ids.size()) return;
  // All in: the list swaps in whole.
  TZVCarriersConsole carriers;
  try {
    // A server that answers an id with no object fails the load here.
    for (const std::optional<TZVCarrierFields>& found : load.Found) {
      carriers.Add(std::make_unique<TZVCarrierConsole>(found ? &*found : nullptr));
    }
  } catch (const std::exception& e) {
    return CarrierFailed(e.what());
  }
  TZVCarriersConsole& target = *load.Target;
  FLoad.reset();
  target = std::move(carriers);
  if (!OnLoadObjects) return;
  try {
    OnLoadObjects(true, TZVEditObject::eoCarrier,
                  StrFormat("Client %s objects successfully loaded",
                            EditObjectName(TZVEditObject::eoCarrier).c_str()));
  } catch (const std::exception& e) {
    // The readiness that follows the load could not go out.
    SessionCallFailed("Loading Carriers Failed", "The carriers could not be loaded", e.what());
  }
}

void TZVServerClientCom::CarrierFailed(const std::string& reason) {
  FLoad.reset();
  SessionCallFailed("Loading Carriers Failed", "The carriers could not be loaded", reason);
}

void TZVServerClientCom::OnAccount(const std::string& accountId, TAccountCall call) {
  const auto failed = [this](const platform::DBusError* failure) {
    if (failure != nullptr) {
      SessionCallFailed("Deleting Messages Failed", "The stored messages could not be deleted",
                        failure->what());
    }
  };
  FZVServer->AccountById(accountId, [this, accountId, call, failed](
                                        const platform::DBusError* failure,
                                        std::optional<TZorvaneServerCom::TAccount> account) {
    if (failure != nullptr) return failed(failure);
    if (!account) {
      // The server's answer about its data, not a fault of the link: told,
      // and the link goes on.
      const std::string reason =
          StrFormat("Cannot find account \"%s\" on Zorvane Server", accountId.c_str());
      FContext.SysLog().LogItem("Deleting Messages Failed", "No such account", reason);
      if (OnLogError) OnLogError(kConnFailed, "\r\n" + reason);
      return;
    }
    try {
      call(*account, failed);
    } catch (const std::exception& e) {
      const platform::DBusError gone(kBusFailed, e.what());
      failed(&gone);
    }
  });
}

void TZVServerClientCom::DeleteAllMsgs(const std::string& accountId) {
  OnAccount(accountId, [](TZorvaneServerCom::TAccount& account, TZorvaneServerCom::TDone done) {
    account.DeleteAllMsgs(std::move(done));
  });
}

void TZVServerClientCom::DeleteOldMsgs(const std::string& accountId, int32_t olderThenDays) {
  OnAccount(accountId,
            [olderThenDays](TZorvaneServerCom::TAccount& account, TZorvaneServerCom::TDone done) {
              account.DeleteOldMsgs(olderThenDays, std::move(done));
            });
}

void TZVServerClientCom::DeleteSelectedMsg(const std::string& accountId, int32_t msgId) {
  OnAccount(accountId,
            [msgId](TZorvaneServerCom::TAccount& account, TZorvaneServerCom::TDone done) {
              account.DeleteSelectedMsg(msgId, std::move(done));
            });
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
