#include "support/text.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "platform/direction_controls.h"

namespace zv {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at `i`, advancing it; malformed input gives U+FFFD
// and consumes one byte.
char32_t DecodeUtf8(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra = 0;
  char32_t cp = 0;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    cp = b0 & 0x07;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + static_cast<std::size_t>(extra) >= s.size()) {
    ++i;
    return kReplacement;
  }
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  static constexpr std::array<char32_t, 4> kMin{0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += static_cast<std::size_t>(extra) + 1;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Windows-1252 bytes 0x80 to 0x9F; 0 marks the five undefined positions.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= 0x20; }

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = DecodeUtf8(text, i);
    if (cp >= 0x10000) {
      const char32_t v = cp - 0x10000;
      out += static_cast<char16_t>(0xD800 + (v >> 10));
      out += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      AppendUtf8(out,
                 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

std::size_t Utf16Length(std::string_view text) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size();) n += DecodeUtf8(text, i) >= 0x10000 ? 2 : 1;
  return n;
}

std::string Utf8ToUtf16Bytes(std::string_view text, bool bigEndian) {
  const std::u16string units = Utf8ToUtf16(text);
  std::string bytes;
  bytes.reserve(units.size() * 2);
  for (const char16_t unit : units) {
    const auto low = static_cast<char>(unit & 0xFF);
    const auto high = static_cast<char>(unit >> 8);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}

std::string Utf16BytesToUtf8(std::string_view bytes, bool bigEndian) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    units += static_cast<char16_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
  }
  return Utf16ToUtf8(units);
}

std::string Utf8ToWindows1252(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = DecodeUtf8(text, i);
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out += static_cast<char>(cp);
      continue;
    }
    char mapped = '?';
    // The five undefined bytes decode to the C1 controls of the same value.
    if (cp >= 0x80 && cp <= 0x9F && kCp1252High[cp - 0x80] == 0) mapped = static_cast<char>(cp);
    for (std::size_t k = 0; k < kCp1252High.size(); ++k) {
      if (kCp1252High[k] != 0 && kCp1252High[k] == cp) {
        mapped = static_cast<char>(0x80 + k);
        break;
      }
    }
    out += mapped;
  }
  return out;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x80 && b <= 0x9F) {
      const char16_t u = kCp1252High[b - 0x80];
      AppendUtf8(out, u != 0 ? u : b);  // undefined bytes map to the C1 control of that value
    } else {
      AppendUtf8(out, b);
    }
  }
  return out;
}

std::string TrimLeft(std::string_view text) {
  std::size_t b = 0;
  while (b < text.size() && IsTrimmed(text[b])) ++b;
  return std::string(text.substr(b));
}

std::string TrimRight(std::string_view text) {
  std::size_t e = text.size();
  while (e > 0 && IsTrimmed(text[e - 1])) --e;
  return std::string(text.substr(0, e));
}

std::string Trim(std::string_view text) { return TrimLeft(TrimRight(text)); }

std::string UpperCaseAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = UpperAscii(c);
  return out;
}

std::string LowerCaseAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameTextAscii(text.substr(0, prefix.size()), prefix);
}

bool ContainsNoCase(std::string_view text, std::string_view part) {
  return UpperCaseAscii(text).find(UpperCaseAscii(part)) != std::string::npos;
}

std::string PadRight(std::string_view text, std::size_t width) {
  std::string out(text);
  const std::size_t length = Utf16Length(text);
  if (length < width) out.append(width - length, ' ');
  return out;
}

std::vector<std::string> WrapToWidth(std::string_view text, std::size_t width) {
  width = std::max<std::size_t>(width, 1);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (true) {
    // The longest start of the rest that fits, and the last blank in it.
    std::size_t end = start;
    std::size_t units = 0;
    std::size_t lastBlank = std::string_view::npos;
    while (end < text.size()) {
      std::size_t next = end;
      const std::size_t size = DecodeUtf8(text, next) >= 0x10000 ? 2 : 1;
      if (units + size > width) break;
      if (text[end] == ' ') lastBlank = end;
      units += size;
      end = next;
    }
    if (end >= text.size()) {
      lines.emplace_back(text.substr(start));
      return lines;
    }
    // A blank right after the line is as good a break as one inside it.
    if (text[end] == ' ') lastBlank = end;
    std::size_t cut = lastBlank != std::string_view::npos ? lastBlank : end;
    std::string line(text.substr(start, cut - start));
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (line.empty()) {  // only blanks before the break: the column's width of them
      cut = end;
      line = text.substr(start, cut - start);
    }
    lines.push_back(std::move(line));
    start = cut;
    while (start < text.size() && text[start] == ' ') ++start;
    if (start >= text.size()) return lines;
  }
}

std::string StrFormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (size <= 0) return {};
  std::vector<char> buffer(static_cast<std::size_t>(size) + 1);
  std::vsnprintf(buffer.data(), buffer.size(), format, args);
  return std::string(buffer.data(), static_cast<std::size_t>(size));
}

std::string StrFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = StrFormatV(format, args);
  va_end(args);
  return out;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

std::string VisibleText(std::string_view utf8) {
  // Most texts are printable ASCII with proper line ends: they show as they are.
  bool plain = true;
  for (std::size_t i = 0; i < utf8.size() && plain; ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    plain = (c >= 0x20 && c < 0x7F) || c == '\n' || c == '\t' ||
            (c == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n');
  }
  if (plain) return std::string(utf8);
  // Round trip through UTF-16 replaces malformed bytes; then the controls.
  const std::u16string units = Utf8ToUtf16(utf8);
  std::u16string shown;
  shown.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t c = units[i];
    // A carriage return alone would move the cursor back over what the line
    // already shows (a carrier's id, a result's text): only a line end passes.
    const bool lineEnd = c == u'\r' && i + 1 < units.size() && units[i + 1] == u'\n';
    if (platform::IsDirectionControl(c)) {
      shown += Utf8ToUtf16(platform::DirectionControlShown(c));
    } else if (lineEnd || c == u'\n' || c == u'\t' || (c >= 0x20 && c < 0x7F) || c > 0x9F) {
      shown += c;
    } else if (c == 0x7F) {
      shown += u"^?";
    } else if (c < 0x20) {
      shown += u'^';
      shown += static_cast<char16_t>(c + 0x40);
    } else {  // C1: 0x80 to 0x9F
      shown += u"M-^";
      shown += static_cast<char16_t>(c - 0x80 + 0x40);
    }
  }
  return Utf16ToUtf8(shown);
}

}  // namespace zv
