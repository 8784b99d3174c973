#include "zvsim/bus_objects.h"


#include "support/text.h"

namespace zv::sim {

std::string CarrierPath(int32_t id) {
  const std::string number = std::to_string(id);
  return std::string(kServerPath) + "/carrier/" + (id < 0 ? "_" + number.substr(1) : number);
}

std::string AccountPath(std::string_view name) {
  std::string path = std::string(kServerPath) + "/account/";
  for (const char c : name) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
      path += c;
    } else {
      path += StrFormat("_%02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
    }
  }
  return path;
}

std::vector<std::string> CarrierItems(const TZVCarriersConsole& carriers) {
  std::vector<std::string> items;
  for (const TZVCarrierConsole& carrier : carriers)
    items.push_back(carrier.ObjectIdStr() + "=" + carrier.ObjectName());
  return items;
}

platform::DBusInterface CarrierInterface(const TZVCarrierConsole& carrier) {
  const TZVCarrierConsole* c = &carrier;
  using platform::DBusValue;
  return {
      std::string(kCarrierInterface),
      {},
      {
          {"Id", "i", [c] { return DBusValue(c->ObjectId()); }},
          {"Name", "s", [c] { return DBusValue(c->ObjectName()); }},
          {"MsgLength", "i", [c] { return DBusValue(c->MsgLength()); }},
          {"CarrierType", "i", [c] { return DBusValue(int32_t{c->CarrierType()}); }},
          {"AddressType", "i", [c] { return DBusValue(static_cast<int32_t>(c->AddressType())); }},
          {"CarrierTypeName", "s", [c] { return DBusValue(c->CarrierTypeStr()); }},
          {"AddressTypeName", "s", [c] { return DBusValue(c->AddressTypeStr()); }},
          {"Info", "as", [c] { return DBusValue(c->Info()); }},
      },
      {},
  };
}

}  // namespace zv::sim
