#include "platform/dbus_connection.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <utility>

namespace zv::platform {
namespace {

constexpr const char* kErrorFailed = "org.freedesktop.DBus.Error.Failed";
constexpr const char* kErrorInvalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";
constexpr const char* kErrorDisconnected = "org.freedesktop.DBus.Error.Disconnected";
constexpr const char* kErrorBadAddress = "org.freedesktop.DBus.Error.BadAddress";
constexpr const char* kErrorNameHasOwner = "org.zorvane.Error.NameHasOwner";

constexpr const char* kBusName = "org.freedesktop.DBus";
constexpr const char* kBusPath = "/org/freedesktop/DBus";
constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";

// Owns one reference of an sd-bus object.
struct MessageRef {
  sd_bus_message* Ptr = nullptr;
  MessageRef() = default;
  MessageRef(const MessageRef&) = delete;
  MessageRef& operator=(const MessageRef&) = delete;
  ~MessageRef() { sd_bus_message_unref(Ptr); }
};

struct ErrorHolder {
  sd_bus_error Error{nullptr, nullptr, 0};
  ErrorHolder() = default;
  ErrorHolder(const ErrorHolder&) = delete;
  ErrorHolder& operator=(const ErrorHolder&) = delete;
  ~ErrorHolder() { sd_bus_error_free(&Error); }
};

[[noreturn]] void ThrowErrno(int negativeErrno, const std::string& what) {
  throw DBusError(kErrorFailed, what + ": " + std::strerror(-negativeErrno));
}

// The error of a failed call: the reply's own name and text, or the errno's.
[[noreturn]] void ThrowCallError(const sd_bus_error& error, int result) {
  if (sd_bus_error_is_set(&error)) {
    throw DBusError(error.name, error.message != nullptr ? error.message : error.name);
  }
  throw DBusError(kErrorFailed, std::strerror(-result));
}

void Check(int result, const char* what) {
  if (result < 0) ThrowErrno(result, what);
}

// A text goes on the bus as it stands or not at all: the bus carries neither
// NUL characters nor text that is not UTF-8, and dropping part of a message
// without a word is worse than refusing it.
void AppendText(sd_bus_message* m, char type, const std::string& text) {
  if (text.find('\0') != std::string::npos) {
    throw DBusError(kErrorInvalidArgs, "A text holds a NUL character, which the bus cannot carry");
  }
  const int r = sd_bus_message_append_basic(m, type, text.c_str());
  if (r == -EINVAL) {
    throw DBusError(kErrorInvalidArgs,
                    type == 'o' ? "\"" + text + "\" is not an object path"
                                : std::string("A text is not valid UTF-8, which the bus needs"));
  }
  Check(r, "Cannot build a bus message");
}

void AppendValue(sd_bus_message* m, const DBusValue& value) {
  if (const bool* b = std::get_if<bool>(&value)) {
    const int v = *b ? 1 : 0;
    Check(sd_bus_message_append_basic(m, 'b', &v), "Cannot build a bus message");
  } else if (const int32_t* i = std::get_if<int32_t>(&value)) {
    Check(sd_bus_message_append_basic(m, 'i', i), "Cannot build a bus message");
  } else if (const double* d = std::get_if<double>(&value)) {
    Check(sd_bus_message_append_basic(m, 'd', d), "Cannot build a bus message");
  } else if (const std::string* s = std::get_if<std::string>(&value)) {
    AppendText(m, 's', *s);
  } else if (const DBusObjectPath* o = std::get_if<DBusObjectPath>(&value)) {
    AppendText(m, 'o', o->Path);
  } else {
    const auto& list = std::get<std::vector<std::string>>(value);
    Check(sd_bus_message_open_container(m, 'a', "s"), "Cannot build a bus message");
    for (const std::string& item : list) AppendText(m, 's', item);
    Check(sd_bus_message_close_container(m), "Cannot build a bus message");
  }
}

void AppendArgs(sd_bus_message* m, const DBusArgs& args) {
  for (const DBusValue& value : args) AppendValue(m, value);
}

[[noreturn]] void ThrowShape(const std::string& what) {
  throw DBusError(kErrorInvalidArgs, "The bus message has an unexpected shape: " + what);
}

// Reads the next complete value; false at the end of the current container.
bool ReadValue(sd_bus_message* m, DBusValue& out) {
  char type = 0;
  const char* contents = nullptr;
  int r = sd_bus_message_peek_type(m, &type, &contents);
  Check(r, "Cannot read a bus message");
  if (r == 0) return false;
  switch (type) {
    case 'b': {
      int v = 0;
      Check(sd_bus_message_read_basic(m, 'b', &v), "Cannot read a bus message");
      out = v != 0;
      return true;
    }
    case 'i': {
      int32_t v = 0;
      Check(sd_bus_message_read_basic(m, 'i', &v), "Cannot read a bus message");
      out = v;
      return true;
    }
    case 'd': {
      double v = 0;
      Check(sd_bus_message_read_basic(m, 'd', &v), "Cannot read a bus message");
      out = v;
      return true;
    }
    case 's':
    case 'o': {
      const char* v = nullptr;
      Check(sd_bus_message_read_basic(m, type, &v), "Cannot read a bus message");
      if (type == 's') {
        out = std::string(v);
      } else {
        out = DBusObjectPath{v};
      }
      return true;
    }
    case 'a': {
      if (contents == nullptr || std::strcmp(contents, "s") != 0) {
        ThrowShape(std::string("an array of ") + (contents != nullptr ? contents : "?"));
      }
      std::vector<std::string> list;
      Check(sd_bus_message_enter_container(m, 'a', "s"), "Cannot read a bus message");
      const char* item = nullptr;
      while ((r = sd_bus_message_read_basic(m, 's', &item)) > 0) list.emplace_back(item);
      Check(r, "Cannot read a bus message");
      Check(sd_bus_message_exit_container(m), "Cannot read a bus message");
      out = std::move(list);
      return true;
    }
    case 'v': {
      Check(sd_bus_message_enter_container(m, 'v', contents), "Cannot read a bus message");
      if (!ReadValue(m, out)) ThrowShape("an empty variant");
      Check(sd_bus_message_exit_container(m), "Cannot read a bus message");
      return true;
    }
    default:
      ThrowShape(std::string("type ") + type);
  }
}

DBusArgs ReadArgs(sd_bus_message* m) {
  DBusArgs args;
  DBusValue value;
  while (ReadValue(m, value)) args.push_back(std::move(value));
  return args;
}

// Calls a handler from inside sd-bus: nothing may unwind through its C frames,
// so the first exception is kept and thrown again once Process() is back.
template <typename F>
int Guarded(std::exception_ptr& pending, F&& f) {
  try {
    return f();
  } catch (...) {
    if (!pending) pending = std::current_exception();
    return 0;
  }
}

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

struct DBusConnection::Impl {
  sd_bus* Bus = nullptr;
  // The first exception a handler threw during the current Process().
  std::exception_ptr Pending;

  ~Impl() { sd_bus_flush_close_unref(Bus); }
};

namespace {

// Drops an sd-bus slot (a match or an object export) with what it calls.
template <typename State>
class SlotHandle : public DBusHandle {
 public:
  explicit SlotHandle(std::unique_ptr<State> state) : FState(std::move(state)) {}
  ~SlotHandle() override { sd_bus_slot_unref(FState->Slot); }
  State& Get() { return *FState; }

 private:
  std::unique_ptr<State> FState;
};

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

struct ExportState {
  std::exception_ptr* Pending;
  DBusInterface Interface;
  std::vector<std::string> Names;  // the vtable's argument name lists
  std::vector<sd_bus_vtable> Table;
  sd_bus_slot* Slot = nullptr;
};

int OnMethod(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto* state = static_cast<ExportState*>(userdata);
  const char* member = sd_bus_message_get_member(m);
  const DBusMethod* method = nullptr;
  for (const DBusMethod& candidate : state->Interface.Methods) {
    if (member != nullptr && candidate.Name == member) method = &candidate;
  }
  if (method == nullptr) return sd_bus_error_set(error, kErrorFailed, "Unknown method");
  auto handler = method->Handler;
  try {
    const DBusArgs args = ReadArgs(m);
    std::optional<DBusArgs> out = handler(args);
    if (!out) return 1;  // never answered: the caller waits for its time-out
    MessageRef reply;
    int r = sd_bus_message_new_method_return(m, &reply.Ptr);
    if (r < 0) return r;
    AppendArgs(reply.Ptr, *out);
    return sd_bus_send(nullptr, reply.Ptr, nullptr);
  } catch (const DBusError& e) {
    return sd_bus_error_set(error, e.Name().c_str(), e.what());
  } catch (const std::exception& e) {
    return sd_bus_error_set(error, kErrorFailed, e.what());
  }
}

int OnProperty(sd_bus* /*bus*/, const char* /*path*/, const char* /*interface*/,
               const char* property, sd_bus_message* reply, void* userdata, sd_bus_error* error) {
  auto* state = static_cast<ExportState*>(userdata);
  for (const DBusProperty& candidate : state->Interface.Properties) {
    if (candidate.Name != property) continue;
    try {
      AppendValue(reply, candidate.Getter());
      return 1;
    } catch (const DBusError& e) {
      return sd_bus_error_set(error, e.Name().c_str(), e.what());
    } catch (const std::exception& e) {
      return sd_bus_error_set(error, kErrorFailed, e.what());
    }
  }
  return sd_bus_error_set(error, kErrorFailed, "Unknown property");
}

std::string Signature(const std::vector<std::pair<std::string, std::string>>& args) {
  std::string out;
  for (const auto& arg : args) out += arg.second;
  return out;
}

// Argument names as the vtable wants them: each followed by a NUL.
std::string Names(const std::vector<std::pair<std::string, std::string>>& args) {
  std::string out;
  for (const auto& arg : args) {
    out += arg.first;
    out.push_back('\0');
  }
  return out;
}

}  // namespace

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

std::unique_ptr<DBusHandle> DBusConnection::Export(const std::string& path,
                                                   DBusInterface interface) {
  auto state = std::make_unique<ExportState>();
  state->Pending = &FImpl->Pending;
  state->Interface = std::move(interface);
  const DBusInterface& iface = state->Interface;
  // The name lists must not move once the table points into them.
  for (const DBusMethod& method : iface.Methods) {
    state->Names.push_back(Names(method.In) + Names(method.Out));
  }
  for (const DBusSignal& signal : iface.Signals) state->Names.push_back(Names(signal.Args));
  auto& table = state->Table;
  sd_bus_vtable start{};
  start.type = _SD_BUS_VTABLE_START;
  start.flags = 0;
  start.x.start.element_size = sizeof(sd_bus_vtable);
  start.x.start.features = _SD_BUS_VTABLE_PARAM_NAMES;
  start.x.start.vtable_format_reference = &sd_bus_object_vtable_format;
  table.push_back(start);
  std::size_t nameIndex = 0;
  for (const DBusMethod& method : iface.Methods) {
    state->Names.push_back(Signature(method.In));
    state->Names.push_back(Signature(method.Out));
  }
  for (const DBusSignal& signal : iface.Signals) state->Names.push_back(Signature(signal.Args));
  std::size_t signatureIndex = iface.Methods.size() + iface.Signals.size();
  for (const DBusMethod& method : iface.Methods) {
    sd_bus_vtable entry{};
    entry.type = _SD_BUS_VTABLE_METHOD;
    entry.flags = SD_BUS_VTABLE_UNPRIVILEGED;
    entry.x.method.member = method.Name.c_str();
    entry.x.method.signature = state->Names[signatureIndex++].c_str();
    entry.x.method.result = state->Names[signatureIndex++].c_str();
    entry.x.method.handler = OnMethod;
    entry.x.method.offset = 0;
    entry.x.method.names = state->Names[nameIndex++].c_str();
    table.push_back(entry);
  }
  for (const DBusSignal& signal : iface.Signals) {
    sd_bus_vtable entry{};
    entry.type = _SD_BUS_VTABLE_SIGNAL;
    entry.flags = 0;
    entry.x.signal.member = signal.Name.c_str();
    entry.x.signal.signature = state->Names[signatureIndex++].c_str();
    entry.x.signal.names = state->Names[nameIndex++].c_str();
    table.push_back(entry);
  }
  for (const DBusProperty& property : iface.Properties) {
    sd_bus_vtable entry{};
    entry.type = _SD_BUS_VTABLE_PROPERTY;
    entry.flags = 0;
    entry.x.property.member = property.Name.c_str();
    entry.x.property.signature = property.Type.c_str();
    entry.x.property.get = OnProperty;
    entry.x.property.set = nullptr;
    entry.x.property.offset = 0;
    table.push_back(entry);
  }
  sd_bus_vtable end{};
  end.type = _SD_BUS_VTABLE_END;
  table.push_back(end);

  const int r = sd_bus_add_object_vtable(FImpl->Bus, &state->Slot, path.c_str(), iface.Name.c_str(),
                                         table.data(), state.get());
  if (r < 0) ThrowErrno(r, "Cannot serve " + iface.Name + " at " + path);
  return std::make_unique<SlotHandle<ExportState>>(std::move(state));
}

void DBusConnection::RequestName(const std::string& name) {
  const int r = sd_bus_request_name(FImpl->Bus, name.c_str(), 0);
  if (r == -EEXIST) {
    throw DBusError(kErrorNameHasOwner, "The name " + name + " is already owned on this bus");
  }
  if (r < 0) ThrowErrno(r, "Cannot take the name " + name);
}

void DBusConnection::EmitSignal(const std::string& path, const std::string& interface,
                                const std::string& member, const DBusArgs& args) {
  MessageRef signal;
  Check(sd_bus_message_new_signal(FImpl->Bus, &signal.Ptr, path.c_str(), interface.c_str(),
                                  member.c_str()),
        "Cannot build a signal");
  AppendArgs(signal.Ptr, args);
  Check(sd_bus_send(FImpl->Bus, signal.Ptr, nullptr), "Cannot send a signal");
}

}  // namespace zv::platform
