// TSimBusServer: the simulator's local interface on a message bus. It owns
// org.zorvane.Server and serves the server object, an object per carrier and
// an object per account, with the accounts, carriers and misbehaviour that the
// TCP/IP side uses, on the thread that calls Process().
//
// The bus carries no connections: every console on it shares one server
// object, which reports every account's events to all of them. The server
// therefore precedes each event with the same event for another account
// (kDecoyAccount), which a console must ignore. A login on the bus holds its
// account against TCP/IP consoles until a logout, a new connect for that
// account, or the end of the link by the server.
//
// Events go out after the reply to the call that caused them, as a server
// that reports through events does.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dbus_connection.h"
#include "zvsim/misbehaviour.h"
#include "zvsim/session.h"

namespace zv::sim {

// The account of the events a console must ignore.
inline constexpr std::string_view kDecoyAccount = "zvsim-another-account";

class TSimBusServer {
 public:
  // Exports the objects on `bus`, then takes the well-known name. Throws
  // DBusError when the name is taken or the bus refuses.
  TSimBusServer(TSimContext& context, std::unique_ptr<platform::DBusConnection> bus);
  ~TSimBusServer();
  TSimBusServer(const TSimBusServer&) = delete;
  TSimBusServer& operator=(const TSimBusServer&) = delete;

  // Readable while the bus has something for Process(); only while the
  // service is not over.
  int Fd() const { return FBus->Fd(); }

  // Handles every call that has arrived and sends the events they caused,
  // without waiting. False once the service is over: the bus connection broke,
  // or a misbehaviour dropped the simulator off the bus. The connection is
  // then closed (the name has no owner any more) and the object is only fit
  // to be destroyed.
  bool Process();
  // Why the service is over: empty while it is not, or when the simulator
  // was told to drop off the bus.
  const std::string& Failure() const { return FFailure; }

 private:
  using TArgs = platform::DBusArgs;
  using TReply = std::optional<TArgs>;

  void ExportObjects();
  TReply ConnectToServer(const TArgs& args);
  TReply Login(const TArgs& args);
  TReply Logout(const TArgs& args);
  TReply ClientReady(const TArgs& args);
  TReply SendMsg(const TArgs& args);
  TReply CarrierById(const TArgs& args);
  TReply AccountById(const TArgs& args);
  TReply Delete(const std::string& account, const std::string& command, const TArgs& args);
  platform::DBusValue Carriers();

  // The reply to a call of `stage` (none for calls of no stage), or std::nullopt
  // when the call is to go unanswered. Throws the error reply of a spoiled
  // stage; an aborted stage drops the simulator off the bus instead.
  TReply Answer(std::optional<TSimStage> stage, const std::function<TArgs()>& answer);
  // Throws the error reply that refuses a call of an account not logged in
  // on the bus.
  void RequireLogin(const std::string& account, const std::string& what) const;

  // Queues a signal for `account`, preceded by the decoy: `decoy` with
  // kDecoyAccount in the account's place.
  void Event(const std::string& member, TArgs args, TArgs decoy, std::size_t accountIndex);
  void LoginEvent(TZVLoginResult result, const std::string& text, const std::string& account);
  void ConnectEvent(bool success, int32_t code, const std::string& text,
                    const std::string& account);
  void ResultEvent(int32_t transactionId, const std::string& account, const std::string& address,
                   const std::string& result, const std::string& text, int32_t sendResult,
                   int32_t addressType);

  // The number under which the account book holds a bus login of `account`.
  int32_t ConnectionOf(const std::string& account);
  bool LoggedIn(const std::string& account);
  void Record(const std::string& command, const std::string& account, const std::string& ip,
              const std::string& body);
  void Transcribe(const TJsonLine& line);

  TSimContext& FContext;
  std::unique_ptr<platform::DBusConnection> FBus;
  std::vector<std::unique_ptr<platform::DBusHandle>> FExports;  // dropped before FBus
  std::map<int32_t, std::string> FCarrierPaths;                 // carrier id -> object path
  std::map<std::string, int32_t, std::less<>> FConnections;     // account -> book number
  struct TPendingSignal {
    std::string Member;
    TArgs Args;
  };
  std::vector<TPendingSignal> FPending;  // in emission order
  bool FDropped = false;
  std::string FFailure;
};

}  // namespace zv::sim
