// TZVServerClientCom: the server client of the local connection type, which
// reaches a Zorvane Server on the same machine through its interface on the
// message bus (TZorvaneServerCom). There are no worker threads: calls go out
// from the main thread without waiting, and their outcomes and the server's
// events arrive there, delivered by the main loop's dispatch, so the console
// stays served while the server is slow or silent. A call that fails reports
// as its synchronous forerunner did, only later. No bus connection is opened
// before the first start.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/server_client.h"
#include "link/zorvane_server_com.h"

namespace zv {

class TZVServerClientCom : public TZVServerClient {
 public:
  explicit TZVServerClientCom(TZVLinkContext& context);
  ~TZVServerClientCom() override;

  // Begins the connect and returns; once connected, attaches the events and
  // asks the server to take this console. Nothing when active already (a
  // pending connect included). A failure, at once, of the connect or in a
  // reply, is posted as connection code 3 with the bus's reason (a lookup
  // without an answer as a time-out) and leaves the client inactive and
  // without a server.
  void StartZVServer() override;
  // Forgets every call still waiting (their outcomes are the caller's to
  // tell), logs out first when the operator asked to stop, and sends the
  // server's Stop, waiting at most kStopWait for their replies; nothing goes
  // to a server that has gone, and a pending connect is forgotten at once,
  // with nothing sent and nothing reported later. Whatever fails, the client is inactive and
  // disconnected afterwards; an error reply passes on to the caller.
  void StopZVServer() override;
  void LogIn(const std::string& userName, const std::string& ipAddress, int32_t encoded,
             std::string& password) override;
  void LogOut(const std::string& accountId) override;
  void ReConnect(const std::string& userName, const std::string& ipAddress) override;
  void ConfirmReady() override;
  // Reads the server's list, then asks for each of its ids (those that are
  // not positive numbers as 0), at most kCarrierCallsInFlight at a time, so
  // the main loop is served between their replies. Once all are in, objLst
  // is replaced whole and OnLoadObjects raised; objLst must outlive the load.
  // A failure keeps objLst as it was, is logged and shown (a list that cannot
  // be read as "Error loading client carriers from the server." and the
  // reason) and asks for the link to stop. A new load replaces one under way.
  void LoadClientCarriers(TZVCarriersConsole& objLst) override;
  // Find the account, then ask it to delete, without waiting. No such account
  // is logged and raised through OnLogError with code 3 (the link goes on); a
  // call that fails is a failed session call (logged, shown, the link asked to
  // stop).
  void DeleteAllMsgs(const std::string& accountId) override;
  void DeleteOldMsgs(const std::string& accountId, int32_t olderThenDays) override;
  void DeleteSelectedMsg(const std::string& accountId, int32_t msgId) override;
  // Takes the message at once. A reply of the server's refusal raises
  // OnMsgFailed with mfNotSent; no reply in time, or a server gone before it
  // replied, raises mfNoAnswer, as the server may have it.
  void SendMessage(const TStringList& msgData) override;

  // True attaches the client's adapters to the server's events; False detaches
  // them, and events that arrive meanwhile are dropped.
  void SetServerEvents(bool attach);
  // The message-result event: raises OnMsg for this console's own account.
  void ZVServerMessage(int32_t transactionId, const std::string& accountId,
                       const std::string& msgAddress, const std::string& resultStr,
                       const std::string& msg, const std::string& contactName, int32_t sendResult,
                       double dateSent, double dateReceived, int32_t addressType);

  // The carrier ids of the server's carrier list: the name part (before the
  // first "=") of each item as a number, 0 where it is not a positive one. An
  // empty list leaves `a` as it is.
  static void GetCollectionArray(const TStringList& collectionStrings, std::vector<int32_t>& a);
  // The console's message number of a message item: the first of the seven
  // fields after the 0x03 that ends the text (which may hold anything, 0x03
  // and "," included); 0 when there is none.
  static int32_t MsgNoOf(const TStringList& msgData);

  // Carrier calls out at once during a load.
  static constexpr std::size_t kCarrierCallsInFlight = 32;
  // The most a stop waits for the server's replies to its last calls.
  static constexpr std::chrono::milliseconds kStopWait{1000};

  // Seams for tests and demos: a private bus instead of the environment's, and
  // a shorter wait for the server's replies.
  void SetBusAddress(const std::string& address);
  void SetCallTimeout(std::chrono::milliseconds timeout);
  // Holds a connection to a live server.
  bool HasServer() const;

 private:
  struct TCarrierLoad;
  // A start call failed: the client ends without a server.
  void StartFailed(const std::string& reason);
  // A call of the session failed: logged, shown and the link asked to stop.
  void SessionCallFailed(const std::string& action, const std::string& description,
                         const std::string& reason);
  // Finds `accountId`'s account and makes `call` on it.
  using TAccountCall =
      std::function<void(TZorvaneServerCom::TAccount& account, TZorvaneServerCom::TDone done)>;
  void OnAccount(const std::string& accountId, TAccountCall call);
  void AskForCarriers();
  void CarrierFailed(const std::string& reason);

  std::unique_ptr<TZorvaneServerCom> FZVServer;
  std::unique_ptr<TCarrierLoad> FLoad;  // the carrier load under way
};

}  // namespace zv
