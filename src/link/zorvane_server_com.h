// TZorvaneServerCom: the local Zorvane Server as this console reaches it, over
// the message bus: the well-known name org.zorvane.Server, its object
// /org/zorvane/Server with the interface org.zorvane.Server1, the server's
// three signals as events, and its carrier and account objects.
//
// Main thread only. The bus connection joins the dispatcher's one poll; the
// server's signals and the replies to the calls are delivered as messages of
// the dispatcher, one at a time, in the order they arrived, and never inside a
// call to the server, so a handler may call the server or free this object.
//
// The session's calls do not wait: each goes out at once, in the order made,
// and its `done` handler gets its outcome later: no failure, or the bus's
// error (the server's error reply, no reply within CallTimeout, named
// platform::kDBusErrorTimedOut, the server's departure, a reply of another
// shape). A call that cannot go out at all (no bus, no server, a text the bus
// cannot carry) throws EZVException with the bus's text instead. The connect
// does not wait either: only the end of the session waits, at most its bound.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "carriers/carrier_console.h"
#include "platform/dbus_connection.h"
#include "platform/message_queue.h"
#include "support/exceptions.h"
#include "support/helpers.h"

namespace zv {

inline constexpr const char* kZVServerBusName = "org.zorvane.Server";
inline constexpr const char* kZVServerPath = "/org/zorvane/Server";
inline constexpr const char* kZVServerInterface = "org.zorvane.Server1";
inline constexpr const char* kZVCarrierInterface = "org.zorvane.Carrier1";
inline constexpr const char* kZVAccountInterface = "org.zorvane.Account1";
inline constexpr const char* kZVNoObjectError = "org.zorvane.Server1.Error.NoObject";

class TZorvaneServerCom {
 public:
  using TOnConnect =
      std::function<void(TZorvaneServerCom& sender, bool success, int32_t connectionResult,
                         const std::string& description, const std::string& accountId)>;
  using TOnLogin =
      std::function<void(TZorvaneServerCom& sender, bool success, int32_t loginResult,
                         const std::string& description, const std::string& accountId)>;
  // The dates are COM dates (support/com_date.h).
  using TOnZVMessage = std::function<void(
      TZorvaneServerCom& sender, int32_t transactionId, const std::string& accountId,
      const std::string& msgAddress, const std::string& resultStr, const std::string& msg,
      const std::string& contactName, int32_t sendResult, double dateSent, double dateReceived,
      int32_t addressType)>;
  // The server went away while connected: its name lost its owner (or changed
  // hands) or the bus connection broke. Raised once; calls fail from then on.
  using TOnServerLost = std::function<void(const std::string& reason)>;

  // The outcome of a call: null when it succeeded.
  using TDone = std::function<void(const platform::DBusError* failure)>;

  // A stored-message account of the server; its calls do not wait, as the
  // server's calls.
  class TAccount {
   public:
    void DeleteAllMsgs(TDone done);
    void DeleteOldMsgs(int32_t olderThenDays, TDone done);
    void DeleteSelectedMsg(int32_t msgId, TDone done);

   private:
    friend class TZorvaneServerCom;
    TAccount(TZorvaneServerCom& server, std::string path)
        : FServer(server), FPath(std::move(path)) {}
    TZorvaneServerCom& FServer;
    std::string FPath;
  };

  // The sender's class name as the link's log shows it.
  static constexpr const char* kClassName = "TZorvaneServerCom";

  // Connects to nothing yet.
  explicit TZorvaneServerCom(platform::MessageDispatcher& dispatcher);
  ~TZorvaneServerCom();
  TZorvaneServerCom(const TZorvaneServerCom&) = delete;
  TZorvaneServerCom& operator=(const TZorvaneServerCom&) = delete;

  // The bus to use instead of the one the environment names (a private bus of
  // a test or a demo); empty for the environment's. Takes effect at Connect.
  void SetBusAddress(std::string address) { FBusAddress = std::move(address); }
  void SetCallTimeout(std::chrono::milliseconds timeout) { FCallTimeout = timeout; }
  std::chrono::milliseconds CallTimeout() const { return FCallTimeout; }

  // Drops any former connection, opens the bus (a local connect, the only
  // step taken at once) and returns; the rest goes on without waiting: the
  // name's owner is watched, then found (the bus starts the registered
  // service when there is none), then the owner's signals are subscribed to.
  // `done` runs once, as a message of the dispatcher: null once connected,
  // or the failure, the connection dropped already: the bus's reason (no
  // service, a service that failed), kDBusErrorTimedOut when the lookup got
  // no answer within CallTimeout, or a server lost meanwhile. A watch or a
  // subscription the bus refuses is a failure too: before the connect is
  // done it fails the connect, afterwards it is a lost server (OnServerLost),
  // as the server's events would no longer arrive. A Disconnect() before
  // `done` runs forgets the connect: `done` never runs. Throws EZVException
  // with the bus's reason, and `done` never runs, when the bus cannot be
  // opened.
  void Connect(TDone done);
  // Drops the connect under way, the subscriptions, the watch and the
  // connection; outcomes and events not yet delivered are dropped with them.
  void Disconnect();
  // Holds a live server: the connect is done, and the server has not gone.
  bool IsConnected() const { return FBus != nullptr && FReady && !FLost; }
  using TCarriersDone =
      std::function<void(const platform::DBusError* failure, const TStringList& items)>;
  // The carrier object's properties; none when the server answers with no
  // object (the root path).
  using TCarrierDone = std::function<void(const platform::DBusError* failure,
                                          const std::optional<TZVCarrierFields>& carrier)>;

  // Forwarded calls. Before the connect is done, and once the server has gone,
  // they throw the "DefaultInterface is NULL" text.
  void Start(TDone done);
  void ConnectToServer(const std::string& accountId, const std::string& ipAddress, TDone done);
  void Login(const std::string& userName, const std::string& password, const std::string& ipAddress,
             int32_t encoding, TDone done);
  void Logout(const std::string& accountId, const std::string& ipAddress, TDone done);
  void ClientReady(const std::string& accountId, const std::string& accountIp, bool isReady,
                   TDone done);
  void SendMsg(const std::string& accountId, const std::string& accountIp,
               const TStringList& msgData, TDone done);
  // The Carriers property: name-value items whose name part is a carrier id.
  void Carriers(TCarriersDone done);
  // CarrierById, then the properties of the object it names.
  void CarrierById(int32_t id, TCarrierDone done);
  // The account object of `accountId`: none (and no failure) when the server
  // has no account of that id.
  using TAccountDone = std::function<void(const platform::DBusError* failure,
                                          const std::optional<TAccount>& account)>;
  void AccountById(const std::string& accountId, TAccountDone done);

  // Forgets every call still waiting: none of their handlers runs.
  void CancelCalls();
  // The end of the session: forgets every call still waiting, sends Logout
  // (when `logoutAccount` is given) and Stop, and waits at most `bound` for
  // their replies, delivering nothing meanwhile. Nothing goes out to a server
  // that has gone or whose connect is not done. Throws EZVException with the first error reply; a
  // reply that is late is no error, as the calls went out.
  void Close(const std::string* logoutAccount, const std::string& ipAddress,
             std::chrono::milliseconds bound);

  TOnConnect OnConnect;
  TOnLogin OnLogin;
  TOnZVMessage OnZVMessage;
  TOnServerLost OnServerLost;

  // Raises the event that the server's signal `member` with `args` stands for,
  // when the arguments have that signal's shape; anything else is dropped.
  // The subscriptions deliver through it, on the main thread.
  void Deliver(const std::string& member, const platform::DBusArgs& args);

 private:
  // The connection of a live server.
  platform::DBusConnection& DefaultInterface();
  // Runs `work` on the server's bus connection; a bus error becomes
  // EZVException with the bus's text.
  template <typename Work>
  auto OnServer(Work&& work) {
    platform::DBusConnection& bus = DefaultInterface();
    try {
      return work(bus);
    } catch (const platform::DBusError& e) {
      throw EZVException(e.what());
    }
  }
  // Makes a call without waiting through `send`, keeping it until its outcome
  // is delivered to `deliver` (as a message, in arrival order).
  template <typename T>
  using TDeliver = std::function<void(const platform::DBusOutcome<T>&)>;
  template <typename T>
  void Send(const std::function<std::unique_ptr<platform::DBusHandle>(
                platform::DBusConnection&, platform::DBusReplyHandler<T>)>& send,
            TDeliver<T> deliver);
  // Hands a call's failure, or null, to `done`.
  static TDeliver<platform::DBusArgs> Outcome(TDone done);
  // A method of the server object, without waiting.
  void CallServer(const std::string& member, const platform::DBusArgs& args,
                  TDeliver<platform::DBusArgs> deliver);
  void CallServer(const std::string& member, const platform::DBusArgs& args, TDone done);
  // A method of any of the server's objects, without waiting.
  void CallObject(const std::string& path, const std::string& interface, const std::string& member,
                  const platform::DBusArgs& args, TDeliver<platform::DBusArgs> deliver);
  // The owner is known: its signals are subscribed to.
  void Subscribe();
  // The connect ends: `done` is posted with `failure` (or with the loss of
  // the server should it go before `done` runs).
  void ConnectEnded(const platform::DBusError* failure);
  // The bus's answer to a watch or a subscription.
  platform::DBusConnection::DBusInstalled Installed(const std::string& what);
  // Runs the bus's arrived work; the dispatcher's watch calls it on every pass.
  void Pump();
  // The server has gone (or the bus broke): a connect under way fails, a
  // connected server is lost.
  void ServerLost(const std::string& reason);

  platform::MessageDispatcher& FDispatcher;
  std::string FBusAddress;
  std::chrono::milliseconds FCallTimeout = platform::kDBusDefaultTimeout;

  // Declared so that they go in this order: the queue's messages, the watch
  // and the subscriptions before the connection they belong to.
  std::unique_ptr<platform::DBusConnection> FBus;
  std::string FOwner;   // the unique name serving the server object, once found
  TDone FConnectDone;   // while the owner is being found
  bool FReady = false;  // the connect is done
  bool FLost = false;
  std::string FLostReason;
  std::unique_ptr<platform::DBusHandle> FLookup;  // the owner's lookup
  std::vector<std::unique_ptr<platform::DBusHandle>> FSubscriptions;
  std::map<uint64_t, std::unique_ptr<platform::DBusHandle>> FCalls;  // waiting for their outcome
  uint64_t FLastCall = 0;
  std::unique_ptr<platform::MessageDispatcher::Watch> FWatch;
  std::unique_ptr<platform::MessageQueue> FQueue;
};

}  // namespace zv
