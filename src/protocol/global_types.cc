#include "protocol/global_types.h"

#include <array>
#include <string_view>

namespace zv {
namespace {

constexpr std::array<std::string_view, kAddressTypeCount> kAddressTypeTexts = {
    "unknown", "pager id", "mobile number", "email address", "unit id", "Mdt id"};

constexpr std::array<std::string_view, kEditObjectCount> kEditObjectNames = {
    "Contact",      "Group",         "Folder",       "Template",     "Schedule",         "Report",
    "Account",      "Database",      "Grid",         "Field",        "Carrier",          "Device",
    "System",       "Message",       "Tcp Protocol", "Report Email", "Message Settings", "Domain",
    "IP Messaging", "File Messaging"};

}  // namespace

std::string AddressTypeText(TZVAddressType value) {
  const auto index = static_cast<std::size_t>(value);
  return std::string(index < kAddressTypeTexts.size() ? kAddressTypeTexts[index]
                                                      : kAddressTypeTexts[0]);
}

TZVAddressType AddressTypeFromInt(int32_t value) {
  if (value < 0 || value >= kAddressTypeCount) return TZVAddressType::atUnknown;
  return static_cast<TZVAddressType>(value);
}

std::string EditObjectName(TZVEditObject value) {
  const auto index = static_cast<std::size_t>(value);
  return index < kEditObjectNames.size() ? std::string(kEditObjectNames[index]) : "Unknown";
}

}  // namespace zv
