// TZVCarrierConsole: one delivery channel of the server, as the server's
// carrier list or the carrier setup file describes it. A constructed carrier
// always has an id greater than 0 and is not changed afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/global_types.h"
#include "support/helpers.h"

namespace pugi {
class xml_node;
}

namespace zv {

// What the local server's carrier object tells of a carrier, as the link reads
// it off the server; codes arrive as the server's plain numbers.
struct TZVCarrierFields {
  int32_t Id = 0;
  std::string Name;
  int32_t MsgLength = 0;
  int32_t CarrierType = 0;
  int32_t AddressType = 0;
  std::string CarrierTypeName;
  std::string AddressTypeName;
  TStringList Info;
};

// How a carrier is titled in lists.
enum class TZVTitleType : uint8_t { ttName, ttId, ttBoth };

class TZVCarrierConsole {
 public:
  // From one record of a carrier-list reply (fields separated by `aDelimit`).
  // Throws EZVNoObject for an empty record and EZVIncompleteObject when the id
  // is not a number greater than 0.
  TZVCarrierConsole(std::string_view strCarr, char aDelimit, int32_t ippV);
  // From the local server's carrier object; null when the server gave none.
  // Throws EZVNoObject for null and EZVIncompleteObject when the id is not
  // greater than 0.
  explicit TZVCarrierConsole(const TZVCarrierFields* iCarr);
  // From a carrier element of the setup file. Throws EZVNoObject for a null
  // node and EZVIncompleteObject when the id is missing, not greater than 0,
  // or another element is missing.
  explicit TZVCarrierConsole(const pugi::xml_node& iCarr);

  // Stores fields 2 to 8 of the record, but only for a known protocol number
  // and a record of at least 8 fields; otherwise changes nothing.
  void ReplicateFrom(std::string_view tcpStr, char aDelimit, int32_t ippV);
  // Stores everything but the id; a carrier-type code that does not fit a
  // signed byte becomes -1, an unknown address type atUnknown.
  void ReplicateFrom(const TZVCarrierFields& iCarr);
  // Reads everything but the id from the element's children; the first missing
  // child ends it with EZVIncompleteObject.
  void ReplicateFrom(const pugi::xml_node& xmlCarr);

  std::string GetDisplayName(TZVTitleType titleType) const;

  int32_t ObjectId() const { return FId; }
  std::string ObjectIdStr() const { return std::to_string(FId); }
  const std::string& ObjectName() const { return FName; }
  int32_t MsgLength() const { return FMsgLength; }
  // The server's code of the carrier's kind; -1 when the server's value was
  // not a number or did not fit a signed byte.
  int8_t CarrierType() const { return FCarrierType; }
  TZVAddressType AddressType() const { return FAddressType; }
  const std::string& CarrierTypeStr() const { return FTypeStr; }
  const std::string& AddressTypeStr() const { return FAddressTypeStr; }
  const TStringList& Info() const { return FInfo; }

 private:
  int32_t FId = 0;
  std::string FName;
  int32_t FMsgLength = 0;
  int8_t FCarrierType = 0;
  TZVAddressType FAddressType = TZVAddressType::atUnknown;
  std::string FTypeStr;
  std::string FAddressTypeStr;
  TStringList FInfo;
};

// A carrier-type code as read from the server or the file: -1 when the number
// does not fit a signed byte.
int8_t CarrierTypeFromInt(int32_t value);

}  // namespace zv
