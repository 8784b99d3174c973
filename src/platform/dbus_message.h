// The D-Bus files of this folder share these: sd-bus messages to and from
// the connection's values, error handling, and the connection's own state.
// Nothing outside src/platform includes it.
#pragma once

#include <systemd/sd-bus.h>

#include <exception>
#include <memory>
#include <string>

#include "platform/dbus_connection.h"

namespace zv::platform {

struct DBusConnection::Impl {
  sd_bus* Bus = nullptr;
  // The first exception a handler threw during the current Process().
  std::exception_ptr Pending;

  Impl() = default;
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  ~Impl();  // a bounded flush, then the close
};

namespace dbus_detail {

inline constexpr const char* kErrorFailed = "org.freedesktop.DBus.Error.Failed";
inline constexpr const char* kErrorInvalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";
inline constexpr const char* kErrorDisconnected = "org.freedesktop.DBus.Error.Disconnected";
inline constexpr const char* kErrorBadAddress = "org.freedesktop.DBus.Error.BadAddress";
inline constexpr const char* kErrorNameHasOwner = "org.zorvane.Error.NameHasOwner";

inline constexpr const char* kBusName = "org.freedesktop.DBus";
inline constexpr const char* kBusPath = "/org/freedesktop/DBus";
inline constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";

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

[[noreturn]] void ThrowErrno(int negativeErrno, const std::string& what);
// The failure a set error stands for: its name, and its message (the name
// again when it has none).
DBusError ErrorOf(const sd_bus_error& error);
[[noreturn]] void ThrowCallError(const sd_bus_error& error, int result);
void Check(int result, const char* what);
void AppendText(sd_bus_message* m, char type, const std::string& text);
void AppendValue(sd_bus_message* m, const DBusValue& value);
void AppendArgs(sd_bus_message* m, const DBusArgs& args);
[[noreturn]] void ThrowShape(const std::string& what);
bool ReadValue(sd_bus_message* m, DBusValue& out);
DBusArgs ReadArgs(sd_bus_message* m);

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

}  // namespace dbus_detail
}  // namespace zv::platform
