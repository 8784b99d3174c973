#include "link/server_client.h"

#include <utility>

#include "link/link_context.h"
#include "protocol/remote_msg.h"
#include "support/login_data.h"
#include "support/sys_log.h"

namespace zv {

TZVServerClient::TZVServerClient(TZVLinkContext& context, uint8_t connectionType)
    : FContext(context),
      FConnectionType(connectionType),
      FQueue(std::make_unique<platform::MessageQueue>(context.Dispatcher())) {}

TZVServerClient::~TZVServerClient() = default;

void TZVServerClient::CloseQueue() { FQueue.reset(); }

void TZVServerClient::PostToMain(std::function<void()> message) {
  if (FQueue) FQueue->Post(std::move(message));
}

void TZVServerClient::PostInfo(const std::string& accId, const std::string& info,
                               const std::string& debugInfo, TTcpCommand cmd, bool success,
                               int32_t cmdId, int32_t cmdResult) {
  TTcpInfo record{cmd, info, debugInfo, accId, cmdResult, cmdId};
  PostToMain([this, success, record = std::move(record)] { HandleInfo(success, record); });
}

void TZVServerClient::PostTcpMsg(std::unique_ptr<TZVRemoteMsg> msg) {
  if (!msg) return;
  // std::function needs a copyable callable: the record travels in a shared_ptr.
  std::shared_ptr<TZVRemoteMsg> shared(std::move(msg));
  PostToMain([this, shared] { DoMsgResult(*shared); });
}

void TZVServerClient::LogIn(const std::string& userName, const std::string& /*ipAddress*/,
                            int32_t encoded, std::string& password) {
  FLoginName = userName;
  password = EncodeLoginData(password, encoded);
}

void TZVServerClient::SetIsActive(bool value) {
  if (value == FActive) return;
  if (value) {
    StartZVServer();
  } else {
    StopZVServer();
  }
}

// The client's own type, not the console's setting: the setting may change
// while an inactive local client still hears every account's events.
bool TZVServerClient::IsOwnAccount(const std::string& accountId) const {
  return FConnectionType == kConnectionRemote || accountId == FLoginName;
}

// The record is the message's own copy, released when the message is. A result
// that ends the link asks the owner to stop it; the stop runs later, in the
// owner's loop.
void TZVServerClient::HandleInfo(bool success, const TTcpInfo& info, TInfoSource source) {
  if (FEnding) return;
  switch (info.TcpCmd) {
    case TTcpCommand::tcpInvalid:
      if (OnSysError) OnSysError(info.CmdResult, info.Msg);
      break;
    case TTcpCommand::tcpConnect:
      DoConnectResult(success, info.CmdResult, info.Msg, info.Debug, source);
      break;
    case TTcpCommand::tcpLogin:
      DoLoginResult(info.CmdResult, info.Msg, info.Debug, info.User);
      break;
    case TTcpCommand::tcpLoad:
      if (OnLoadObjects) {
        OnLoadObjects(success, LoadResultToEditObject(static_cast<TZVLoadResult>(info.CmdResult)),
                      info.Msg);
      }
      break;
    default:
      break;
  }
}

void TZVServerClient::DoMsgResult(const TZVRemoteMsg& msg) {
  if (FEnding) return;
  if (OnMsg) OnMsg(msg);
}

void TZVServerClient::EndLink(int32_t code, const std::string& reason) {
  FEnding = true;
  FContext.RequestStop(code, reason);
}

void TZVServerClient::DoConnectResult(bool success, int32_t code, const std::string& msg,
                                      const std::string& debug, TInfoSource source) {
  if (FEnding) return;
  const bool serverEnds = code == kConnServerDisconnects || code == kConnAdminDisconnects ||
                          code == kConnTimeoutDisconnects;
  const bool stops =
      serverEnds || code == kConnFailedStop || code == kConnExcess || code == kConnLost;
  // A notice fails nothing and ends nothing; on a logged-in link it says
  // nothing about whether the link is up.
  const bool notice = !stops && !IsConnectSuccess(code);
  if (!(notice && FLoggedIn)) FActive = success;
  const std::string action = ConnectionCaption(code);
  if (notice && FLoggedIn && source == TInfoSource::isServer) {
    // The operator reads the server's own words, whatever the code.
    FContext.SysLog().LogItem(action.empty() ? "Connection Notice" : action, msg, debug);
    if (OnServerNotice) OnServerNotice(code, msg);
    return;
  }
  // Code 1 and unknown codes have no caption and do nothing more.
  if (action.empty()) return;
  // The server's debug detail is its raw text: the log keeps it, the
  // operator is shown the message alone.
  const bool withDebug = (code == kConnFailed || code == kConnLost) &&
                         source == TInfoSource::isClient && !debug.empty();
  FContext.SysLog().LogItem(action, msg, debug);
  if (OnConnectInfo) OnConnectInfo(code, withDebug ? msg + "\r\n" + debug : msg);
  if (serverEnds) FUserDisconnects = false;
  if (serverEnds || code == kConnFailedStop) FServerDisconnect = true;
  if (stops) EndLink(code, msg);
}

void TZVServerClient::DoLoginResult(int32_t code, const std::string& msg, const std::string& debug,
                                    const std::string& account) {
  if (FEnding || code < 0 || code > 255) return;  // no login result
  const auto result = static_cast<TZVLoginResult>(code);
  switch (result) {
    case TZVLoginResult::slrLoginRequest:
      FContext.SysLog().LogItem("Login Request", msg, debug);
      if (OnLoginRequest) OnLoginRequest(code, msg);
      break;
    case TZVLoginResult::slrLoginOK:
      FLoggedIn = true;
      [[fallthrough]];
    case TZVLoginResult::slrChangeLoginOK:
    case TZVLoginResult::slrChangeLoginError:
      FContext.SysLog().LogItem(LoginResultCaption(result), msg, debug);
      if (OnLogin) OnLogin(result, msg, account);
      break;
    case TZVLoginResult::slrChangeLogin:
      FContext.SysLog().LogItem(LoginResultCaption(result), msg, debug);
      break;
    case TZVLoginResult::slrLoginError:
    case TZVLoginResult::slrAccountDisabled:
    case TZVLoginResult::slrDuplicateLogin: {
      // The local server reports other consoles' duplicate logins to everybody.
      if (result == TZVLoginResult::slrDuplicateLogin && FConnectionType == kConnectionLocal)
        return;
      FContext.SysLog().LogItem(LoginResultCaption(result), msg, debug);
      if (OnLogError) {
        OnLogError(code, result == TZVLoginResult::slrDuplicateLogin ? msg : "\r\n" + msg);
      }
      FServerDisconnect = true;
      EndLink(kConnFailedStop, msg);
      return;
    }
    default:
      break;  // slrLogin, slrNoRights and unknown results
  }
}

void TZVServerClient::ZVServerLogin(const std::string& senderClass, bool /*success*/,
                                    int32_t loginResult, const std::string& description,
                                    const std::string& accountId) {
  if (!IsOwnAccount(accountId)) return;
  const std::string debug = "Sender: " + senderClass + "; Account: " + accountId;
  const int32_t code = loginResult & 0xFF;
  const auto result = static_cast<TZVLoginResult>(code);
  if (result == TZVLoginResult::slrLoginError || result == TZVLoginResult::slrAccountDisabled ||
      result == TZVLoginResult::slrDuplicateLogin) {
    PostInfo(accountId, description, debug, TTcpCommand::tcpLogin, false, 0, code);
  } else {
    DoLoginResult(code, description, debug, accountId);
  }
}

void TZVServerClient::ZVServerConnect(const std::string& senderClass, bool success,
                                      int32_t connectionResult, const std::string& description,
                                      const std::string& accountId) {
  if (!IsOwnAccount(accountId)) return;
  const std::string debug = "Sender: " + senderClass + "; Account: " + accountId;
  const int32_t code = connectionResult & 0xFF;
  // Every code that stops the link is deferred: the stop frees the server
  // object whose callback is running now.
  switch (code) {
    case kConnFailedStop:
    case kConnExcess:
    case kConnServerDisconnects:
    case kConnAdminDisconnects:
    case kConnLost:
    case kConnTimeoutDisconnects:
      PostInfo(accountId, description, debug, TTcpCommand::tcpConnect, false, 0, code);
      break;
    default:
      DoConnectResult(success, code, description, debug, TInfoSource::isServer);
      break;
  }
}

}  // namespace zv
