// Stored settings with a defined range. A value outside it is replaced by the
// default for the run and reported in one line; the file keeps its text until
// the setting is changed, so a save leaves such a key alone (StoredValueValid
// tells which).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zv {

struct TIntSetting {
  std::string_view Key;
  int32_t Default;
  int32_t Low;
  int32_t High;
};

struct TTextSetting {
  std::string_view Key;
  std::string_view Default;
  std::size_t MaxLength;  // in characters (UTF-16 code units, as the prompts count)
};

// The stored value, or the default when the key is absent or empty (silently)
// or its value is not an integer from Low to High (then `warning` names the
// key, the stored text and the default used).
int32_t ReadCheckedInt(std::string_view section, const TIntSetting& setting, std::string& warning);
std::string ReadCheckedText(std::string_view section, const TTextSetting& setting,
                            std::string& warning);

// False when the store holds a value for the key that the reads above would
// replace by the default.
bool StoredValueValid(std::string_view section, const TIntSetting& setting);
bool StoredValueValid(std::string_view section, const TTextSetting& setting);

}  // namespace zv
