// The names, object paths and value shapes of the local interface on the bus,
// as the simulator serves it: the server object, one object per carrier and
// one per account.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "carriers/carrier_console.h"
#include "carriers/carriers_console.h"
#include "platform/dbus_connection.h"

namespace zv::sim {

inline constexpr std::string_view kBusName = "org.zorvane.Server";
inline constexpr std::string_view kServerPath = "/org/zorvane/Server";
inline constexpr std::string_view kServerInterface = "org.zorvane.Server1";
inline constexpr std::string_view kCarrierInterface = "org.zorvane.Carrier1";
inline constexpr std::string_view kAccountInterface = "org.zorvane.Account1";
// The error reply for an id the server has no object for.
inline constexpr std::string_view kNoObjectError = "org.zorvane.Server1.Error.NoObject";
// The error reply for a call the server refuses or fails.
inline constexpr std::string_view kFailedError = "org.zorvane.Server1.Error.Failed";

// /org/zorvane/Server/carrier/<id>; ids below 0 are written with "_" for "-".
std::string CarrierPath(int32_t id);
// /org/zorvane/Server/account/<name>, every byte of the name outside
// [A-Za-z0-9] written as "_" and two lower-case hex digits, so any name gives
// a valid path of its own.
std::string AccountPath(std::string_view name);

// The Carriers property: "<id>=<name>" per carrier, in the collection's order.
std::vector<std::string> CarrierItems(const TZVCarriersConsole& carriers);

// org.zorvane.Carrier1 of `carrier`, whose read-only properties are what a
// console reads of it. The carrier must outlive the export.
platform::DBusInterface CarrierInterface(const TZVCarrierConsole& carrier);

}  // namespace zv::sim
