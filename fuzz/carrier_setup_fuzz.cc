// The carrier setup file loader on any bytes: a load never throws (failures go
// to the report) and keeps carriers with ids greater than 0; the carriers it
// kept, saved and loaded again, come back the same.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "carriers/carriers_console.h"
#include "carriers/xml_carrier.h"
#include "fuzz_support.h"
#include "support/exceptions.h"

namespace {

bool SameCarrier(const zv::TZVCarrierConsole& a, const zv::TZVCarrierConsole& b) {
  return a.ObjectId() == b.ObjectId() && a.ObjectName() == b.ObjectName() &&
         a.MsgLength() == b.MsgLength() && a.CarrierType() == b.CarrierType() &&
         a.AddressType() == b.AddressType() && a.CarrierTypeStr() == b.CarrierTypeStr() &&
         a.AddressTypeStr() == b.AddressTypeStr() && a.Info() == b.Info();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  zv::fuzz::ScratchProgramFolder();
  {
    std::ofstream out(zv::TXmlCarrier::SetupFilePath(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  zv::TZVCarriersConsole loaded;
  zv::TXmlCarrier reader;
  reader.LoadCarriers(loaded);
  for (const zv::TZVCarrierConsole& carrier : loaded) ZV_FUZZ_CHECK(carrier.ObjectId() > 0);

  zv::TXmlCarrier writer;
  writer.SaveCarriers(loaded);
  ZV_FUZZ_CHECK(writer.LastError().empty());
  zv::TZVCarriersConsole again;
  zv::TXmlCarrier rereader;
  rereader.LoadCarriers(again);
  // An empty list is saved, but a file without carriers is reported on load.
  ZV_FUZZ_CHECK(rereader.LastError().empty() == (loaded.Count() > 0));
  ZV_FUZZ_CHECK(again.Count() == loaded.Count());
  for (int32_t i = 0; i < loaded.Count(); ++i) {
    ZV_FUZZ_CHECK(SameCarrier(*loaded.GetItem(i), *again.GetItem(i)));
  }
  return 0;
}
