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
using platform::DBusValue;

constexpr const char* kNotConnected =
    "DefaultInterface is NULL. Component is not connected to Server. You must call \"Connect\" "
    "or \"ConnectTo\" before this operation";
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
const T& Property(const std::map<std::string, DBusValue>& values, const std::string& name) {
  const auto it = values.find(name);
  const T* value = it == values.end() ? nullptr : std::get_if<T>(&it->second);
  if (value == nullptr) {
    throw EZVException("The carrier object of the local Zorvane Server has no property \"" + name +
                       "\" of the interface's type");
  }
  return *value;
}

}  // namespace

TZorvaneServerCom::TZorvaneServerCom(platform::MessageDispatcher& dispatcher)
    : FDispatcher(dispatcher) {}

TZorvaneServerCom::~TZorvaneServerCom() = default;

void TZorvaneServerCom::Connect() {
  if (FBus) return;
  try {
    // Held in its field at once: a failure below drops what hangs on it first.
    FBus = FBusAddress.empty() ? platform::DBusConnection::Open(platform::LocalBusFromEnvironment())
                               : platform::DBusConnection::OpenAddress(FBusAddress);
    platform::DBusConnection* bus = FBus.get();
    FOwner = bus->StartServiceAndGetOwner(kZVServerBusName, FCallTimeout);
    FQueue = std::make_unique<platform::MessageQueue>(FDispatcher);
    for (const char* member : {"OnConnect", "OnLogin", "OnZVMessage"}) {
      FSubscriptions.push_back(
          bus->Subscribe(FOwner, kZVServerPath, kZVServerInterface, member,
                         [this, name = std::string(member)](const DBusArgs& args) {
                           // Delivered later as a message of its own, outside the bus's
                           // processing, so that a handler may call the server or stop the link.
                           if (FQueue) FQueue->Post([this, name, args] { Deliver(name, args); });
                         }));
    }
    // The subscriptions match the owner found now only: a new owner is a new
    // server that knows nothing of this console's session.
    FSubscriptions.push_back(
        bus->WatchNameOwner(kZVServerBusName, [this](const std::string& newOwner) {
          if (newOwner == FOwner) return;
          ServerLost(newOwner.empty()
                         ? "The name " + std::string(kZVServerBusName) + " has no owner any more"
                         : "The name " + std::string(kZVServerBusName) +
                               " has passed to another owner");
        }));
    FWatch = FDispatcher.AddWatch(bus->Fd(), [this] { Pump(); });
    FLost = false;
  } catch (const DBusError& e) {
    Disconnect();
    throw EZVException(e.what());
  } catch (...) {
    Disconnect();
    throw;
  }
}

void TZorvaneServerCom::Disconnect() {
  FQueue.reset();
  FWatch.reset();
  FSubscriptions.clear();
  FBus.reset();
  FOwner.clear();
  FLost = false;
}

void TZorvaneServerCom::Pump() {
  if (!FBus || !FWatch) return;
  try {
    FBus->Process();
  } catch (const DBusError& e) {
    // A broken connection stays readable: without its watch it cannot make
    // the main loop spin.
    FWatch.reset();
    ServerLost(std::string("The connection to the message bus broke: ") + e.what());
  }
}

void TZorvaneServerCom::PostPump() {
  if (FQueue) FQueue->Post([this] { Pump(); });
}

void TZorvaneServerCom::ServerLost(const std::string& reason) {
  if (FLost) return;
  FLost = true;
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
  if (!FBus) Connect();
  if (!FBus || FLost) throw EZVException(kNotConnected);
  return *FBus;
}

DBusArgs TZorvaneServerCom::CallServer(const std::string& path, const std::string& interface,
                                       const std::string& member, const DBusArgs& args) {
  return OnServer([&](platform::DBusConnection& bus) {
    return bus.Call(FOwner, path, interface, member, args, FCallTimeout);
  });
}

bool TZorvaneServerCom::Start() {
  return Arg<bool>(CallServer(kZVServerPath, kZVServerInterface, "Start", {}), 0, "Start");
}

bool TZorvaneServerCom::Stop() {
  return Arg<bool>(CallServer(kZVServerPath, kZVServerInterface, "Stop", {}), 0, "Stop");
}

void TZorvaneServerCom::ConnectToServer(const std::string& accountId,
                                        const std::string& ipAddress) {
  CallServer(kZVServerPath, kZVServerInterface, "ConnectToServer", {accountId, ipAddress});
}

void TZorvaneServerCom::Login(const std::string& userName, const std::string& password,
                              const std::string& ipAddress, int32_t encoding) {
  CallServer(kZVServerPath, kZVServerInterface, "Login", {userName, password, ipAddress, encoding});
}

void TZorvaneServerCom::Logout(const std::string& accountId, const std::string& ipAddress) {
  CallServer(kZVServerPath, kZVServerInterface, "Logout", {accountId, ipAddress});
}

void TZorvaneServerCom::ClientReady(const std::string& accountId, const std::string& accountIp,
                                    bool isReady) {
  CallServer(kZVServerPath, kZVServerInterface, "ClientReady", {accountId, accountIp, isReady});
}

void TZorvaneServerCom::SendMsg(const std::string& accountId, const std::string& accountIp,
                                const TStringList& msgData) {
  CallServer(kZVServerPath, kZVServerInterface, "SendMsg", {accountId, accountIp, msgData});
}

TStringList TZorvaneServerCom::Carriers() {
  const DBusArgs value{OnServer([&](platform::DBusConnection& bus) {
    return bus.GetProperty(FOwner, kZVServerPath, kZVServerInterface, "Carriers", FCallTimeout);
  })};
  return Arg<TStringList>(value, 0, "Carriers");
}

std::optional<TZVCarrierFields> TZorvaneServerCom::CarrierById(int32_t id) {
  const DBusArgs reply = CallServer(kZVServerPath, kZVServerInterface, "CarrierById", {id});
  const std::string path = Arg<DBusObjectPath>(reply, 0, "CarrierById").Path;
  if (path == kNoObjectPath) return std::nullopt;
  const std::map<std::string, DBusValue> values = OnServer([&](platform::DBusConnection& bus) {
    return bus.GetAllProperties(FOwner, path, kZVCarrierInterface, FCallTimeout);
  });
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

std::optional<TZorvaneServerCom::TAccount> TZorvaneServerCom::AccountById(
    const std::string& accountId) {
  const std::optional<DBusArgs> reply =
      OnServer([&](platform::DBusConnection& bus) -> std::optional<DBusArgs> {
        try {
          return bus.Call(FOwner, kZVServerPath, kZVServerInterface, "AccountById", {accountId},
                          FCallTimeout);
        } catch (const DBusError& e) {
          if (e.Name() == kZVNoObjectError) return std::nullopt;
          throw;
        }
      });
  if (!reply) return std::nullopt;
  const std::string path = Arg<DBusObjectPath>(*reply, 0, "AccountById").Path;
  if (path == kNoObjectPath) return std::nullopt;
  return TAccount(*this, path);
}

void TZorvaneServerCom::TAccount::DeleteAllMsgs() {
  FServer.CallServer(FPath, kZVAccountInterface, "DeleteAllMsgs", {});
}

void TZorvaneServerCom::TAccount::DeleteOldMsgs(int32_t olderThenDays) {
  FServer.CallServer(FPath, kZVAccountInterface, "DeleteOldMsgs", {olderThenDays});
}

void TZorvaneServerCom::TAccount::DeleteSelectedMsg(int32_t msgId) {
  FServer.CallServer(FPath, kZVAccountInterface, "DeleteSelectedMsg", {msgId});
}

}  // namespace zv
