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

// A handler sd-bus calls back: a signal match or the reply of a call.
struct CallbackState {
  std::exception_ptr* Pending;
  std::function<void(sd_bus_message*)> Handler;
  sd_bus_slot* Slot = nullptr;
};

int OnCallback(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* state = static_cast<CallbackState*>(userdata);
  // The handler may drop this very slot: call a copy.
  std::function<void(sd_bus_message*)> handler = state->Handler;
  return Guarded(*state->Pending, [&] {
    handler(m);
    return 0;
  });
}

void NewCall(sd_bus* bus, MessageRef& call, const std::string& destination, const std::string& path,
             const std::string& interface, const std::string& member) {
  const int r = sd_bus_message_new_method_call(bus, &call.Ptr, destination.c_str(), path.c_str(),
                                               interface.c_str(), member.c_str());
  if (r < 0) ThrowErrno(r, "Cannot call " + interface + "." + member + " on " + path);
}

uint64_t Microseconds(std::chrono::milliseconds timeout) {
  return static_cast<uint64_t>(timeout.count()) * 1000U;
}

void CallAndWait(sd_bus* bus, sd_bus_message* call, std::chrono::milliseconds timeout,
                 MessageRef& reply) {
  ErrorHolder error;
  const int r = sd_bus_call(bus, call, Microseconds(timeout), &error.Error, &reply.Ptr);
  if (r < 0) ThrowCallError(error.Error, r);
}

DBusProperties ReadProperties(sd_bus_message* reply) {
  DBusProperties properties;
  int r = 0;
  Check(sd_bus_message_enter_container(reply, 'a', "{sv}"), "Cannot read a bus message");
  while ((r = sd_bus_message_enter_container(reply, 'e', "sv")) > 0) {
    const char* name = nullptr;
    Check(sd_bus_message_read_basic(reply, 's', &name), "Cannot read a bus message");
    DBusValue value;
    if (!ReadValue(reply, value)) ThrowShape("a property without a value");
    properties[name] = std::move(value);
    Check(sd_bus_message_exit_container(reply), "Cannot read a bus message");
  }
  Check(r, "Cannot read a bus message");
  return properties;
}

DBusValue ReadProperty(sd_bus_message* reply) {
  DBusArgs values = ReadArgs(reply);
  if (values.size() != 1) ThrowShape("a property reply of " + std::to_string(values.size()));
  return std::move(values.front());
}

// Sends `call` without waiting; its reply, read by `read`, or its failure
// goes to `handler`.
template <typename T>
std::unique_ptr<DBusHandle> SendAsync(sd_bus* bus, std::exception_ptr& pending,
                                      sd_bus_message* call, std::chrono::milliseconds timeout,
                                      T (*read)(sd_bus_message*), DBusReplyHandler<T> handler) {
  auto state = std::make_unique<CallbackState>();
  state->Pending = &pending;
  // sd-bus starts its clock after this one: once it gives up, this deadline
  // has passed too.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  state->Handler = [read, deadline, handler = std::move(handler)](sd_bus_message* m) {
    DBusOutcome<T> outcome;
    if (const sd_bus_error* error = sd_bus_message_get_error(m)) {
      // sd-bus names its own time-out as a callee that left without a reply.
      const bool timedOut = sd_bus_error_has_name(error, SD_BUS_ERROR_NO_REPLY) &&
                            std::chrono::steady_clock::now() >= deadline;
      outcome.Error.emplace(timedOut ? kDBusErrorTimedOut : error->name,
                            error->message != nullptr ? error->message : error->name);
    } else {
      try {
        outcome.Values = read(m);
      } catch (const DBusError& e) {
        outcome.Error = e;
      }
    }
    handler(std::move(outcome));
  };
  const int r =
      sd_bus_call_async(bus, &state->Slot, call, OnCallback, state.get(), Microseconds(timeout));
  if (r < 0) ThrowErrno(r, "Cannot send a call on the bus");
  return std::make_unique<SlotHandle<CallbackState>>(std::move(state));
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

std::chrono::milliseconds LocalCallTimeoutFromEnvironment() {
  const char* value = std::getenv("ZVCC_LOCAL_CALL_TIMEOUT_MS");
  if (value == nullptr) return kDBusDefaultTimeout;
  char* end = nullptr;
  errno = 0;
  const long ms = std::strtol(value, &end, 10);
  if (errno != 0 || end == value || *end != '\0' || ms < 100 || ms > kDBusDefaultTimeout.count()) {
    return kDBusDefaultTimeout;
  }
  return std::chrono::milliseconds(ms);
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

bool DBusConnection::IsOpen() const { return sd_bus_is_open(FImpl->Bus) > 0; }

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
  NewCall(FImpl->Bus, call, destination, path, interface, member);
  AppendArgs(call.Ptr, args);
  MessageRef reply;
  CallAndWait(FImpl->Bus, call.Ptr, timeout, reply);
  return ReadArgs(reply.Ptr);
}

DBusProperties DBusConnection::GetAllProperties(const std::string& destination,
                                                const std::string& path,
                                                const std::string& interface,
                                                std::chrono::milliseconds timeout) {
  MessageRef call;
  NewCall(FImpl->Bus, call, destination, path, kPropertiesInterface, "GetAll");
  AppendText(call.Ptr, 's', interface);
  MessageRef reply;
  CallAndWait(FImpl->Bus, call.Ptr, timeout, reply);
  return ReadProperties(reply.Ptr);
}

std::unique_ptr<DBusHandle> DBusConnection::CallAsync(
    const std::string& destination, const std::string& path, const std::string& interface,
    const std::string& member, const DBusArgs& args, std::chrono::milliseconds timeout,
    DBusReplyHandler<DBusArgs> handler) {
  MessageRef call;
  NewCall(FImpl->Bus, call, destination, path, interface, member);
  AppendArgs(call.Ptr, args);
  return SendAsync(FImpl->Bus, FImpl->Pending, call.Ptr, timeout, &ReadArgs, std::move(handler));
}

std::unique_ptr<DBusHandle> DBusConnection::GetAllPropertiesAsync(
    const std::string& destination, const std::string& path, const std::string& interface,
    std::chrono::milliseconds timeout, DBusReplyHandler<DBusProperties> handler) {
  MessageRef call;
  NewCall(FImpl->Bus, call, destination, path, kPropertiesInterface, "GetAll");
  AppendText(call.Ptr, 's', interface);
  return SendAsync(FImpl->Bus, FImpl->Pending, call.Ptr, timeout, &ReadProperties,
                   std::move(handler));
}

std::unique_ptr<DBusHandle> DBusConnection::GetPropertyAsync(const std::string& destination,
                                                             const std::string& path,
                                                             const std::string& interface,
                                                             const std::string& name,
                                                             std::chrono::milliseconds timeout,
                                                             DBusReplyHandler<DBusValue> handler) {
  MessageRef call;
  NewCall(FImpl->Bus, call, destination, path, kPropertiesInterface, "Get");
  AppendArgs(call.Ptr, {interface, name});
  return SendAsync(FImpl->Bus, FImpl->Pending, call.Ptr, timeout, &ReadProperty,
                   std::move(handler));
}

void DBusConnection::Wait(std::chrono::milliseconds timeout) {
  const int r = sd_bus_wait(FImpl->Bus, Microseconds(timeout));
  if (r < 0) {
    throw DBusError(kErrorDisconnected,
                    std::string("The bus connection is broken: ") + std::strerror(-r));
  }
}

DBusValue DBusConnection::GetProperty(const std::string& destination, const std::string& path,
                                      const std::string& interface, const std::string& name,
                                      std::chrono::milliseconds timeout) {
  MessageRef call;
  NewCall(FImpl->Bus, call, destination, path, kPropertiesInterface, "Get");
  AppendArgs(call.Ptr, {interface, name});
  MessageRef reply;
  CallAndWait(FImpl->Bus, call.Ptr, timeout, reply);
  return ReadProperty(reply.Ptr);
}

std::string DBusConnection::StartServiceAndGetOwner(const std::string& name,
                                                    std::chrono::milliseconds timeout) {
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
    MessageRef call;
    NewCall(FImpl->Bus, call, kBusName, kBusPath, kBusName, "StartServiceByName");
    AppendText(call.Ptr, 's', name);
    const uint32_t flags = 0;
    Check(sd_bus_message_append_basic(call.Ptr, 'u', &flags), "Cannot ask the bus for a service");
    MessageRef reply;
    CallAndWait(FImpl->Bus, call.Ptr, timeout, reply);
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
  auto state = std::make_unique<CallbackState>();
  state->Pending = &FImpl->Pending;
  state->Handler = [handler = std::move(handler)](sd_bus_message* m) { handler(ReadArgs(m)); };
  const int r = sd_bus_match_signal(FImpl->Bus, &state->Slot, sender.c_str(), path.c_str(),
                                    interface.c_str(), member.c_str(), OnCallback, state.get());
  if (r < 0) ThrowErrno(r, "Cannot subscribe to " + interface + "." + member);
  return std::make_unique<SlotHandle<CallbackState>>(std::move(state));
}

std::unique_ptr<DBusHandle> DBusConnection::WatchNameOwner(
    const std::string& name, std::function<void(const std::string&)> handler) {
  auto state = std::make_unique<CallbackState>();
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
  const int r = sd_bus_add_match(FImpl->Bus, &state->Slot, match.c_str(), OnCallback, state.get());
  if (r < 0) ThrowErrno(r, "Cannot watch the owner of " + name);
  return std::make_unique<SlotHandle<CallbackState>>(std::move(state));
}

}  // namespace zv::platform
