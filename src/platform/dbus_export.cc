// The serving side of DBusConnection: exported interfaces, the well-known
// name, signals.
#include <cerrno>
#include <exception>
#include <utility>

#include "platform/dbus_connection.h"
#include "platform/dbus_message.h"

namespace zv::platform {

using namespace dbus_detail;

namespace {

struct ExportState {
  std::exception_ptr* Pending;
  DBusInterface Interface;
  std::vector<std::string> Names;  // the vtable's signatures and argument name lists
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

std::unique_ptr<DBusHandle> DBusConnection::Export(const std::string& path,
                                                   DBusInterface interface) {
  auto state = std::make_unique<ExportState>();
  state->Pending = &FImpl->Pending;
  state->Interface = std::move(interface);
  const DBusInterface& iface = state->Interface;
  // The texts the table points into, in the order the table takes them; none
  // moves once the first is taken.
  for (const DBusMethod& method : iface.Methods) {
    state->Names.push_back(Signature(method.In));
    state->Names.push_back(Signature(method.Out));
    state->Names.push_back(Names(method.In) + Names(method.Out));
  }
  for (const DBusSignal& signal : iface.Signals) {
    state->Names.push_back(Signature(signal.Args));
    state->Names.push_back(Names(signal.Args));
  }
  std::size_t taken = 0;
  const auto next = [&state, &taken] { return state->Names[taken++].c_str(); };

  // The names of a method's arguments and results are one list, so the
  // macros' second name list stays empty.
  auto& table = state->Table;
  table.push_back(SD_BUS_VTABLE_START(0));
  for (const DBusMethod& method : iface.Methods) {
    const char* in = next();
    const char* out = next();
    const char* names = next();
    table.push_back(SD_BUS_METHOD_WITH_NAMES(method.Name.c_str(), in, names, out, , OnMethod,
                                             SD_BUS_VTABLE_UNPRIVILEGED));
  }
  for (const DBusSignal& signal : iface.Signals) {
    const char* signature = next();
    const char* names = next();
    table.push_back(SD_BUS_SIGNAL_WITH_NAMES(signal.Name.c_str(), signature, names, 0));
  }
  for (const DBusProperty& property : iface.Properties) {
    table.push_back(
        SD_BUS_PROPERTY(property.Name.c_str(), property.Type.c_str(), OnProperty, 0, 0));
  }
  table.push_back(SD_BUS_VTABLE_END);

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
