// TZVServerClient: the abstract client of the Zorvane Server, whatever the
// transport. The console creates one while the link is wanted, attaches its
// handlers to the events and frees the client to stop the link.
//
// Results produced on worker threads reach the main thread as posted records
// (PostInfo, PostMsgResult) through the client's own message queue; the main
// loop delivers them, and they turn into log items, state changes and events.
// Records still waiting when the client is freed are dropped with its queue.
//
// Everything here runs on the main thread except PostInfo and PostMsgResult,
// which any thread may call while the client exists.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/message_queue.h"
#include "protocol/msg_global.h"
#include "support/helpers.h"

namespace zv {

class TZVCarriersConsole;
class TZVLinkContext;
class TZVRemoteMsg;

// A record posted to the main thread.
struct TTcpInfo {
  TTcpCommand TcpCmd = TTcpCommand::tcpInvalid;  // selects the handling
  std::string Msg;                               // the text the operator may see
  std::string Debug;                             // the log's debug detail
  std::string User;                              // the account concerned
  int32_t CmdResult = 0;
  int32_t MsgId = 0;
};

using TZVSResultInfo = std::function<void(int32_t resultCode, const std::string& resultMsg)>;
using TLogSuccess = std::function<void(TZVLoginResult logResult, const std::string& logMsg,
                                       const std::string& accountId)>;
using TMsgResult = std::function<void(const TZVRemoteMsg& rMsg)>;
using TThreadMsg = std::function<void(bool success, const std::string& Msg)>;
using TLoadObjects =
    std::function<void(bool success, TZVEditObject objType, const std::string& resultMsg)>;

// How a message that SendMessage took ended without a result: the server
// refused it (it was not sent), or no answer came in time (the server may well
// have it).
enum class TMsgFailure : uint8_t { mfNotSent, mfNoAnswer };
// `msgNo` is the console's message number, the first of the seven fields.
using TMsgFailed =
    std::function<void(int32_t msgNo, TMsgFailure failure, const std::string& reason)>;

class TZVServerClient {
 public:
  // The subclass stops its transport in its own destructor: a stop needs the
  // subclass alive.
  virtual ~TZVServerClient();
  TZVServerClient(const TZVServerClient&) = delete;
  TZVServerClient& operator=(const TZVServerClient&) = delete;

  virtual void StartZVServer() = 0;
  virtual void StopZVServer() = 0;
  // Remembers the account and encodes `password` in place; subclasses then
  // send the login.
  virtual void LogIn(const std::string& userName, const std::string& ipAddress, int32_t encoded,
                     std::string& password);
  virtual void LogOut(const std::string& accountId) = 0;
  virtual void ReConnect(const std::string& userName, const std::string& ipAddress) = 0;
  virtual void ConfirmReady() = 0;
  virtual void LoadClientCarriers(TZVCarriersConsole& objLst) = 0;
  virtual void DeleteAllMsgs(const std::string& accountId) = 0;
  virtual void DeleteOldMsgs(const std::string& accountId, int32_t olderThenDays) = 0;
  virtual void DeleteSelectedMsg(const std::string& accountId, int32_t msgId) = 0;
  // Hands the console's message data (the text, 0x03 and the seven fields) to
  // the server. Throws EZVException, saying why, when the message cannot go
  // out (no connection, too long to send, not taken by the request buffer): a
  // message must never be dropped without a word. A message taken ends later
  // in exactly one OnMsg or OnMsgFailed, or in the end of the link.
  virtual void SendMessage(const TStringList& msgData) = 0;

  // Any thread: queues a record for the main thread; it returns at once.
  void PostInfo(const std::string& accId, const std::string& info, const std::string& debugInfo,
                TTcpCommand cmd, bool success, int32_t cmdId, int32_t cmdResult);
  // Any thread: queues a message result for the main thread.
  void PostTcpMsg(std::unique_ptr<TZVRemoteMsg> msg);

  // The link is up as far as the connection results say. Once the server has
  // accepted the login, a notice that neither succeeds nor ends the link
  // (codes 0, 1, 3, 8, 11 and unknown ones) leaves it as it is: the socket and
  // the login are still up, and pages must still go out.
  bool IsActive() const { return FActive; }
  void SetIsActive(bool value);
  uint8_t ConnectionType() const { return FConnectionType; }
  bool Busy() const { return FBusy; }
  void SetBusy(bool value) { FBusy = value; }
  // The operator asked to stop; a stop then logs out politely.
  bool UserDisconnects() const { return FUserDisconnects; }
  void SetUserDisconnects(bool value) { FUserDisconnects = value; }
  const std::string& LoginName() const { return FLoginName; }

  // The link is ending: every record and event still to come is dropped, as
  // though the client were already freed. Set by each result that ends the
  // link, and by the owner when it asks for the stop itself. Main thread.
  void EndEvents() { FEnding = true; }
  bool Ending() const { return FEnding; }

  // True when an event about `accountId` concerns this client: always for the
  // TCP/IP client, to which the server talks about this console only.
  bool IsOwnAccount(const std::string& accountId) const;

  // Adapters for the local server's events, which arrive inside the server's
  // own callback on the main thread. The results that stop the link are
  // deferred through the queue so the stop never runs inside that callback.
  // Other accounts' events are ignored on the local link.
  void ZVServerConnect(const std::string& senderClass, bool success, int32_t connectionResult,
                       const std::string& description, const std::string& accountId);
  void ZVServerLogin(const std::string& senderClass, bool success, int32_t loginResult,
                     const std::string& description, const std::string& accountId);

  // Events.
  TZVSResultInfo OnLogError;
  TLogSuccess OnLogin;
  TZVSResultInfo OnConnectInfo;
  TZVSResultInfo OnLoginRequest;
  TZVSResultInfo OnSysError;
  // A notice of the server on a logged-in link that fails nothing and ends
  // nothing: its code and the server's own text, for the operator to read.
  TZVSResultInfo OnServerNotice;
  TMsgResult OnMsg;
  TMsgFailed OnMsgFailed;
  TLoadObjects OnLoadObjects;

 protected:
  TZVServerClient(TZVLinkContext& context, uint8_t connectionType);

  // Drops every record still waiting; the subclass calls it once its threads
  // have ended, before it goes.
  void CloseQueue();
  // Runs `message` on the main thread later, unless the client is freed first.
  void PostToMain(std::function<void()> message);

  // Who produced a connection result: this client itself, or the server
  // (whose debug detail is its raw text, for the log and never the screen).
  enum class TInfoSource : uint8_t { isClient, isServer };

  void DoConnectResult(bool success, int32_t code, const std::string& msg,
                       const std::string& debug, TInfoSource source = TInfoSource::isClient);
  void DoLoginResult(int32_t code, const std::string& msg, const std::string& debug,
                     const std::string& account);
  void DoMsgResult(const TZVRemoteMsg& msg);

  // Marks the link as ending and asks the owner to stop it.
  void EndLink(int32_t code, const std::string& reason);

  // Acts on a record of the server on the main thread: connection, login and
  // load notices become log items, state changes and events.
  void HandleInfo(bool success, const TTcpInfo& info,
                  TInfoSource source = TInfoSource::isClient);

  TZVLinkContext& FContext;
  std::string FLoginName = "Unknown";
  uint8_t FConnectionType;
  bool FActive = false;
  bool FBusy = false;
  std::atomic<bool> FUserDisconnects{false};  // also read and cleared by worker threads
  bool FServerDisconnect = false;
  // The server accepted the login on the current connection; cleared by the
  // subclass whenever its transport starts or stops.
  bool FLoggedIn = false;

 private:
  std::unique_ptr<platform::MessageQueue> FQueue;  // the "window"; null once closed
  bool FEnding = false;
};

}  // namespace zv
