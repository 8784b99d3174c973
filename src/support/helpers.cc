#include "support/helpers.h"

#include <algorithm>

#include "platform/program_folder.h"
#include "support/exceptions.h"
#include "support/int_text.h"
#include "support/text.h"

namespace zv {
namespace {

bool IsControl(char c) { return c >= 1 && c <= 31; }

bool IsSeparator(char c, TSeparators separators) {
  return separators.find(c) != std::string_view::npos;
}

bool IsWhitespace(char c, TSeparators separators) {
  if (IsSeparator(c, separators)) return false;
  return IsControl(c) || c == ' ';
}

// Reads the quoted text that starts at text[i] == '"'. Leaves `i` after the
// closing quote (or at the end). Sets `closed` when a closing quote was found.
std::string ReadQuoted(std::string_view text, std::size_t& i, bool& closed) {
  std::string item;
  closed = false;
  ++i;
  while (i < text.size()) {
    if (text[i] == '"') {
      if (i + 1 < text.size() && text[i + 1] == '"') {
        item += '"';
        i += 2;
        continue;
      }
      ++i;
      closed = true;
      return item;
    }
    item += text[i++];
  }
  return item;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (true) {
    const std::size_t hit = text.find(from, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

std::string Quote(std::string_view text) { return "\"" + ReplaceAll(text, "\"", "\"\"") + "\""; }

// One scan of SplitToArray: calls `onItem(item)` for every item and
// `onSeparator()` after stepping over every separator; stops when either
// returns false.
template <typename OnItem, typename OnSeparator>
void ScanItems(std::string_view text, TSeparators separators, OnItem onItem,
               OnSeparator onSeparator) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    while (i < n && IsWhitespace(text[i], separators)) ++i;
    std::string item;
    if (i < n && text[i] == '"') {
      bool closed = false;
      item = ReadQuoted(text, i, closed);
      while (i < n && IsWhitespace(text[i], separators)) ++i;
    } else {
      const std::size_t start = i;
      while (i < n && !IsSeparator(text[i], separators)) ++i;
      item = std::string(text.substr(start, i - start));
    }
    if (!onItem(std::move(item))) return;
    if (i < n && IsSeparator(text[i], separators)) {
      const bool last = i + 1 == n;
      ++i;
      if (!onSeparator()) return;
      if (last && !onItem(std::string())) return;
    }
  }
}

}  // namespace

TPIBounds MakeBounds(int32_t l, int32_t h) { return TPIBounds{l, h}; }

std::string AppSubFolder(std::string_view subFolder) {
  // Help/ ships with the program; what the program writes lives in its home.
  const bool help = subFolder == "Help" || subFolder == "Help/";
  std::string path = help ? platform::ProgramFolder() : platform::HomeFolder();
  if (path.empty() || path.back() != '/') path += '/';
  path += subFolder;
  if (path.back() != '/') path += '/';
  return path;
}

std::string AppFilePath(std::string_view subFolder, std::string_view fileName) {
  return AppSubFolder(subFolder) + std::string(fileName);
}

std::string EscapeText(std::string_view text) { return ReplaceAll(Quote(text), "\r\n", "\\n"); }

std::string UnquoteText(std::string_view text) {
  if (text.empty() || text.front() != '"') return std::string(text);
  std::size_t i = 0;
  bool closed = false;
  std::string quoted = ReadQuoted(text, i, closed);
  const bool endsWithQuote = text.size() > 1 && text.back() == '"';
  if (!endsWithQuote && (quoted.empty() || !closed)) return std::string(text);
  return quoted;
}

std::string UnescapeText(std::string_view text) {
  return ReplaceAll(UnquoteText(text), "\\n", "\r\n");
}

void AppendItem(std::string& list, std::string_view item, std::string_view separator) {
  if (!list.empty()) list += separator;
  list += item;
}

std::string ListWithItem(std::string_view list, std::string_view item, std::string_view separator) {
  std::string out(list);
  AppendItem(out, item, separator);
  return out;
}

std::string Capitalize(std::string_view text) {
  std::string out = LowerCaseAscii(text);
  if (!out.empty() && out[0] >= 'a' && out[0] <= 'z') out[0] = static_cast<char>(out[0] - 32);
  return out;
}

TStringList SplitToArray(std::string_view text, TSeparators separators) {
  TStringList items;
  ScanItems(
      text, separators,
      [&](std::string item) {
        items.push_back(std::move(item));
        return true;
      },
      [] { return true; });
  return items;
}

std::string ExtractField(std::string_view text, int index, TSeparators separators) {
  std::string result;
  int count = 1;
  ScanItems(
      text, separators,
      [&](std::string item) {
        if (count == index) result = std::move(item);
        return true;
      },
      [&] { return ++count <= index; });
  return result;
}

void SplitDelimited(TStringList& list, std::string_view text, char delimiter) {
  list.clear();
  const std::size_t n = text.size();
  if (n == 0) return;
  std::size_t i = 0;
  while (true) {
    if (i < n && text[i] == '"') {
      bool closed = false;
      list.push_back(ReadQuoted(text, i, closed));
      // Characters after the closing quote up to the next delimiter form a further item.
      if (i < n && text[i] != delimiter) continue;
    } else {
      const std::size_t end = std::min(text.find(delimiter, i), n);
      list.emplace_back(text.substr(i, end - i));
      i = end;
    }
    if (i >= n) return;
    ++i;  // the delimiter
    if (i >= n) {
      list.emplace_back();
      return;
    }
  }
}

TStringList SplitDelimited(std::string_view text, char delimiter) {
  TStringList list;
  SplitDelimited(list, text, delimiter);
  return list;
}

std::string JoinDelimited(const TStringList& list, char delimiter) {
  if (list.empty()) return {};
  if (list.size() == 1 && list[0].empty()) return "\"\"";
  std::string out;
  for (std::size_t k = 0; k < list.size(); ++k) {
    if (k > 0) out += delimiter;
    const std::string& item = list[k];
    if (item.find('"') != std::string::npos || item.find(delimiter) != std::string::npos) {
      out += Quote(item);
    } else {
      out += item;
    }
  }
  return out;
}

int32_t HexToInt(std::string_view text) {
  if (text.empty()) throw EConversionError("Cannot convert an empty hex string to integer");
  return StrToInt("$" + std::string(text));
}

TDateTime HexToDateTime(std::string_view text) {
  try {
    auto group = [&](std::size_t pos, std::size_t len) {
      return HexToInt(pos < text.size() ? text.substr(pos, len) : std::string_view());
    };
    if (text.size() < 12) {
      throw EConversionError("'" + std::string(text) + "' is shorter than 12 characters");
    }
    TDateTime value{
        group(0, 3), group(3, 1), group(4, 2), group(6, 2), group(8, 2), group(10, 2), 0};
    if (!value.IsValid()) throw EConversionError("Invalid date or time value");
    return value;
  } catch (const Exception& e) {
    throw EZVTcpConnection(std::string("Error in date/time format: ") + e.what());
  }
}

std::string DateTimeToHex(const TDateTime& value) {
  return StrFormat("%03X%01X%02X%02X%02X%02X", static_cast<unsigned>(value.Year),
                   static_cast<unsigned>(value.Month), static_cast<unsigned>(value.Day),
                   static_cast<unsigned>(value.Hour), static_cast<unsigned>(value.Minute),
                   static_cast<unsigned>(value.Second));
}

bool IsZeroText(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return c == '0' || c == ' ' || IsControl(c) || c == 0; });
}

bool IsDottedQuadAddress(std::string_view text) {
  const TStringList items = SplitToArray(text, ".");
  if (items.size() != 4) return false;
  return std::all_of(items.begin(), items.end(), [](const std::string& item) {
    const int32_t value = StrToIntDef(item, -1);
    return value >= 0 && value <= 255;
  });
}

int32_t IncrementId(std::atomic<int32_t>& counter) {
  // The whole step, wrap included, is one atomic update, so two threads never
  // hand out the same number.
  int32_t current = counter.load();
  int32_t next = 0;
  do {
    next = current >= 2147483646 ? 1 : current + 1;
  } while (!counter.compare_exchange_weak(current, next));
  return next;
}

std::string SocketErrorText(int code) {
  switch (code) {
    case kSockAddrNotAvail:
      return "Cannot assign requested address. The address is not valid.";
    case kSockNetUnreach:
      return "Network is unreachable.";
    case kSockConnReset:
      return "Network connection has been reset or lost.";
    case kSockTimedOut:
      // An unanswered connect says nothing about the address: a server that
      // is down, a firewall or a busy network look the same.
      return "The connection timed out: the server did not answer";
    case kSockHostNotFound:
      return "Wrong host address";
    case kSockConnRefused:
      return "Wrong port number or the server is not running";
    case kSockHostUnreach:
      return "Client not connected to the network or the network is down";
    default:
      return "Unknown connection error";
  }
}

std::string DebugText(std::string_view text) {
  if (!text.empty() && text.front() == '\x0E') return Quote(TrimLeft(text));
  std::string result;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 32) {
      const std::size_t start = i;
      while (i < text.size() && static_cast<unsigned char>(text[i]) >= 32) ++i;
      result += '"';
      result.append(text.substr(start, i - start));
      result += '"';
      continue;
    }
    if (!result.empty() && result.back() != ' ') result += ' ';
    result += StrFormat("%02X ", c);
    ++i;
  }
  return result;
}

}  // namespace zv
