// The encoding of login data sent to the server: the password enciphered with
// DES under a key built into the program, masked with an MD5 digest of that
// key and written as hexadecimal text. The server holds the same key text and
// reverses it by the encoding number sent beside the result.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zv {

// Encoding numbers; any other number means no encoding.
inline constexpr int32_t kLoginEncodingNone = 0;
inline constexpr int32_t kLoginEncodingWide = 1;   // UTF-16 units (the console's own login)
inline constexpr int32_t kLoginEncodingBytes = 2;  // 8-bit code page bytes

// Must match the server's copy: both sides derive the DES key and the mask
// from it.
inline constexpr std::string_view kLoginKeyText = "{4B2D6F1A-73C8-4E95-B0D2-5A17C3E9F064}";

// Both return `text` unchanged when any step fails (e.g. text to decode that
// is not hexadecimal or not whole blocks). No state is kept between calls.
std::string EncodeLoginData(std::string_view text, int32_t encoding);
std::string DecodeLoginData(std::string_view text, int32_t encoding);

}  // namespace zv
