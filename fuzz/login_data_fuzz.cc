// DecodeLoginData must take any text without crashing and give either the text
// unchanged (it was no encoding) or valid UTF-8; encoding gives whole blocks of
// upper-case hexadecimal, and decoding must undo it for any text (as far as
// the text survives UTF-16 or the 8-bit code page). Other encoding numbers
// leave the text as it is.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "support/login_data.h"
#include "support/text.h"

namespace {

bool IsUtf8(const std::string& text) { return zv::Utf16ToUtf8(zv::Utf8ToUtf16(text)) == text; }

bool IsHexBlocks(const std::string& text) {
  if (text.empty() || text.size() % 16 != 0) return false;
  return text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const int32_t encoding : {zv::kLoginEncodingWide, zv::kLoginEncodingBytes}) {
    const std::string decoded = zv::DecodeLoginData(text, encoding);
    ZV_FUZZ_CHECK(decoded == text || IsUtf8(decoded));
  }
  for (const int32_t other : {zv::kLoginEncodingNone, 3, -1}) {
    ZV_FUZZ_CHECK(zv::EncodeLoginData(text, other) == text);
    ZV_FUZZ_CHECK(zv::DecodeLoginData(text, other) == text);
  }
  const std::string wide = zv::EncodeLoginData(text, zv::kLoginEncodingWide);
  ZV_FUZZ_CHECK(IsHexBlocks(wide));
  ZV_FUZZ_CHECK(zv::DecodeLoginData(wide, zv::kLoginEncodingWide) ==
                zv::Utf16ToUtf8(zv::Utf8ToUtf16(text)));
  const std::string bytes = zv::EncodeLoginData(text, zv::kLoginEncodingBytes);
  ZV_FUZZ_CHECK(IsHexBlocks(bytes));
  ZV_FUZZ_CHECK(zv::DecodeLoginData(bytes, zv::kLoginEncodingBytes) ==
                zv::Windows1252ToUtf8(zv::Utf8ToWindows1252(text)));
  return 0;
}
