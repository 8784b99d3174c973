#include "console/option_reader.h"

namespace zv {

std::optional<int32_t> DecimalIn(std::string_view text, int64_t low, int64_t high) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return std::nullopt;
  return static_cast<int32_t>(value);
}

bool TOptionReader::Next() {
  if (FStarted) ++FAt;
  FStarted = true;
  if (!FError.empty() || FAt >= FArgs.size()) return false;
  FName = FArgs[FAt];
  FInline.reset();
  if (const std::size_t eq = FName.find('='); FName.starts_with("--") && eq != std::string::npos) {
    FInline = FName.substr(eq + 1);
    FName.erase(eq);
  }
  return true;
}

std::optional<std::string> TOptionReader::Value() {
  if (FInline) return FInline;
  if (FAt + 1 >= FArgs.size()) {
    Fail("option '" + FName + "' needs a value");
    return std::nullopt;
  }
  return FArgs[++FAt];
}

}  // namespace zv
