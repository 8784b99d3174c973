// What becomes of a text longer than its carrier takes. Every carrier reports
// the length of message it carries (80 for a pager, 160 for an SMS gateway);
// a longer text sent as it is arrives cut, or not at all, at the server's
// choice. The operator chooses instead, and is told once whatever the choice.
//
// Lengths count characters as the server counts them: UTF-16 code units, not
// bytes. A carrier length of 0 means the server gave none: nothing is cut.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zv {

enum class TOverflow {
  kWhole,     // sent as it is (the default)
  kSplit,     // numbered parts "(1/3) ...", each its own page
  kTruncate,  // cut to the length, marked as cut
  kRefuse,    // not sent
};

std::optional<TOverflow> OverflowFromText(std::string_view text);  // "whole", "split", ...
std::string_view OverflowText(TOverflow mode);

// A text split into more parts than this is cut in its last part: a pager
// that takes 80 characters is no place for a log file.
inline constexpr std::size_t kMaxSplitParts = 6;
// What marks a text that was cut.
inline constexpr std::string_view kCutMark = "...";

struct TFittedText {
  // The texts to page, in order: one for whole and truncate, one or more for
  // split, none when refused.
  std::vector<std::string> Parts;
  // Told once when the text is longer than the carrier takes, whatever the
  // mode: "the carrier Pager takes 80 characters; this text has 213". Empty
  // when it fits.
  std::string Notice;
  // True when the text was refused or lost something (cut, or split with its
  // end cut).
  bool Refused = false;
  bool Cut = false;
};

// Fits `text` to a carrier of `length` characters named `carrierName`.
TFittedText FitToCarrier(std::string_view text, std::size_t length, std::string_view carrierName,
                         TOverflow mode);

}  // namespace zv
