// The one rule by which settings values, operator input and protocol fields are
// read as numbers: optional leading blanks, an optional sign, then decimal
// digits, or hexadecimal digits after "$", "x", "X", "0x" or "0X"; nothing may
// follow. A decimal value must fit in 32 bits; a hexadecimal one of up to eight
// significant digits gives the 32-bit pattern ("$FFFFFFFF" is -1).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zv {

std::optional<int32_t> TryStrToInt(std::string_view text);
int32_t StrToIntDef(std::string_view text, int32_t defaultValue);
// Throws EConversionError ("'<text>' is not a valid integer value").
int32_t StrToInt(std::string_view text);

}  // namespace zv
