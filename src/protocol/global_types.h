// The general vocabulary shared with the server: the kinds of address a message
// goes to and the kinds of server object. Values arrive as numbers from the wire
// and from files, so every lookup accepts any value of the underlying type.
#pragma once

#include <cstdint>
#include <string>

namespace zv {

enum class TZVAddressType : uint8_t { atUnknown, atPager, atSMS, atEmail, atUnitId, atMdtId };
inline constexpr int kAddressTypeCount = 6;

// "unknown", "pager id", ...; "unknown" for a value outside the enumeration.
std::string AddressTypeText(TZVAddressType value);

// A number read off the wire or a file as an address type; atUnknown when it
// names none.
TZVAddressType AddressTypeFromInt(int32_t value);

enum class TZVEditObject : uint8_t {
  eoContact,
  eoGroup,
  eoFolder,
  eoTemplate,
  eoSchedule,
  eoReport,
  eoAccount,
  eoDb,
  eoGrid,
  eoField,
  eoCarrier,
  eoIODevice,
  eoSystem,
  eoMsg,
  eoTcpProtocol,
  eoReportEmail,
  eoMsgSettings,
  eoDomain,
  eoSimpleMsg,
  eoFileMsg
};
inline constexpr int kEditObjectCount = 20;

// "Contact", "Group", ...; "Unknown" for a value outside the enumeration.
std::string EditObjectName(TZVEditObject value);

}  // namespace zv
