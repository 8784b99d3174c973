// A server client without a transport: records what the console hands it, and
// lets a test raise the client's events as the link would.
#pragma once

#include <string>
#include <vector>

#include "link/link_context.h"
#include "link/server_client.h"
#include "support/exceptions.h"

namespace zv::testing {

class RecordingClient : public TZVServerClient {
 public:
  RecordingClient(TZVLinkContext& context, std::vector<TStringList>& sent,
                  uint8_t connectionType = 2)
      : TZVServerClient(context, connectionType), FSent(sent) {}
  ~RecordingClient() override { CloseQueue(); }

  void StartZVServer() override { ++Starts; }
  void StopZVServer() override { ++Stops; }
  void LogIn(const std::string& userName, const std::string& ipAddress, int32_t encoded,
             std::string& password) override {
    TZVServerClient::LogIn(userName, ipAddress, encoded, password);
    Logins.push_back(userName + "/" + password);
  }
  void LogOut(const std::string&) override {}
  void ReConnect(const std::string&, const std::string&) override {}
  void ConfirmReady() override {
    ++Ready;
    Calls.push_back("ready");
  }
  void LoadClientCarriers(TZVCarriersConsole&) override { ++Loads; }
  void DeleteAllMsgs(const std::string&) override {}
  void DeleteOldMsgs(const std::string&, int32_t) override {}
  void DeleteSelectedMsg(const std::string&, int32_t) override {}
  void SendMessage(const TStringList& msgData) override {
    if (!Refusal.empty()) throw EZVException(Refusal);
    FSent.push_back(msgData);
    Calls.push_back("send");
  }

  // Raises what the link's records would raise on the main thread.
  void Connection(bool success, int32_t code, const std::string& msg) {
    DoConnectResult(success, code, msg, "debug");
  }
  // The same as the server's own notice, whose debug detail is its raw text.
  void ServerConnection(bool success, int32_t code, const std::string& msg) {
    DoConnectResult(success, code, msg, "raw frame", TInfoSource::isServer);
  }
  void Login(int32_t code, const std::string& msg) { DoLoginResult(code, msg, "debug", "acc"); }

  int Starts = 0, Stops = 0, Ready = 0, Loads = 0;
  std::vector<std::string> Logins;
  std::vector<std::string> Calls;  // "ready" and "send", in the order made
  std::string Refusal;  // SendMessage throws this when set

 private:
  std::vector<TStringList>& FSent;
};

}  // namespace zv::testing
