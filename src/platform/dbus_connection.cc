#include "platform/dbus_connection.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <utility>

#include "platform/dbus_message.h"

namespace zv::platform {

using namespace dbus_detail;

namespace {

std::string BusAddressText(DBusBusKind kind) {
  const char* variable =
      kind == DBusBusKind::kSession ? "DBUS_SESSION_BUS_ADDRESS" : "DBUS_SYSTEM_BUS_ADDRESS";
  const char* address = std::getenv(variable);
  if (address != nullptr && *address != '\0') return address;
  if (kind == DBusBusKind::kSystem) return "unix:path=/run/dbus/system_bus_socket";
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') return std::string("unix:path=") + runtime + "/bus";
  return "";
}

struct MatchState {
  std::exception_ptr* Pending;
  std::function<void(sd_bus_message*)> Handler;
  sd_bus_slot* Slot = nullptr;
};

int OnMatch(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* state = static_cast<MatchState*>(userdata);
  // The handler may drop this very subscription: call a copy.
  std::function<void(sd_bus_message*)> handler = state->Handler;
  return Guarded(*state->Pending, [&] {
    handler(m);
    return 0;
  });
}

}  // namespace

std::string DBusSignatureOf(const DBusValue& value) {
  static constexpr const char* kCodes[] = {"b", "i", "d", "s", "o", "as"};
  return kCodes[value.index()];
}

DBusBusKind ChooseLocalBus(const std::string& localBus, bool sessionAddressSet) {
  if (localBus == "session") return DBusBusKind::kSession;
  if (localBus == "system") return DBusBusKind::kSystem;
  if (localBus.empty()) return sessionAddressSet ? DBusBusKind::kSession : DBusBusKind::kSystem;
  throw DBusError(kErrorBadAddress,
                  "ZVCC_LOCAL_BUS is \"" + localBus + "\"; it must be \"session\" or \"system\"");
}

DBusBusKind LocalBusFromEnvironment() {
  const char* localBus = std::getenv("ZVCC_LOCAL_BUS");
  const char* session = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  return ChooseLocalBus(localBus != nullptr ? localBus : "",
                        session != nullptr && *session != '\0');
}

std::unique_ptr<DBusConnection> DBusConnection::Open(DBusBusKind kind) {
  auto impl = std::make_unique<Impl>();
  const int r =
      kind == DBusBusKind::kSession ? sd_bus_open_user(&impl->Bus) : sd_bus_open_system(&impl->Bus);
  if (r < 0) {
    impl->Bus = nullptr;
    const std::string name = kind == DBusBusKind::kSession ? "session" : "system";
    const std::string address = BusAddressText(kind);
    if (address.empty()) {
      throw DBusError(kErrorBadAddress, "No " + name +
                                            " bus is reachable: no address is set "
                                            "(DBUS_SESSION_BUS_ADDRESS)");
    }
    throw DBusError(kErrorDisconnected,
                    "No " + name + " bus is reachable at " + address + ": " + std::strerror(-r));
  }
  return std::unique_ptr<DBusConnection>(new DBusConnection(std::move(impl)));
}

std::unique_ptr<DBusConnection> DBusConnection::OpenAddress(const std::string& address) {
  auto impl = std::make_unique<Impl>();
  Check(sd_bus_new(&impl->Bus), "Cannot create a bus connection");
  Check(sd_bus_set_address(impl->Bus, address.c_str()), "Bad bus address");
  Check(sd_bus_set_bus_client(impl->Bus, 1), "Cannot create a bus connection");
  const int r = sd_bus_start(impl->Bus);
  if (r < 0) {
    throw DBusError(kErrorDisconnected,
                    "No bus is reachable at " + address + ": " + std::strerror(-r));
  }
  return std::unique_ptr<DBusConnection>(new DBusConnection(std::move(impl)));
}

DBusConnection::DBusConnection(std::unique_ptr<Impl> impl) : FImpl(std::move(impl)) {}

DBusConnection::~DBusConnection() = default;

int DBusConnection::Fd() const { return sd_bus_get_fd(FImpl->Bus); }

std::string DBusConnection::UniqueName() const {
  const char* name = nullptr;
  Check(sd_bus_get_unique_name(FImpl->Bus, &name), "Cannot read the connection's name");
  return name;
}

bool DBusConnection::Process() {
  bool any = false;
  for (;;) {
    const int r = sd_bus_process(FImpl->Bus, nullptr);
    if (FImpl->Pending) std::rethrow_exception(std::exchange(FImpl->Pending, nullptr));
    if (r < 0) {
      throw DBusError(kErrorDisconnected,
                      std::string("The bus connection is broken: ") + std::strerror(-r));
    }
    if (r == 0) return any;
    any = true;
  }
}

DBusArgs DBusConnection::Call(const std::string& destination, const std::string& path,
                              const std::string& interface, const std::string& member,
                              const DBusArgs& args, std::chrono::milliseconds timeout) {
  MessageRef call;
  int r = sd_bus_message_new_method_call(FImpl->Bus, &call.Ptr, destination.c_str(), path.c_str(),
                                         interface.c_str(), member.c_str());
  if (r < 0) ThrowErrno(r, "Cannot call " + interface + "." + member + " on " + path);
  AppendArgs(call.Ptr, args);
  ErrorHolder error;
  MessageRef reply;
  r = sd_bus_call(FImpl->Bus, call.Ptr, static_cast<uint64_t>(timeout.count()) * 1000U,
                  &error.Error, &reply.Ptr);
  if (r < 0) ThrowCallError(error.Error, r);
  return ReadArgs(reply.Ptr);
}

std::map<std::string, DBusValue> DBusConnection::GetAllProperties(
    const std::string& destination, const std::string& path, const std::string& interface,
    std::chrono::milliseconds timeout) {
  MessageRef call;
  int r = sd_bus_message_new_method_call(FImpl->Bus, &call.Ptr, destination.c_str(), path.c_str(),
                                         kPropertiesInterface, "GetAll");
  if (r < 0) ThrowErrno(r, "Cannot read the properties of " + path);
  AppendText(call.Ptr, 's', interface);
  ErrorHolder error;
  MessageRef reply;
  r = sd_bus_call(FImpl->Bus, call.Ptr, static_cast<uint64_t>(timeout.count()) * 1000U,
                  &error.Error, &reply.Ptr);
  if (r < 0) ThrowCallError(error.Error, r);

  std::map<std::string, DBusValue> properties;
  Check(sd_bus_message_enter_container(reply.Ptr, 'a', "{sv}"), "Cannot read a bus message");
  while ((r = sd_bus_message_enter_container(reply.Ptr, 'e', "sv")) > 0) {
    const char* name = nullptr;
    Check(sd_bus_message_read_basic(reply.Ptr, 's', &name), "Cannot read a bus message");
    DBusValue value;
    if (!ReadValue(reply.Ptr, value)) ThrowShape("a property without a value");
    properties[name] = std::move(value);
    Check(sd_bus_message_exit_container(reply.Ptr), "Cannot read a bus message");
  }
  Check(r, "Cannot read a bus message");
  return properties;
}

DBusValue DBusConnection::GetProperty(const std::string& destination, const std::string& path,
                                      const std::string& interface, const std::string& name,
                                      std::chrono::milliseconds timeout) {
  DBusArgs reply = Call(destination, path, kPropertiesInterface, "Get", {interface, name}, timeout);
  if (reply.size() != 1) ThrowShape("a property reply of " + std::to_string(reply.size()));
  return std::move(reply.front());
}

std::string DBusConnection::StartServiceAndGetOwner(const std::string& name,
                                                    std::chrono::milliseconds timeout) {
  const uint64_t usec = static_cast<uint64_t>(timeout.count()) * 1000U;
  auto owner = [&]() -> std::optional<std::string> {
    try {
      DBusArgs reply = Call(kBusName, kBusPath, kBusName, "GetNameOwner", {name}, timeout);
      if (reply.size() != 1 || !std::holds_alternative<std::string>(reply.front())) {
        ThrowShape("the owner of " + name);
      }
      return std::get<std::string>(reply.front());
    } catch (const DBusError& e) {
      if (e.Name() == "org.freedesktop.DBus.Error.NameHasNoOwner") return std::nullopt;
      throw;
    }
  };
  if (auto running = owner()) return *running;
  {
    // No one owns the name: the bus starts the service registered for it, or
    // says why it cannot.
    ErrorHolder error;
    MessageRef call;
    MessageRef reply;
    Check(sd_bus_message_new_method_call(FImpl->Bus, &call.Ptr, kBusName, kBusPath, kBusName,
                                         "StartServiceByName"),
          "Cannot ask the bus for a service");
    AppendText(call.Ptr, 's', name);
    const uint32_t flags = 0;
    Check(sd_bus_message_append_basic(call.Ptr, 'u', &flags), "Cannot ask the bus for a service");
    const int r = sd_bus_call(FImpl->Bus, call.Ptr, usec, &error.Error, &reply.Ptr);
    if (r < 0) ThrowCallError(error.Error, r);
  }
  if (auto started = owner()) return *started;
  throw DBusError("org.freedesktop.DBus.Error.NameHasNoOwner",
                  "The service started for " + name + " left the bus at once");
}

std::unique_ptr<DBusHandle> DBusConnection::Subscribe(const std::string& sender,
                                                      const std::string& path,
                                                      const std::string& interface,
                                                      const std::string& member,
                                                      DBusSignalHandler handler) {
  auto state = std::make_unique<MatchState>();
  state->Pending = &FImpl->Pending;
  state->Handler = [handler = std::move(handler)](sd_bus_message* m) { handler(ReadArgs(m)); };
  const int r = sd_bus_match_signal(FImpl->Bus, &state->Slot, sender.c_str(), path.c_str(),
                                    interface.c_str(), member.c_str(), OnMatch, state.get());
  if (r < 0) ThrowErrno(r, "Cannot subscribe to " + interface + "." + member);
  return std::make_unique<SlotHandle<MatchState>>(std::move(state));
}

std::unique_ptr<DBusHandle> DBusConnection::WatchNameOwner(
    const std::string& name, std::function<void(const std::string&)> handler) {
  auto state = std::make_unique<MatchState>();
  state->Pending = &FImpl->Pending;
  state->Handler = [name, handler = std::move(handler)](sd_bus_message* m) {
    const DBusArgs args = ReadArgs(m);
    if (args.size() != 3) return;
    const auto* changed = std::get_if<std::string>(&args[0]);
    const auto* newOwner = std::get_if<std::string>(&args[2]);
    if (changed != nullptr && newOwner != nullptr && *changed == name) handler(*newOwner);
  };
  const std::string match =
      "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
      "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='" +
      name + "'";
  const int r = sd_bus_add_match(FImpl->Bus, &state->Slot, match.c_str(), OnMatch, state.get());
  if (r < 0) ThrowErrno(r, "Cannot watch the owner of " + name);
  return std::make_unique<SlotHandle<MatchState>>(std::move(state));
}

}  // namespace zv::platform
