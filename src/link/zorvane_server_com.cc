#include "link/zorvane_server_com.h"

#include <map>
#include <utility>
#include <variant>

#include "support/exceptions.h"

namespace zv {
namespace {

using platform::DBusArgs;
using platform::DBusError;
using platform::DBusObjectPath;
using platform::DBusOutcome;
using platform::DBusProperties;
using platform::DBusValue;

constexpr const char* kNotConnected =
    "DefaultInterface is NULL. Component is not connected to Server. You must call \"Connect\" "
    "or \"ConnectTo\" before this operation";
constexpr const char* kFailedError = "org.freedesktop.DBus.Error.Failed";
constexpr const char* kBusBroke = "The connection to the message bus broke: ";
// The object path a server answers with when it has no such object.
constexpr const char* kNoObjectPath = "/";

// One value of a reply or a signal, of the type the interface fixes; a server
// that answers in another shape fails the call rather than feeding a default.
template <typename T>
const T& Arg(const DBusArgs& args, std::size_t index, const std::string& what) {
  const T* value = index < args.size() ? std::get_if<T>(&args[index]) : nullptr;
  if (value == nullptr) {
    throw EZVException("The local Zorvane Server answered " + what +
                       " with a value of the wrong type");
  }
  return *value;
}

template <typename T>
const T& Property(const DBusProperties& values, const std::string& name) {
  const auto it = values.find(name);
  const T* value = it == values.end() ? nullptr : std::get_if<T>(&it->second);
  if (value == nullptr) {
    throw EZVException("The carrier object of the local Zorvane Server has no property \"" + name +
                       "\" of the interface's type");
  }
  return *value;
}

TZVCarrierFields CarrierFields(const DBusProperties& values) {
  TZVCarrierFields fields;
  fields.Id = Property<int32_t>(values, "Id");
  fields.Name = Property<std::string>(values, "Name");
  fields.MsgLength = Property<int32_t>(values, "MsgLength");
  fields.CarrierType = Property<int32_t>(values, "CarrierType");
  fields.AddressType = Property<int32_t>(values, "AddressType");
  fields.CarrierTypeName = Property<std::string>(values, "CarrierTypeName");
  fields.AddressTypeName = Property<std::string>(values, "AddressTypeName");
  fields.Info = Property<TStringList>(values, "Info");
  return fields;
}

// Hands `done` the value that `read` takes from a call's values, or the
// call's failure: the bus's error, or the reply's shape that `read` refuses.
template <typename T, typename Done, typename Read>
void WithValues(const DBusOutcome<T>& outcome, const Done& done, Read&& read) {
  if (outcome.Error) return done(&*outcome.Error, {});
  std::optional<std::invoke_result_t<Read>> value;
  try {
    value.emplace(read());
  } catch (const EZVException& e) {
    const DBusError shape("org.freedesktop.DBus.Error.InvalidArgs", e.what());
    return done(&shape, {});
  }
  done(nullptr, *value);
}

}  // namespace

TZorvaneServerCom::TZorvaneServerCom(platform::MessageDispatcher& dispatcher)
    : FDispatcher(dispatcher) {}

TZorvaneServerCom::~TZorvaneServerCom() = default;

void TZorvaneServerCom::Connect(TDone done) {
  Disconnect();
  try {
    // Held in its field at once: a failure below drops what hangs on it first.
    FBus = FBusAddress.empty() ? platform::DBusConnection::Open(platform::LocalBusFromEnvironment())
                               : platform::DBusConnection::OpenAddress(FBusAddress);
    platform::DBusConnection& bus = *FBus;
    FQueue = std::make_unique<platform::MessageQueue>(FDispatcher);
    FConnectDone = std::move(done);
    // Watched before the owner is asked for: a change the bus reports before
    // its answer is in the answer; every later one is seen. The subscriptions
    // match the owner found only: a new owner is a new server that knows
    // nothing of this console's session.
    FSubscriptions.push_back(bus.WatchNameOwner(
        kZVServerBusName,
        [this](const std::string& newOwner) {
          if (FOwner.empty() || newOwner == FOwner) return;
          ServerLost(newOwner.empty()
                         ? "The name " + std::string(kZVServerBusName) + " has no owner any more"
                         : "The name " + std::string(kZVServerBusName) +
                               " has passed to another owner");
        },
        Installed("watch the owner of " + std::string(kZVServerBusName))));
    FLookup = bus.StartServiceAndGetOwnerAsync(kZVServerBusName, FCallTimeout,
                                               [this](DBusOutcome<std::string> outcome) {
                                                 if (outcome.Error)
                                                   return ConnectEnded(&*outcome.Error);
                                                 FOwner = outcome.Values;
                                                 try {
                                                   Subscribe();
                                                 } catch (const DBusError& e) {
                                                   return ConnectEnded(&e);
                                                 }
                                                 ConnectEnded(nullptr);
                                               });
    FWatch = FDispatcher.AddWatch(bus.Fd(), [this] { Pump(); });
  } catch (const DBusError& e) {
    Disconnect();
    throw EZVException(e.what());
  } catch (...) {
    Disconnect();
    throw;
  }
}

void TZorvaneServerCom::Subscribe() {
  for (const char* member : {"OnConnect", "OnLogin", "OnZVMessage"}) {
    FSubscriptions.push_back(FBus->Subscribe(
        FOwner, kZVServerPath, kZVServerInterface, member,
        [this, name = std::string(member)](const DBusArgs& args) {
          // Delivered later as a message of its own, outside the bus's
          // processing, so that a handler may call the server or stop the link.
          if (FQueue) FQueue->Post([this, name, args] { Deliver(name, args); });
        },
        Installed("receive the server's " + std::string(member))));
  }
}

platform::DBusConnection::DBusInstalled TZorvaneServerCom::Installed(const std::string& what) {
  return [this, what](const DBusError* failure) {
    if (failure != nullptr)
      ServerLost("The message bus refused to " + what + ": " + failure->what());
  };
}

void TZorvaneServerCom::ConnectEnded(const DBusError* failure) {
  TDone done = std::exchange(FConnectDone, nullptr);
  if (!done) return;
  std::optional<DBusError> ended;
  if (failure != nullptr) {
    ended = *failure;
    // Nothing more is told or sent until the message below drops it all.
    FLost = true;
    FSubscriptions.clear();
  }
  FQueue->Post([this, done = std::move(done), ended]() mutable {
    if (!ended && FLost) ended.emplace(kFailedError, FLostReason);
    if (ended) {
      Disconnect();
    } else {
      FReady = true;
    }
    const TDone handler = std::move(done);  // the handler may free this object
    handler(ended ? &*ended : nullptr);
  });
}

void TZorvaneServerCom::Disconnect() {
  FQueue.reset();
  FWatch.reset();
  FLookup.reset();
  FSubscriptions.clear();
  FCalls.clear();  // before their connection, whose close may still process
  FBus.reset();
  FOwner.clear();
  FConnectDone = nullptr;
  FReady = false;
  FLost = false;
  FLostReason.clear();
}

void TZorvaneServerCom::Pump() {
  if (!FBus || !FWatch) return;
  try {
    FBus->Process();
  } catch (const DBusError& e) {
    // A broken connection stays readable: without its watch it cannot make
    // the main loop spin.
    FWatch.reset();
    ServerLost(kBusBroke + std::string(e.what()));
  }
}

void TZorvaneServerCom::ServerLost(const std::string& reason) {
  if (FConnectDone) {
    const DBusError failure(kFailedError, reason);
    return ConnectEnded(&failure);
  }
  if (FLost) return;
  FLost = true;
  FLostReason = reason;
  FSubscriptions.clear();
  if (FQueue) {
    FQueue->Post([this, reason] {
      if (!OnServerLost) return;
      const TOnServerLost handler = OnServerLost;  // the handler may free this object
      handler(reason);
    });
  }
}

void TZorvaneServerCom::Deliver(const std::string& member, const DBusArgs& args) {
  // A signal of another shape than the interface's is not the server's: it is
  // dropped, as an event is while no handler is attached.
  std::string signature;
  for (const DBusValue& value : args) signature += platform::DBusSignatureOf(value);
  const auto s = [&args](std::size_t i) -> const std::string& {
    return std::get<std::string>(args[i]);
  };
  const auto i = [&args](std::size_t n) { return std::get<int32_t>(args[n]); };
  const auto d = [&args](std::size_t n) { return std::get<double>(args[n]); };
  // Each handler is copied first: it may free this object.
  if (member == "OnConnect" && OnConnect && signature == "biss") {
    const TOnConnect handler = OnConnect;
    handler(*this, std::get<bool>(args[0]), i(1), s(2), s(3));
  } else if (member == "OnLogin" && OnLogin && signature == "biss") {
    const TOnLogin handler = OnLogin;
    handler(*this, std::get<bool>(args[0]), i(1), s(2), s(3));
  } else if (member == "OnZVMessage" && OnZVMessage && signature == "isssssiddi") {
    const TOnZVMessage handler = OnZVMessage;
    handler(*this, i(0), s(1), s(2), s(3), s(4), s(5), i(6), d(7), d(8), i(9));
  }
}

platform::DBusConnection& TZorvaneServerCom::DefaultInterface() {
  if (!IsConnected()) throw EZVException(kNotConnected);
  return *FBus;
}

void TZorvaneServerCom::CancelCalls() {
  FCalls.clear();
  // Outcomes that arrived but wait for delivery go too.
  if (FQueue) FQueue = std::make_unique<platform::MessageQueue>(FDispatcher);
}

void TZorvaneServerCom::Close(const std::string* logoutAccount, const std::string& ipAddress,
                              std::chrono::milliseconds bound) {
  CancelCalls();
  if (!IsConnected()) return;  // nobody to tell
  const auto deadline = std::chrono::steady_clock::now() + bound;
  std::optional<std::string> failure;
  int waiting = 0;
  const auto ended = [&](DBusOutcome<DBusArgs> outcome) {
    --waiting;
    if (outcome.Error && outcome.Error->Name() != platform::kDBusErrorTimedOut && !failure) {
      failure = outcome.Error->what();
    }
  };
  // Dropped before the handler's locals go, answered or not.
  std::vector<std::unique_ptr<platform::DBusHandle>> calls;
  try {
    if (logoutAccount != nullptr) {
      calls.push_back(FBus->CallAsync(FOwner, kZVServerPath, kZVServerInterface, "Logout",
                                      {*logoutAccount, ipAddress}, bound, ended));
      ++waiting;
    }
    calls.push_back(
        FBus->CallAsync(FOwner, kZVServerPath, kZVServerInterface, "Stop", {}, bound, ended));
    ++waiting;
    for (auto now = std::chrono::steady_clock::now(); waiting > 0 && now < deadline;
         now = std::chrono::steady_clock::now()) {
      if (!FBus->Process()) {
        FBus->Wait(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) +
                   std::chrono::milliseconds(1));
      }
    }
  } catch (const DBusError& e) {
    if (!failure) failure = e.what();
  }
  if (failure) throw EZVException(*failure);
}

template <typename T>
void TZorvaneServerCom::Send(const std::function<std::unique_ptr<platform::DBusHandle>(
                                 platform::DBusConnection&, platform::DBusReplyHandler<T>)>& send,
                             TDeliver<T> deliver) {
  const uint64_t id = ++FLastCall;
  std::unique_ptr<platform::DBusHandle> call = OnServer([&](platform::DBusConnection& bus) {
    return send(bus, [this, id, deliver](platform::DBusOutcome<T> outcome) {
      FCalls.erase(id);
      // A call ended by the connection's breaking: the break is told first,
      // so that the call's failure is not taken for the server's word.
      if (outcome.Error && !FBus->IsOpen())
        ServerLost(kBusBroke + std::string(outcome.Error->what()));
      if (FQueue) FQueue->Post([deliver, outcome = std::move(outcome)] { deliver(outcome); });
    });
  });
  FCalls.emplace(id, std::move(call));
}

void TZorvaneServerCom::CallObject(const std::string& path, const std::string& interface,
                                   const std::string& member, const DBusArgs& args,
                                   TDeliver<DBusArgs> deliver) {
  Send<DBusArgs>(
      [&](platform::DBusConnection& bus, platform::DBusReplyHandler<DBusArgs> handler) {
        return bus.CallAsync(FOwner, path, interface, member, args, FCallTimeout,
                             std::move(handler));
      },
      std::move(deliver));
}

void TZorvaneServerCom::CallServer(const std::string& member, const DBusArgs& args,
                                   TDeliver<DBusArgs> deliver) {
  CallObject(kZVServerPath, kZVServerInterface, member, args, std::move(deliver));
}

TZorvaneServerCom::TDeliver<DBusArgs> TZorvaneServerCom::Outcome(TDone done) {
  return [done = std::move(done)](const DBusOutcome<DBusArgs>& outcome) {
    done(outcome.Error ? &*outcome.Error : nullptr);
  };
}

void TZorvaneServerCom::CallServer(const std::string& member, const DBusArgs& args, TDone done) {
  CallServer(member, args, Outcome(std::move(done)));
}

void TZorvaneServerCom::Start(TDone done) { CallServer("Start", {}, std::move(done)); }

void TZorvaneServerCom::ConnectToServer(const std::string& accountId, const std::string& ipAddress,
                                        TDone done) {
  CallServer("ConnectToServer", {accountId, ipAddress}, std::move(done));
}

void TZorvaneServerCom::Login(const std::string& userName, const std::string& password,
                              const std::string& ipAddress, int32_t encoding, TDone done) {
  CallServer("Login", {userName, password, ipAddress, encoding}, std::move(done));
}

void TZorvaneServerCom::Logout(const std::string& accountId, const std::string& ipAddress,
                               TDone done) {
  CallServer("Logout", {accountId, ipAddress}, std::move(done));
}

void TZorvaneServerCom::ClientReady(const std::string& accountId, const std::string& accountIp,
                                    bool isReady, TDone done) {
  CallServer("ClientReady", {accountId, accountIp, isReady}, std::move(done));
}

void TZorvaneServerCom::SendMsg(const std::string& accountId, const std::string& accountIp,
                                const TStringList& msgData, TDone done) {
  CallServer("SendMsg", {accountId, accountIp, msgData}, std::move(done));
}

void TZorvaneServerCom::Carriers(TCarriersDone done) {
  Send<DBusValue>(
      [&](platform::DBusConnection& bus, platform::DBusReplyHandler<DBusValue> handler) {
        return bus.GetPropertyAsync(FOwner, kZVServerPath, kZVServerInterface, "Carriers",
                                    FCallTimeout, std::move(handler));
      },
      [done = std::move(done)](const DBusOutcome<DBusValue>& outcome) {
        WithValues(outcome, done,
                   [&] { return Arg<TStringList>({outcome.Values}, 0, "Carriers"); });
      });
}

void TZorvaneServerCom::CarrierById(int32_t id, TCarrierDone done) {
  const auto found = [this, done](const platform::DBusError* failure, const std::string& path) {
    if (failure != nullptr) return done(failure, std::nullopt);
    if (path == kNoObjectPath) return done(nullptr, std::nullopt);
    // The object's properties are asked for once its path is known.
    try {
      Send<DBusProperties>(
          [&](platform::DBusConnection& bus, platform::DBusReplyHandler<DBusProperties> handler) {
            return bus.GetAllPropertiesAsync(FOwner, path, kZVCarrierInterface, FCallTimeout,
                                             std::move(handler));
          },
          [done](const DBusOutcome<DBusProperties>& properties) {
            WithValues(properties, done,
                       [&] { return std::optional(CarrierFields(properties.Values)); });
          });
    } catch (const EZVException& e) {
      const DBusError gone(kFailedError, e.what());
      done(&gone, std::nullopt);
    }
  };
  CallServer("CarrierById", {id}, TDeliver<DBusArgs>([found](const DBusOutcome<DBusArgs>& outcome) {
               WithValues(outcome, found, [&] {
                 return Arg<DBusObjectPath>(outcome.Values, 0, "CarrierById").Path;
               });
             }));
}

void TZorvaneServerCom::AccountById(const std::string& accountId, TAccountDone done) {
  CallServer("AccountById", {accountId},
             TDeliver<DBusArgs>([this, done](const DBusOutcome<DBusArgs>& outcome) {
               if (outcome.Error && outcome.Error->Name() == kZVNoObjectError) {
                 return done(nullptr, std::nullopt);
               }
               WithValues(outcome, done, [&]() -> std::optional<TAccount> {
                 const std::string& path =
                     Arg<DBusObjectPath>(outcome.Values, 0, "AccountById").Path;
                 if (path == kNoObjectPath) return std::nullopt;
                 return TAccount(*this, path);
               });
             }));
}

void TZorvaneServerCom::TAccount::DeleteAllMsgs(TDone done) {
  FServer.CallObject(FPath, kZVAccountInterface, "DeleteAllMsgs", {}, Outcome(std::move(done)));
}

void TZorvaneServerCom::TAccount::DeleteOldMsgs(int32_t olderThenDays, TDone done) {
  FServer.CallObject(FPath, kZVAccountInterface, "DeleteOldMsgs", {olderThenDays},
                     Outcome(std::move(done)));
}

void TZorvaneServerCom::TAccount::DeleteSelectedMsg(int32_t msgId, TDone done) {
  FServer.CallObject(FPath, kZVAccountInterface, "DeleteSelectedMsg", {msgId},
                     Outcome(std::move(done)));
}

}  // namespace zv
