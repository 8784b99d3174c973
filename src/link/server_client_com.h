// TZVServerClientCom: the server client of the local connection type, which
// reaches a server on the same machine through its local interface. This build
// has no local server interface: a start reports that the local server cannot
// be reached, and the link stays in place, inactive, as after any failed local
// start.
#pragma once

#include "link/server_client.h"

namespace zv {

class TZVServerClientCom : public TZVServerClient {
 public:
  explicit TZVServerClientCom(TZVLinkContext& context);
  ~TZVServerClientCom() override;

  void StartZVServer() override;
  void StopZVServer() override;
  void LogIn(const std::string& userName, const std::string& ipAddress, int32_t encoded,
             std::string& password) override;
  void LogOut(const std::string& accountId) override;
  void ReConnect(const std::string& userName, const std::string& ipAddress) override;
  void ConfirmReady() override;
  void LoadClientCarriers(TZVCarriersConsole& objLst) override;
  void DeleteAllMsgs(const std::string& accountId) override;
  void DeleteOldMsgs(const std::string& accountId, int32_t olderThenDays) override;
  void DeleteSelectedMsg(const std::string& accountId, int32_t msgId) override;
  // Throws: there is no server to take the message.
  void SendMessage(const TStringList& msgData) override;
};

}  // namespace zv
