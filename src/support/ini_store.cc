#include "support/ini_store.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/file_read.h"
#include "support/exceptions.h"
#include "support/text.h"

namespace zv {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

// The key of an entry line, or nullopt for a line without "=".
std::optional<std::string_view> KeyOf(std::string_view line) {
  const std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return line.substr(0, eq);
}

template <typename Lines>
auto FindKey(Lines& lines, std::string_view key) {
  return std::find_if(lines.begin(), lines.end(), [key](std::string_view line) {
    const auto name = KeyOf(line);
    return name && SameTextAscii(*name, key);
  });
}

}  // namespace

TIniStore TIniStore::FromText(std::string_view text) {
  if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) text.remove_prefix(kUtf8Bom.size());
  const std::string decoded = Utf16ToUtf8(Utf8ToUtf16(text));
  TIniStore store;
  for (const std::string& raw : SplitLines(decoded)) {
    std::string line = Trim(raw);
    if (line.empty() || line.front() == ';') continue;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      store.FSections.push_back({Trim(std::string_view(line).substr(1, line.size() - 2)), {}});
      continue;
    }
    if (store.FSections.empty()) continue;
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) {
      const std::string_view view(line);
      line = Trim(view.substr(0, eq)) + "=" + Trim(view.substr(eq + 1));
    }
    store.FSections.back().Lines.push_back(std::move(line));
  }
  return store;
}

TIniStore TIniStore::FromFile(const std::string& path) {
  const platform::FileContents file = platform::ReadWholeFile(path, kMaxFileBytes);
  if (file.Error == ENOENT) return {};
  if (file.Error != 0) throw FileOpenError(path, file.Error);
  return FromText(file.Bytes);
}

std::string TIniStore::Render() const {
  std::string text;
  for (const TIniSection& section : FSections) {
    text.append("[").append(section.Name).append("]").append(kLineEnd);
    for (const std::string& line : section.Lines) text.append(line).append(kLineEnd);
    text.append(kLineEnd);
  }
  return text;
}

std::optional<std::string> TIniStore::Value(std::string_view section, std::string_view key) const {
  const TIniSection* found = FindSection(section);
  if (found == nullptr) return std::nullopt;
  const auto line = FindKey(found->Lines, key);
  if (line == found->Lines.end()) return std::nullopt;
  return line->substr(line->find('=') + 1);
}

void TIniStore::SetValue(std::string_view section, std::string_view key, std::string_view value) {
  TIniSection* found = FindSection(section);
  if (found == nullptr) found = &FSections.emplace_back(TIniSection{std::string(section), {}});
  std::string entry = std::string(key) + "=" + std::string(value);
  const auto line = FindKey(found->Lines, key);
  if (line == found->Lines.end()) {
    found->Lines.push_back(std::move(entry));
  } else {
    *line = std::move(entry);
  }
}

void TIniStore::EraseSection(std::string_view section) {
  const auto it = std::find_if(FSections.begin(), FSections.end(), [section](const TIniSection& s) {
    return SameTextAscii(s.Name, section);
  });
  if (it != FSections.end()) FSections.erase(it);
}

void TIniStore::DeleteKey(std::string_view section, std::string_view key) {
  TIniSection* found = FindSection(section);
  if (found == nullptr) return;
  const auto line = FindKey(found->Lines, key);
  if (line != found->Lines.end()) found->Lines.erase(line);
}

TIniSection* TIniStore::FindSection(std::string_view name) {
  return const_cast<TIniSection*>(std::as_const(*this).FindSection(name));
}

const TIniSection* TIniStore::FindSection(std::string_view name) const {
  for (const TIniSection& section : FSections) {
    if (SameTextAscii(section.Name, name)) return &section;
  }
  return nullptr;
}

}  // namespace zv
