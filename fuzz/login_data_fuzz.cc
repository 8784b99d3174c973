// DecodeLoginData must take any text without crashing, and decoding must undo
// encoding for any text (as far as the text survives UTF-16 or the 8-bit code
// page).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/login_data.h"
#include "support/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const int32_t encoding : {zv::kLoginEncodingWide, zv::kLoginEncodingBytes}) {
    (void)zv::DecodeLoginData(text, encoding);
  }
  const std::string wide = zv::EncodeLoginData(text, zv::kLoginEncodingWide);
  if (zv::DecodeLoginData(wide, zv::kLoginEncodingWide) != zv::Utf16ToUtf8(zv::Utf8ToUtf16(text))) {
    std::abort();
  }
  const std::string bytes = zv::EncodeLoginData(text, zv::kLoginEncodingBytes);
  if (zv::DecodeLoginData(bytes, zv::kLoginEncodingBytes) !=
      zv::Windows1252ToUtf8(zv::Utf8ToWindows1252(text))) {
    std::abort();
  }
  return 0;
}
