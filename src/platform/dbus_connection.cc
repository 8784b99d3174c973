#include "platform/dbus_connection.h"

#include <algorithm>
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
  // A match's: the bus's answer to adding it.
  DBusConnection::DBusInstalled Installed;
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

int OnInstalled(sd_bus_message* m, void* userdata, sd_bus_error* /*error*/) {
  auto* state = static_cast<CallbackState*>(userdata);
  const DBusConnection::DBusInstalled installed = state->Installed;
  return Guarded(*state->Pending, [&] {
    if (const sd_bus_error* error = sd_bus_message_get_error(m)) {
      const DBusError failure = ErrorOf(*error);
      installed(&failure);
    } else {
      installed(nullptr);
    }
    return 0;
  });
}

// A match's state; without `installed`, sd-bus's own answer to a refused
// match applies: the connection closes.
std::unique_ptr<CallbackState> MatchState(std::exception_ptr& pending,
                                          std::function<void(sd_bus_message*)> handler,
                                          DBusConnection::DBusInstalled installed,
                                          sd_bus_message_handler_t& onInstalled) {
  auto state = std::make_unique<CallbackState>();
  state->Pending = &pending;
  state->Handler = std::move(handler);
  state->Installed = std::move(installed);
  onInstalled = state->Installed ? OnInstalled : nullptr;
  return state;
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
      const DBusError failure = ErrorOf(*error);
      outcome.Error.emplace(timedOut ? kDBusErrorTimedOut : failure.Name(), failure.what());
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

std::string ReadOwner(sd_bus_message* reply) {
  DBusArgs values = ReadArgs(reply);
  if (values.size() != 1 || !std::holds_alternative<std::string>(values.front())) {
    ThrowShape("the owner of a name");
  }
  return std::get<std::string>(std::move(values.front()));
}

DBusArgs IgnoreValues(sd_bus_message* /*reply*/) { return {}; }

constexpr const char* kErrorNameHasNoOwner = "org.freedesktop.DBus.Error.NameHasNoOwner";

// The owner lookup: GetNameOwner; on NameHasNoOwner, StartServiceByName and
// GetNameOwner again. One deadline bounds the whole lookup.
class OwnerLookup : public DBusHandle {
 public:
  OwnerLookup(sd_bus* bus, std::exception_ptr& pending, std::string name,
              std::chrono::milliseconds timeout, DBusReplyHandler<std::string> handler)
      : FBus(bus),
        FPending(pending),
        FName(std::move(name)),
        FDeadline(std::chrono::steady_clock::now() + timeout),
        FHandler(std::move(handler)) {}

  void AskOwner() {
    MessageRef call;
    NewCall(FBus, call, kBusName, kBusPath, kBusName, "GetNameOwner");
    AppendText(call.Ptr, 's', FName);
    FStep = SendAsync<std::string>(
        FBus, FPending, call.Ptr, Remaining(), &ReadOwner,
        [this](DBusOutcome<std::string> outcome) {
          if (outcome.Error && outcome.Error->Name() == kErrorNameHasNoOwner) {
            return FStarted ? Finish(StartedButGone()) : Next([this] { StartService(); });
          }
          Finish(std::move(outcome));
        });
  }

 private:
  // No one owns the name: the bus starts the service registered for it, or
  // says why it cannot; its answer comes once the service holds the name.
  void StartService() {
    FStarted = true;
    MessageRef call;
    NewCall(FBus, call, kBusName, kBusPath, kBusName, "StartServiceByName");
    AppendText(call.Ptr, 's', FName);
    const uint32_t flags = 0;
    Check(sd_bus_message_append_basic(call.Ptr, 'u', &flags), "Cannot ask the bus for a service");
    FStep = SendAsync<DBusArgs>(FBus, FPending, call.Ptr, Remaining(), &IgnoreValues,
                                [this](DBusOutcome<DBusArgs> outcome) {
                                  if (!outcome.Error) return Next([this] { AskOwner(); });
                                  DBusOutcome<std::string> failed;
                                  failed.Error = std::move(outcome.Error);
                                  Finish(std::move(failed));
                                });
  }

  // The next call, or the failure to make it.
  template <typename Step>
  void Next(Step step) {
    try {
      step();
    } catch (const DBusError& e) {
      DBusOutcome<std::string> failed;
      failed.Error = e;
      Finish(std::move(failed));
    }
  }

  DBusOutcome<std::string> StartedButGone() const {
    DBusOutcome<std::string> gone;
    gone.Error.emplace(kErrorNameHasNoOwner,
                       "The service started for " + FName + " left the bus at once");
    return gone;
  }

  void Finish(DBusOutcome<std::string> outcome) {
    // The handler may drop this lookup: call a copy.
    const DBusReplyHandler<std::string> handler = FHandler;
    handler(std::move(outcome));
  }

  // What is left of the lookup's time for its next step; sd-bus takes 0 as
  // its own default, so at least a millisecond.
  std::chrono::milliseconds Remaining() const {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(FDeadline - std::chrono::steady_clock::now());
    return std::max(left, std::chrono::milliseconds(1));
  }

  sd_bus* FBus;
  std::exception_ptr& FPending;
  const std::string FName;
  const std::chrono::steady_clock::time_point FDeadline;
  const DBusReplyHandler<std::string> FHandler;
  bool FStarted = false;
  std::unique_ptr<DBusHandle> FStep;  // the call under way
};

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

DBusConnection::Impl::~Impl() {
  if (Bus == nullptr) return;
  // Writing needs Process(): no handler is left to run, as the handles went
  // first. A bus daemon that takes nothing holds the close no longer than the
  // bound.
  const auto deadline = std::chrono::steady_clock::now() + kDBusCloseBound;
  uint64_t queued = 0;
  while (sd_bus_is_open(Bus) > 0 && sd_bus_get_n_queued_write(Bus, &queued) >= 0 && queued > 0) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    const int r = sd_bus_process(Bus, nullptr);
    if (r < 0) break;
    if (r == 0) {
      const auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - now);
      sd_bus_wait(Bus, static_cast<uint64_t>(left.count()));
    }
  }
  sd_bus_close_unref(Bus);
}

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

std::unique_ptr<DBusHandle> DBusConnection::StartServiceAndGetOwnerAsync(
    const std::string& name, std::chrono::milliseconds timeout,
    DBusReplyHandler<std::string> handler) {
  auto lookup =
      std::make_unique<OwnerLookup>(FImpl->Bus, FImpl->Pending, name, timeout, std::move(handler));
  lookup->AskOwner();
  return lookup;
}

std::unique_ptr<DBusHandle> DBusConnection::Subscribe(
    const std::string& sender, const std::string& path, const std::string& interface,
    const std::string& member, DBusSignalHandler handler, DBusInstalled installed) {
  sd_bus_message_handler_t onInstalled = nullptr;
  auto state = MatchState(
      FImpl->Pending, [handler = std::move(handler)](sd_bus_message* m) { handler(ReadArgs(m)); },
      std::move(installed), onInstalled);
  const int r = sd_bus_match_signal_async(FImpl->Bus, &state->Slot, sender.c_str(), path.c_str(),
                                          interface.c_str(), member.c_str(), OnCallback,
                                          onInstalled, state.get());
  if (r < 0) ThrowErrno(r, "Cannot subscribe to " + interface + "." + member);
  return std::make_unique<SlotHandle<CallbackState>>(std::move(state));
}

std::unique_ptr<DBusHandle> DBusConnection::WatchNameOwner(
    const std::string& name, std::function<void(const std::string&)> handler,
    DBusInstalled installed) {
  sd_bus_message_handler_t onInstalled = nullptr;
  auto state = MatchState(
      FImpl->Pending,
      [name, handler = std::move(handler)](sd_bus_message* m) {
        const DBusArgs args = ReadArgs(m);
        if (args.size() != 3) return;
        const auto* changed = std::get_if<std::string>(&args[0]);
        const auto* newOwner = std::get_if<std::string>(&args[2]);
        if (changed != nullptr && newOwner != nullptr && *changed == name) handler(*newOwner);
      },
      std::move(installed), onInstalled);
  const std::string match =
      "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
      "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='" +
      name + "'";
  const int r = sd_bus_add_match_async(FImpl->Bus, &state->Slot, match.c_str(), OnCallback,
                                       onInstalled, state.get());
  if (r < 0) ThrowErrno(r, "Cannot watch the owner of " + name);
  return std::make_unique<SlotHandle<CallbackState>>(std::move(state));
}

}  // namespace zv::platform
