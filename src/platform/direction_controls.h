// The invisible characters that change the order in which a terminal shows
// the text around them: the embeddings and overrides (U+202A to U+202E), the
// isolates (U+2066 to U+2069) and the direction marks (U+200E, U+200F,
// U+061C). A text from outside that carries one can make a line read other
// than it is ("moc.elpmaxe" shown as "example.com"), so whatever writes such a
// text to the terminal shows these in a visible form instead: "<U+202E>".
#pragma once

#include <cstdio>
#include <string>

namespace zv::platform {

constexpr bool IsDirectionControl(char32_t c) {
  return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E ||
         c == 0x200F || c == 0x061C;
}

// "<U+" and four upper-case hexadecimal digits, then ">".
inline std::string DirectionControlShown(char32_t c) {
  char text[16];
  std::snprintf(text, sizeof text, "<U+%04X>", static_cast<unsigned>(c));
  return text;
}

}  // namespace zv::platform
