// The in-memory form of an INI file: an ordered list of sections, each an
// ordered list of entry lines ("name=value", or any other text, which is kept
// but never matches a key). Section and key names match without regard to
// ASCII letter case; the first of several equal sections is the one found.
// Not synchronised: the owner serialises access.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zv {

struct TIniSection {
  std::string Name;
  std::vector<std::string> Lines;
};

class TIniStore {
 public:
  TIniStore() = default;

  // Parses UTF-8 text (a leading byte-order mark is skipped; malformed bytes
  // become U+FFFD). Lines are trimmed; empty lines, ";" comments and lines
  // before the first section are dropped; "name = value" becomes "name=value".
  static TIniStore FromText(std::string_view text);
  // A missing file gives an empty store; an unreadable one (also a FIFO, a
  // device, a directory or one larger than kMaxFileBytes) throws
  // EFileOpenError rather than start empty and later overwrite it.
  static TIniStore FromFile(const std::string& path);
  static constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;

  // Every section as "[name]", its lines, then one empty line; each line
  // ended by CR LF. No byte-order mark.
  std::string Render() const;

  // The text after the first "=" of the key's entry; nullopt when the section
  // or the key is absent.
  std::optional<std::string> Value(std::string_view section, std::string_view key) const;
  // Replaces the key's entry in place (taking the letter case of `key`) or
  // appends it, appending the section first when it is missing. The value is
  // stored unchanged.
  void SetValue(std::string_view section, std::string_view key, std::string_view value);
  void EraseSection(std::string_view section);
  void DeleteKey(std::string_view section, std::string_view key);

  const std::vector<TIniSection>& Sections() const { return FSections; }

 private:
  TIniSection* FindSection(std::string_view name);
  const TIniSection* FindSection(std::string_view name) const;

  std::vector<TIniSection> FSections;
};

}  // namespace zv
