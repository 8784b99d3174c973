// A message line, "address,text[,carrier[,priority[,subject[,age]]]]", read
// into its fields, for the console and for every sender that takes such lines
// ("zvcc send -"). Fields are split at "," and ";" outside double quotes;
// every field but the text is trimmed; a text that is the last field and
// stands in quotes is unquoted.
#pragma once

#include <string>
#include <string_view>

namespace zv {

struct TMessageLine {
  std::string Address, Text, Carrier, Priority, Subject, Age;
  // Why the line is no page ("" when it is one).
  std::string Error;
};

inline constexpr std::size_t kMaxMessageFields = 6;

TMessageLine ParseMessageLine(std::string_view line);

}  // namespace zv
