#include "support/login_data.h"

#include <charconv>
#include <exception>
#include <sstream>

#include "support/des_cipher.h"
#include "support/exceptions.h"
#include "support/helpers.h"
#include "support/md5.h"
#include "support/text.h"

namespace zv {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The key text without "{", "}" and "-": 32 hexadecimal digits.
std::string KeyDigits() {
  std::string digits;
  for (const char c : kLoginKeyText) {
    if (c != '{' && c != '}' && c != '-') digits += c;
  }
  return digits;
}

// DES under the first 16 key digits read as a 64-bit number, handed over as its
// little-endian bytes (so the standard DES key is the digits pairwise in order).
TDESCipher CreateKeyCipher(std::string_view digits) {
  uint64_t key = 0;
  const std::string_view keyDigits = digits.substr(0, 16);
  const auto parsed =
      std::from_chars(keyDigits.data(), keyDigits.data() + keyDigits.size(), key, 16);
  if (parsed.ec != std::errc() || parsed.ptr != keyDigits.data() + keyDigits.size()) {
    throw Exception("The login key is not hexadecimal.");
  }
  uint8_t bytes[8];
  StoreBlockLE(bytes, key);
  return TDESCipher(bytes, sizeof bytes);
}

// 32 upper-case hexadecimal digits; unit or byte i is masked with character
// i mod 32.
std::string MaskText(std::string_view digits) {
  const std::shared_ptr<IMD5> digest = CreateMD5();
  digest->Update(digits);
  return digest->AsString();
}

// `count` hexadecimal digits from `text` at `offset` (throws when they are not).
unsigned ReadHex(std::string_view text, std::size_t offset, std::size_t count) {
  return static_cast<unsigned>(HexToInt(text.substr(offset, count)));
}

void AppendHex(std::string& text, unsigned value, int digits) {
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
    text += kHexDigits[(value >> shift) & 0xF];
  }
}

std::string EncodeWide(std::string_view text) {
  const std::string digits = KeyDigits();
  const std::string mask = MaskText(digits);
  std::string plain;
  for (const char16_t unit : Utf8ToUtf16(text)) {
    plain += static_cast<char>(unit & 0xFF);
    plain += static_cast<char>(unit >> 8);
  }
  std::istringstream plainStream(plain);
  std::ostringstream cipherStream;
  CreateKeyCipher(digits).EncryptStream(plainStream, cipherStream);
  const std::string cipher = cipherStream.str();

  std::string result;
  for (std::size_t i = 0; i < cipher.size() / 2; ++i) {
    const unsigned unit = static_cast<uint8_t>(cipher[2 * i]) |
                          static_cast<unsigned>(static_cast<uint8_t>(cipher[2 * i + 1])) << 8;
    AppendHex(result, unit ^ static_cast<uint8_t>(mask[i % mask.size()]), 4);
  }
  return result;
}

std::string DecodeWide(std::string_view text) {
  if (text.empty()) return {};
  // The encoder writes whole 4-digit groups only; anything else is not ours.
  if (text.size() % 4 != 0) throw Exception("Wide login data is not made of 4-digit groups.");
  const std::string digits = KeyDigits();
  const std::string mask = MaskText(digits);
  std::string cipher;
  for (std::size_t i = 0; i < text.size() / 4; ++i) {
    const unsigned unit = ReadHex(text, 4 * i, 4) ^ static_cast<uint8_t>(mask[i % mask.size()]);
    cipher += static_cast<char>(unit & 0xFF);
    cipher += static_cast<char>(unit >> 8);
  }
  std::istringstream cipherStream(cipher);
  std::ostringstream plainStream;
  CreateKeyCipher(digits).DecryptStream(cipherStream, plainStream);
  const std::string plain = plainStream.str();

  std::u16string units;
  for (std::size_t i = 0; i + 1 < plain.size(); i += 2) {
    units += static_cast<char16_t>(static_cast<uint8_t>(plain[i]) |
                                   static_cast<unsigned>(static_cast<uint8_t>(plain[i + 1])) << 8);
  }
  return Utf16ToUtf8(units);
}

std::string EncodeBytes(std::string_view text) {
  const std::string digits = KeyDigits();
  const std::string mask = MaskText(digits);
  // The program's 8-bit code page is Windows-1252; characters it lacks become
  // "?", so they do not survive the round trip.
  const std::string cipher = CreateKeyCipher(digits).EncryptedString(Utf8ToWindows1252(text));
  std::string result;
  for (std::size_t i = 0; i < cipher.size(); ++i) {
    AppendHex(result, static_cast<uint8_t>(cipher[i]) ^ static_cast<uint8_t>(mask[i % mask.size()]),
              2);
  }
  return result;
}

std::string DecodeBytes(std::string_view text) {
  if (text.empty()) return {};
  // Windows-1252 as in EncodeBytes; a character outside it becomes "?" and so
  // fails as a non-hexadecimal digit.
  const std::string bytes = Utf8ToWindows1252(text);
  if (bytes.size() % 2 != 0) throw Exception("Byte login data is not made of 2-digit groups.");
  const std::string digits = KeyDigits();
  const std::string mask = MaskText(digits);
  std::string cipher;
  for (std::size_t i = 0; i < bytes.size() / 2; ++i) {
    cipher +=
        static_cast<char>(ReadHex(bytes, 2 * i, 2) ^ static_cast<uint8_t>(mask[i % mask.size()]));
  }
  return Windows1252ToUtf8(CreateKeyCipher(digits).DecryptedString(cipher));
}

}  // namespace

std::string EncodeLoginData(std::string_view text, int32_t encoding) {
  try {
    switch (encoding) {
      case kLoginEncodingWide:
        return EncodeWide(text);
      case kLoginEncodingBytes:
        return EncodeBytes(text);
      default:
        return std::string(text);
    }
  } catch (const std::exception&) {
    return std::string(text);
  }
}

std::string DecodeLoginData(std::string_view text, int32_t encoding) {
  try {
    switch (encoding) {
      case kLoginEncodingWide:
        return DecodeWide(text);
      case kLoginEncodingBytes:
        return DecodeBytes(text);
      default:
        return std::string(text);
    }
  } catch (const std::exception&) {
    return std::string(text);
  }
}

}  // namespace zv
