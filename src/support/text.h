// Text is UTF-8 in std::string throughout the program. Where a rule counts
// characters (centring, padding, length limits) it counts UTF-16 code units,
// the unit the stored formats and the server were defined in.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

namespace zv {

// The UTF-8 byte-order mark.
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// UTF-8 <-> UTF-16. Malformed UTF-8 is read as U+FFFD per bad byte; unpaired
// surrogates are written as U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// A text that does not come from the program itself (the server's texts, files
// the operator may not have written), made safe to show on a terminal: line
// breaks and tabs stay; every other control character is shown as `cat -v`
// shows it ("^[" for ESC, "^?" for DEL, "M-^[" for the C1 control U+009B), and
// the direction controls as their code ("<U+202E>"); bad UTF-8 becomes U+FFFD.
// So no text can send the terminal an escape sequence or turn the order of
// what a line shows.
std::string VisibleText(std::string_view utf8);
std::size_t Utf16Length(std::string_view text);

// UTF-16 as bytes, two per code unit, without a byte-order mark (the log files
// are little-endian). A trailing odd byte is ignored.
std::string Utf8ToUtf16Bytes(std::string_view text, bool bigEndian = false);
std::string Utf16BytesToUtf8(std::string_view bytes, bool bigEndian = false);

// The 8-bit code page of the program is Windows-1252: help texts without a
// byte-order mark and the byte form of login data use it. Characters the code
// page lacks become "?".
std::string Utf8ToWindows1252(std::string_view text);
std::string Windows1252ToUtf8(std::string_view bytes);

// Blanks and control characters (code 32 and below) are trimmed.
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

// Case rules for the program's ASCII words (commands, switches, key names).
std::string UpperCaseAscii(std::string_view text);
std::string LowerCaseAscii(std::string_view text);
bool SameTextAscii(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool ContainsNoCase(std::string_view text, std::string_view part);

// Pads `text` with blanks on the right to `width` UTF-16 units; never cuts.
std::string PadRight(std::string_view text, std::size_t width);

// `text` cut into lines of at most `width` UTF-16 units (at least 1), for a
// column of a table: a line breaks after the last blank that lets it fit, or,
// in a word longer than the column, where the column ends; the blanks at a
// break are dropped. A character is never cut in two. The empty text gives
// one empty line.
std::vector<std::string> WrapToWidth(std::string_view text, std::size_t width);

// printf-style formatting into a std::string.
std::string StrFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string StrFormatV(const char* format, va_list args);

// The lines of `text`: CR LF, LF and CR each end a line; a line end at the
// very end adds no empty last line.
std::vector<std::string> SplitLines(std::string_view text);

}  // namespace zv
