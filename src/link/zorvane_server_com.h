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
// cannot carry) throws EZVException with the bus's text instead. Only the
// connect, the stored-message account calls and the end of the session wait.
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

  // A stored-message account of the server.
  class TAccount {
   public:
    void DeleteAllMsgs();
    void DeleteOldMsgs(int32_t olderThenDays);
    void DeleteSelectedMsg(int32_t msgId);

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

  // Nothing when connected. Otherwise opens the bus, finds the name's owner
  // (starting the registered service when there is none), subscribes to the
  // owner's signals and watches the name. Throws EZVException with the bus's
  // reason and stays disconnected when any of it fails.
  void Connect();
  // Drops the subscriptions, the watch and the connection; events not yet
  // delivered are dropped with them.
  void Disconnect();
  // Holds a live server: connected, and the server has not gone.
  bool IsConnected() const { return FBus != nullptr && !FLost; }

  // The outcome of a call: null when it succeeded.
  using TDone = std::function<void(const platform::DBusError* failure)>;
  using TCarriersDone =
      std::function<void(const platform::DBusError* failure, const TStringList& items)>;
  // The carrier object's properties; none when the server answers with no
  // object (the root path).
  using TCarrierDone = std::function<void(const platform::DBusError* failure,
                                          const std::optional<TZVCarrierFields>& carrier)>;

  // Forwarded calls. Each connects first when not connected; a server that has
  // gone makes them throw the "DefaultInterface is NULL" text.
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
  // None when the server has no account of that id. Waits for the reply.
  std::optional<TAccount> AccountById(const std::string& accountId);

  // Forgets every call still waiting: none of their handlers runs.
  void CancelCalls();
  // The end of the session: forgets every call still waiting, sends Logout
  // (when `logoutAccount` is given) and Stop, and waits at most `bound` for
  // their replies, delivering nothing meanwhile. Nothing goes out to a server
  // that has gone. Throws EZVException with the first error reply; a reply
  // that is late is no error, as the calls went out.
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
  // Connects when needed and makes sure the server is still there.
  platform::DBusConnection& DefaultInterface();
  // Runs `work` on the server's bus connection; a bus error becomes
  // EZVException with the bus's text. Signals that arrive while `work` waits
  // for its reply are read off the socket already, so a pump is posted to
  // deliver them on the next dispatch pass.
  template <typename Work>
  auto OnServer(Work&& work) {
    platform::DBusConnection& bus = DefaultInterface();
    PostPump();
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
  // A method of the server object, without waiting.
  void CallServer(const std::string& member, const platform::DBusArgs& args,
                  TDeliver<platform::DBusArgs> deliver);
  void CallServer(const std::string& member, const platform::DBusArgs& args, TDone done);
  platform::DBusArgs CallAndWait(const std::string& path, const std::string& interface,
                                 const std::string& member, const platform::DBusArgs& args);
  // Runs the bus's arrived work; the dispatcher's watch calls it on every pass.
  void Pump();
  void PostPump();
  void ServerLost(const std::string& reason);

  platform::MessageDispatcher& FDispatcher;
  std::string FBusAddress;
  std::chrono::milliseconds FCallTimeout = platform::kDBusDefaultTimeout;

  // Declared so that they go in this order: the queue's messages, the watch
  // and the subscriptions before the connection they belong to.
  std::unique_ptr<platform::DBusConnection> FBus;
  std::string FOwner;  // the unique name serving the server object
  bool FLost = false;
  std::vector<std::unique_ptr<platform::DBusHandle>> FSubscriptions;
  std::map<uint64_t, std::unique_ptr<platform::DBusHandle>> FCalls;  // waiting for their outcome
  uint64_t FLastCall = 0;
  std::unique_ptr<platform::MessageDispatcher::Watch> FWatch;
  std::unique_ptr<platform::MessageQueue> FQueue;
};

}  // namespace zv
