// The shared text helpers on any text: splitting, joining, quoting, the debug
// rendering and the hexadecimal date. Where they promise a round trip, it must
// hold.
//
// Input: one byte of separators or delimiter, then the text.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "support/exceptions.h"
#include "support/helpers.h"

namespace {

void SplitAndExtract(const std::string& text, const std::string& separators) {
  const zv::TStringList items = zv::SplitToArray(text, separators);
  // Without quotes the two scans agree item for item.
  if (text.find('"') != std::string::npos) return;
  for (std::size_t k = 0; k <= items.size() && k < 64; ++k) {
    const std::string field = zv::ExtractField(text, static_cast<int>(k + 1), separators);
    ZV_FUZZ_CHECK(field == (k < items.size() ? items[k] : std::string()));
  }
}

void DelimitedRoundTrip(const std::string& text, char delimiter) {
  const zv::TStringList items = zv::SplitDelimited(text, delimiter);
  if (delimiter == '"') return;  // a quote cannot delimit quoted items
  ZV_FUZZ_CHECK(zv::SplitDelimited(zv::JoinDelimited(items, delimiter), delimiter) == items);
}

void EscapeRoundTrip(const std::string& text) {
  (void)zv::UnescapeText(text);
  (void)zv::UnquoteText(text);
  const std::string escaped = zv::EscapeText(text);
  ZV_FUZZ_CHECK(escaped.find("\r\n") == std::string::npos);
  // A backslash-n pair already in the text reads back as a line break.
  if (text.find("\\n") == std::string::npos) ZV_FUZZ_CHECK(zv::UnescapeText(escaped) == text);
}

void DebugRendering(const std::string& text) {
  const std::string shown = zv::DebugText(text);
  if (!text.empty() && text.front() == '\x0E') return;  // shown quoted, as it stands
  ZV_FUZZ_CHECK(shown.find_first_of("\r\n") == std::string::npos);
}

void HexDate(const std::string& text) {
  zv::TDateTime value;
  try {
    value = zv::HexToDateTime(text);
  } catch (const zv::EZVTcpConnection&) {
    return;
  }
  ZV_FUZZ_CHECK(value.IsValid());
  ZV_FUZZ_CHECK(zv::HexToDateTime(zv::DateTimeToHex(value)) == value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const char delimiter = input.ConsumeIntegral<char>();
  const std::string separators = input.ConsumeBool() ? std::string(1, delimiter) : ",;";
  const std::string text = input.ConsumeRemainingBytesAsString();
  SplitAndExtract(text, separators);
  DelimitedRoundTrip(text, delimiter);
  EscapeRoundTrip(text);
  DebugRendering(text);
  HexDate(text);
  return 0;
}
