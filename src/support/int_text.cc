#include "support/int_text.h"

#include <string>

#include "support/exceptions.h"

namespace zv {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<int32_t> TryStrToInt(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= text.size()) return std::nullopt;
  if (hex) {
    uint64_t value = 0;
    int significant = 0;
    for (; i < text.size(); ++i) {
      const int d = HexDigit(text[i]);
      if (d < 0) return std::nullopt;
      if (value != 0 || d != 0) ++significant;
      if (significant > 8) return std::nullopt;
      value = value * 16 + static_cast<uint64_t>(d);
    }
    auto bits = static_cast<uint32_t>(value);
    if (negative) bits = 0u - bits;
    return static_cast<int32_t>(bits);
  }
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{2147483648}) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return static_cast<int32_t>(value);
}

int32_t StrToIntDef(std::string_view text, int32_t defaultValue) {
  return TryStrToInt(text).value_or(defaultValue);
}

int32_t StrToInt(std::string_view text) {
  if (auto value = TryStrToInt(text)) return *value;
  throw EConversionError("'" + std::string(text) + "' is not a valid integer value");
}

}  // namespace zv
