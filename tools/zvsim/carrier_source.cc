#include "zvsim/carrier_source.h"

#include <memory>
#include <string_view>
#include <vector>

#include "carriers/xml_carrier.h"
#include "protocol/protocol.h"
#include "support/exceptions.h"
#include "support/helpers.h"

namespace zv::sim {
namespace {

constexpr char kRecordSeparator = '\x1E';

struct TCarrierEntry {
  int32_t Id;
  const char* Name;
  int32_t TypeCode;
  const char* TypeName;
  TZVAddressType AddressType;
  int32_t MsgLength;
  std::vector<std::string> Info;
};

std::string CarrierRecord(const TZVCarrierConsole& carrier, char delimiter) {
  return JoinDelimited(
      {carrier.ObjectIdStr(), carrier.ObjectName(), std::to_string(carrier.CarrierType()),
       carrier.CarrierTypeStr(), std::to_string(static_cast<int>(carrier.AddressType())),
       carrier.AddressTypeStr(), std::to_string(carrier.MsgLength()),
       JoinDelimited(carrier.Info(), delimiter)},
      delimiter);
}

bool SameCarrier(const TZVCarrierConsole& a, const TZVCarrierConsole& b) {
  return a.ObjectId() == b.ObjectId() && a.ObjectName() == b.ObjectName() &&
         a.CarrierType() == b.CarrierType() && a.CarrierTypeStr() == b.CarrierTypeStr() &&
         a.AddressType() == b.AddressType() && a.AddressTypeStr() == b.AddressTypeStr() &&
         a.MsgLength() == b.MsgLength() && a.Info() == b.Info();
}

}  // namespace

TZVCarriersConsole BuiltInCarriers() {
  const std::vector<TCarrierEntry> entries = {
      {1,
       "SMS Gateway, Europe",
       2,
       "SMS Gateway",
       TZVAddressType::atSMS,
       160,
       {"Numbers in international form, +44...", "Replies are not forwarded"}},
      {2,
       "E-mail \"Relay\"",
       3,
       "SMTP Relay",
       TZVAddressType::atEmail,
       4000,
       {"Host: relay.example.org, port 25", "Subject taken from the message"}},
      {3,
       "Pager Network",
       1,
       "TAP Modem",
       TZVAddressType::atPager,
       80,
       {"Dial-up TAP modem on line 1", "Numeric and alphanumeric pagers"}},
      {4,
       "Fleet Radio",
       4,
       "Unit Link",
       TZVAddressType::atUnitId,
       120,
       {"Vehicle units of the fleet"}},
      {5,
       "MDT Dispatch",
       5,
       "MDT Link",
       TZVAddressType::atMdtId,
       500,
       {"Mobile data terminals", "Shows \"urgent\" messages first"}},
  };
  TZVCarriersConsole carriers;
  for (const TCarrierEntry& entry : entries) {
    const std::string record = JoinDelimited(
        {std::to_string(entry.Id), entry.Name, std::to_string(entry.TypeCode), entry.TypeName,
         std::to_string(static_cast<int>(entry.AddressType)), AddressTypeText(entry.AddressType),
         std::to_string(entry.MsgLength), JoinDelimited(entry.Info, ',')},
        ',');
    carriers.Add(std::make_unique<TZVCarrierConsole>(record, ',', kProtocolV12));
  }
  return carriers;
}

TZVCarriersConsole LoadCarrierFile(const std::string& path) {
  TZVCarriersConsole carriers;
  TXmlCarrier reader;
  reader.SetXMLFileName(path);
  reader.LoadCarriers(carriers);
  if (!reader.LastError().empty()) throw EZVFileError(reader.LastError());
  return carriers;
}

std::string CarrierListBody(const TZVCarriersConsole& carriers, char delimiter) {
  std::string body;
  for (const TZVCarrierConsole& carrier : carriers) {
    if (!body.empty()) body += kRecordSeparator;
    body += CarrierRecord(carrier, delimiter);
  }
  return body;
}

void CheckCarrierListReadsBack(const TZVCarriersConsole& carriers, char delimiter) {
  TZVCarriersConsole readBack;
  try {
    readBack.FromTcpStr(CarrierListBody(carriers, delimiter), delimiter, kProtocolV12);
  } catch (const std::exception& error) {
    throw EZVException(std::string("The carrier list cannot be sent: ") + error.what());
  }
  int32_t index = 0;
  for (const TZVCarrierConsole& carrier : carriers) {
    const TZVCarrierConsole* copy = readBack.GetItem(index++);
    if (copy == nullptr || !SameCarrier(carrier, *copy)) {
      throw EZVException("The carrier list cannot be sent: carrier " + carrier.ObjectIdStr() +
                         " (" + carrier.ObjectName() +
                         ") would not reach a console as it is; its texts must not hold the "
                         "character 0x1E");
    }
  }
  if (readBack.Count() != carriers.Count()) {
    throw EZVException("The carrier list cannot be sent: it would reach a console as " +
                       std::to_string(readBack.Count()) + " carriers instead of " +
                       std::to_string(carriers.Count()));
  }
}

}  // namespace zv::sim
