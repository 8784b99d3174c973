// FromTcpStr on any carrier-list body, field delimiter and protocol number: it
// either keeps every record or stops at the first bad one with one of the
// program's errors, keeping the carriers before it; each kept carrier has an id
// greater than 0 and can be titled.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "carriers/carriers_console.h"
#include "fuzz_support.h"
#include "support/exceptions.h"
#include "support/helpers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const char delimiter = input.ConsumeIntegral<char>();
  const int32_t protocol = input.ConsumeBool() ? input.ConsumeIntegralInRange<int32_t>(16, 19)
                                               : input.ConsumeIntegral<int32_t>();
  const std::string body = input.ConsumeRemainingBytesAsString();
  const std::size_t records = zv::SplitDelimited(body, '\x1E').size();

  zv::TZVCarriersConsole carriers;
  bool complete = true;
  try {
    carriers.FromTcpStr(body, delimiter, protocol);
  } catch (const zv::EZVException&) {
    complete = false;
  }
  ZV_FUZZ_CHECK(complete ? static_cast<std::size_t>(carriers.Count()) == records
                         : static_cast<std::size_t>(carriers.Count()) < records);
  for (const zv::TZVCarrierConsole& carrier : carriers) {
    ZV_FUZZ_CHECK(carrier.ObjectId() > 0);
    ZV_FUZZ_CHECK(carriers.FindObject(carrier.ObjectId()) != nullptr);
    (void)carrier.GetDisplayName(zv::TZVTitleType::ttBoth);
  }
  (void)carriers.DisplayNames(zv::TZVTitleType::ttName);
  return 0;
}
