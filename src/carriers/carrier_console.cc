#include "carriers/carrier_console.h"

#include <limits>
#include <pugixml.hpp>

#include "carriers/xml_carrier.h"
#include "protocol/protocol.h"
#include "support/exceptions.h"
#include "support/int_text.h"
#include "support/text.h"

namespace zv {
namespace {

constexpr const char* kIdNotPositive =
    "Error creating a carrier object.\r\nObject id must be greater than \"0\"";

void CheckId(int32_t id) {
  if (id <= 0) throw EZVIncompleteObject(kIdNotPositive);
}

}  // namespace

int8_t CarrierTypeFromInt(int32_t value) {
  if (value < std::numeric_limits<int8_t>::min() || value > std::numeric_limits<int8_t>::max()) {
    return -1;
  }
  return static_cast<int8_t>(value);
}

TZVCarrierConsole::TZVCarrierConsole(std::string_view strCarr, char aDelimit, int32_t ippV) {
  if (strCarr.empty()) {
    throw EZVNoObject("Error creating a carrier object.\r\nZVS has returned an empty string");
  }
  const char separators[] = {aDelimit};
  FId = StrToIntDef(ExtractField(strCarr, 1, std::string_view(separators, 1)), -1);
  CheckId(FId);
  ReplicateFrom(strCarr, aDelimit, ippV);
}

TZVCarrierConsole::TZVCarrierConsole(const TZVCarrierFields* iCarr) {
  if (iCarr == nullptr) {
    throw EZVNoObject("Error creating a carrier object.\r\nICarrier interface cannot be NULL");
  }
  FId = iCarr->Id;
  CheckId(FId);
  ReplicateFrom(*iCarr);
}

TZVCarrierConsole::TZVCarrierConsole(const pugi::xml_node& iCarr) {
  if (!iCarr) {
    throw EZVNoObject(
        "Error reading a carrier object from the file.\r\nThe carrier node is missing");
  }
  try {
    FId = StrToIntDef(TXmlCarrier::ReturnNodeValue("carrierId", iCarr), -1);
  } catch (const EZVIncompleteObject&) {
    throw EZVIncompleteObject(
        "Error reading a carrier object from the file.\r\nObject id is missing");
  }
  CheckId(FId);
  ReplicateFrom(iCarr);
}

void TZVCarrierConsole::ReplicateFrom(std::string_view tcpStr, char aDelimit, int32_t ippV) {
  const TStringList items = SplitDelimited(tcpStr, aDelimit);
  if (!TZVProtocol::UsedInVersion(ippV) || items.size() < 8) return;
  FName = items[1];
  FCarrierType = CarrierTypeFromInt(StrToIntDef(items[2], -1));
  FTypeStr = items[3];
  FAddressType = AddressTypeFromInt(StrToIntDef(items[4], 0));
  FAddressTypeStr = items[5];
  FMsgLength = StrToIntDef(items[6], 0);
  FInfo = SplitDelimited(items[7], aDelimit);
}

void TZVCarrierConsole::ReplicateFrom(const TZVCarrierFields& iCarr) {
  FName = iCarr.Name;
  FMsgLength = iCarr.MsgLength;
  FCarrierType = CarrierTypeFromInt(iCarr.CarrierType);
  FAddressType = AddressTypeFromInt(iCarr.AddressType);
  FTypeStr = iCarr.CarrierTypeName;
  FAddressTypeStr = iCarr.AddressTypeName;
  FInfo = iCarr.Info;
}

void TZVCarrierConsole::ReplicateFrom(const pugi::xml_node& xmlCarr) {
  FName = TXmlCarrier::UnpackString(TXmlCarrier::ReturnNodeValue("carrierName", xmlCarr), false);
  FMsgLength = TXmlCarrier::ReturnNodeValue("msgLength", xmlCarr, 0);
  FCarrierType = CarrierTypeFromInt(TXmlCarrier::ReturnNodeValue("carrierType", xmlCarr, -1));
  FAddressType = AddressTypeFromInt(TXmlCarrier::ReturnNodeValue("addressType", xmlCarr, 0));
  FTypeStr =
      TXmlCarrier::UnpackString(TXmlCarrier::ReturnNodeValue("carrierTypeStr", xmlCarr), false);
  FAddressTypeStr =
      TXmlCarrier::UnpackString(TXmlCarrier::ReturnNodeValue("addressTypeStr", xmlCarr), false);
  FInfo = SplitLines(
      TXmlCarrier::UnpackString(TXmlCarrier::ReturnNodeValue("carrierInfo", xmlCarr), true));
}

std::string TZVCarrierConsole::GetDisplayName(TZVTitleType titleType) const {
  switch (titleType) {
    case TZVTitleType::ttName:
      return FName;
    case TZVTitleType::ttId:
      return ObjectIdStr();
    case TZVTitleType::ttBoth:
      return ObjectIdStr() + " - " + FName;
  }
  return FName;
}

}  // namespace zv
