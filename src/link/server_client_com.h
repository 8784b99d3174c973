// TZVServerClientCom: the server client of the local connection type, which
// reaches a Zorvane Server on the same machine through its interface on the
// message bus (TZorvaneServerCom). There are no worker threads: calls go out
// from the main thread and the server's events arrive there, delivered by the
// main loop's dispatch. No bus connection is opened before the first start.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/server_client.h"

namespace zv {

class TZorvaneServerCom;

class TZVServerClientCom : public TZVServerClient {
 public:
  explicit TZVServerClientCom(TZVLinkContext& context);
  ~TZVServerClientCom() override;

  // Connects, attaches the events and asks the server to take this console.
  // Nothing when active already. A failure is posted as connection code 3 with
  // the bus's reason and leaves the client inactive and without a server.
  void StartZVServer() override;
  // Logs out first when the operator asked to stop. The server's Stop goes out
  // before the connection is dropped, so no new connection (nor a new server
  // started by the bus) is made just to stop. Whatever fails, the client is
  // inactive and disconnected afterwards; the error passes on to the caller.
  void StopZVServer() override;
  void LogIn(const std::string& userName, const std::string& ipAddress, int32_t encoded,
             std::string& password) override;
  void LogOut(const std::string& accountId) override;
  void ReConnect(const std::string& userName, const std::string& ipAddress) override;
  void ConfirmReady() override;
  // Replaces objLst by the server's carriers, asking for each id of the
  // server's list (those that are not positive numbers as 0), then raises
  // OnLoadObjects. Throws EZVException when the list cannot be read, and passes
  // a failed carrier on as it comes.
  void LoadClientCarriers(TZVCarriersConsole& objLst) override;
  // Throw EZVNoObject when the server has no account of that id.
  void DeleteAllMsgs(const std::string& accountId) override;
  void DeleteOldMsgs(const std::string& accountId, int32_t olderThenDays) override;
  void DeleteSelectedMsg(const std::string& accountId, int32_t msgId) override;
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

  // Seams for tests and demos: a private bus instead of the environment's, and
  // a shorter wait for the server's replies.
  void SetBusAddress(const std::string& address);
  void SetCallTimeout(std::chrono::milliseconds timeout);
  // Holds a connection to a live server.
  bool HasServer() const;

 private:
  std::unique_ptr<TZorvaneServerCom> FZVServer;
};

}  // namespace zv
