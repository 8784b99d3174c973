#include "support/text_overflow.h"

#include <array>
#include <utility>

#include "support/text.h"

namespace zv {
namespace {

constexpr std::array<std::pair<TOverflow, std::string_view>, 4> kNames{{
    {TOverflow::kWhole, "whole"},
    {TOverflow::kSplit, "split"},
    {TOverflow::kTruncate, "truncate"},
    {TOverflow::kRefuse, "refuse"},
}};

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// At most `units` code units of `text` from `from`, never ending between the
// two halves of a surrogate pair.
std::size_t CutPoint(const std::u16string& text, std::size_t from, std::size_t units) {
  std::size_t end = std::min(text.size(), from + units);
  if (end < text.size() && end > from && IsHighSurrogate(text[end - 1])) --end;
  return end;
}

std::u16string Truncated(const std::u16string& text, std::size_t length) {
  const std::u16string mark = Utf8ToUtf16(kCutMark);
  if (length <= mark.size()) return text.substr(0, CutPoint(text, 0, length));
  return text.substr(0, CutPoint(text, 0, length - mark.size())) + mark;
}

// The parts of `text` when split into `count` parts of `length` units each,
// prefix "(i/count) " included; fewer than `count` when the text runs out
// earlier, and the rest of the text in `rest`.
std::vector<std::u16string> SplitInto(const std::u16string& text, std::size_t length,
                                      std::size_t count, std::u16string& rest) {
  std::vector<std::u16string> parts;
  std::size_t at = 0;
  while (at < text.size() && parts.size() < count) {
    const std::u16string prefix = Utf8ToUtf16(
        "(" + std::to_string(parts.size() + 1) + "/" + std::to_string(count) + ") ");
    const std::size_t room = length - prefix.size();
    std::size_t end = CutPoint(text, at, room);
    std::size_t next = end;
    if (end < text.size()) {
      // Cut at a blank in the second half of the room when there is one, so
      // a word is not broken across two pagers' screens.
      for (std::size_t i = end; i > at + room / 2; --i) {
        if (text[i] == u' ') {
          end = i;
          next = i + 1;
          break;
        }
      }
    }
    parts.push_back(prefix + text.substr(at, end - at));
    at = next;
  }
  rest = text.substr(std::min(at, text.size()));
  return parts;
}

}  // namespace

std::optional<TOverflow> OverflowFromText(std::string_view text) {
  for (const auto& [mode, name] : kNames) {
    if (SameTextAscii(text, name)) return mode;
  }
  return std::nullopt;
}

std::string_view OverflowText(TOverflow mode) {
  for (const auto& [m, name] : kNames) {
    if (m == mode) return name;
  }
  return "whole";
}

TFittedText FitToCarrier(std::string_view text, std::size_t length, std::string_view carrierName,
                         TOverflow mode) {
  TFittedText out;
  const std::u16string units = Utf8ToUtf16(text);
  if (length == 0 || units.size() <= length) {
    out.Parts.emplace_back(text);
    return out;
  }
  out.Notice = "the carrier " + std::string(carrierName) + " takes " + std::to_string(length) +
               " characters; this text has " + std::to_string(units.size());
  switch (mode) {
    case TOverflow::kWhole:
      out.Parts.emplace_back(text);
      return out;
    case TOverflow::kRefuse:
      out.Refused = true;
      return out;
    case TOverflow::kTruncate:
      out.Parts.push_back(Utf16ToUtf8(Truncated(units, length)));
      out.Cut = true;
      return out;
    case TOverflow::kSplit:
      break;
  }
  // The widest prefix, "(6/6) ", must leave room for text; a carrier too
  // short for that is served by cutting instead.
  constexpr std::size_t kWidestPrefix = 6;
  if (length <= kWidestPrefix + kCutMark.size()) {
    out.Parts.push_back(Utf16ToUtf8(Truncated(units, length)));
    out.Cut = true;
    return out;
  }
  std::u16string rest;
  std::vector<std::u16string> parts;
  for (std::size_t count = 2; count <= kMaxSplitParts; ++count) {
    parts = SplitInto(units, length, count, rest);
    if (rest.empty()) break;
  }
  if (!rest.empty()) {
    // Six parts were not enough: the last one ends cut.
    std::u16string& last = parts.back();
    const std::u16string mark = Utf8ToUtf16(kCutMark);
    last = last.substr(0, CutPoint(last, 0, length - mark.size())) + mark;
    out.Cut = true;
  }
  for (const std::u16string& part : parts) out.Parts.push_back(Utf16ToUtf8(part));
  return out;
}

}  // namespace zv
