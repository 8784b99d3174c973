#include "support/setting_check.h"

#include <optional>

#include "support/data_access.h"
#include "support/int_text.h"
#include "support/text.h"

namespace zv {
namespace {

std::string StoredText(std::string_view section, std::string_view key) {
  return TDataAccess::ReadFromIni(section, key, std::string_view());
}

std::optional<int32_t> InRange(const std::string& text, const TIntSetting& setting) {
  const auto value = TryStrToInt(text);
  if (!value || *value < setting.Low || *value > setting.High) return std::nullopt;
  return value;
}

bool TextFits(const std::string& text, const TTextSetting& setting) {
  return Utf16Length(text) <= setting.MaxLength;
}

std::string Report(std::string_view key, const std::string& text, const std::string& rule,
                   std::string_view defaultText) {
  return "Settings: " + std::string(key) + "=" + VisibleText(text) + " " + rule + "; the default " +
         std::string(defaultText) + " is used";
}

}  // namespace

int32_t ReadCheckedInt(std::string_view section, const TIntSetting& setting, std::string& warning) {
  warning.clear();
  const std::string text = StoredText(section, setting.Key);
  if (text.empty()) return setting.Default;
  if (const auto value = InRange(text, setting)) return *value;
  const std::string rule =
      "is not a number from " + std::to_string(setting.Low) + " to " + std::to_string(setting.High);
  warning = Report(setting.Key, text, rule, std::to_string(setting.Default));
  return setting.Default;
}

std::string ReadCheckedText(std::string_view section, const TTextSetting& setting,
                            std::string& warning) {
  warning.clear();
  std::string text = StoredText(section, setting.Key);
  if (text.empty()) return std::string(setting.Default);
  if (TextFits(text, setting)) return text;
  const std::string rule = "is longer than " + std::to_string(setting.MaxLength) + " characters";
  warning = Report(setting.Key, text, rule, "\"" + std::string(setting.Default) + "\"");
  return std::string(setting.Default);
}

bool StoredValueValid(std::string_view section, const TIntSetting& setting) {
  const std::string text = StoredText(section, setting.Key);
  return text.empty() || InRange(text, setting).has_value();
}

bool StoredValueValid(std::string_view section, const TTextSetting& setting) {
  return TextFits(StoredText(section, setting.Key), setting);
}

}  // namespace zv
