// Shared free functions: where the program's files live, how text is escaped in
// settings and lists, splitting and joining of delimited lists, the compact
// hexadecimal number and date forms, address validation, message numbering, the
// operator-facing socket error texts and the log's rendering of raw protocol text.
// None holds state; all may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/date_time.h"

namespace zv {

struct TPIBounds {
  int32_t L = 0;
  int32_t H = 0;
};
TPIBounds MakeBounds(int32_t l, int32_t h);

using TStringList = std::vector<std::string>;

// A set of separator characters (single bytes; only ASCII separators are used).
using TSeparators = std::string_view;

// Files and folders: the subfolder with a trailing '/' of the program's home
// folder (platform::HomeFolder), or for "Help" of the folder of the running
// program file (never the current directory); AppFilePath adds the file name.
std::string AppSubFolder(std::string_view subFolder);
std::string AppFilePath(std::string_view subFolder, std::string_view fileName);

// Quoted form: enclosed in double quotes, inner quotes doubled, then every
// "\r\n" as backslash-n. UnescapeText reverses it; UnquoteText is its first step.
std::string EscapeText(std::string_view text);
std::string UnescapeText(std::string_view text);
std::string UnquoteText(std::string_view text);

void AppendItem(std::string& list, std::string_view item, std::string_view separator);
std::string ListWithItem(std::string_view list, std::string_view item, std::string_view separator);
std::string Capitalize(std::string_view text);

// Lenient splitting: leading whitespace skipped, quoted items unquoted.
TStringList SplitToArray(std::string_view text, TSeparators separators);
// Item `index` (from 1) as SplitToArray would count it; empty when missing.
std::string ExtractField(std::string_view text, int index, TSeparators separators);
// Strict splitting at one delimiter; nothing trimmed.
void SplitDelimited(TStringList& list, std::string_view text, char delimiter);
TStringList SplitDelimited(std::string_view text, char delimiter);
std::string JoinDelimited(const TStringList& list, char delimiter);

// "$" + text through StrToInt; throws EConversionError ("Cannot convert an empty
// hex string to integer" for the empty text).
int32_t HexToInt(std::string_view text);
// 12 hex digits: year(3) month(1) day(2) hour(2) minute(2) second(2).
// Throws EZVTcpConnection "Error in date/time format: ...".
TDateTime HexToDateTime(std::string_view text);
std::string DateTimeToHex(const TDateTime& value);

bool IsZeroText(std::string_view text);
bool IsDottedQuadAddress(std::string_view text);

// Increments the counter atomically; a value of 2147483647 or more becomes 1.
int32_t IncrementId(std::atomic<int32_t>& counter);

// Socket error codes are the classic Windows Sockets numbers, the codes the
// operator texts are known by; the link turns a system error into one.
enum : int {
  kSockAddrNotAvail = 10049,
  kSockNetUnreach = 10051,
  kSockConnReset = 10054,
  kSockTimedOut = 10060,
  kSockConnRefused = 10061,
  kSockHostUnreach = 10065,
  kSockHostNotFound = 11001,
};
std::string SocketErrorText(int code);

// A readable one-line rendering of raw protocol text with control characters.
std::string DebugText(std::string_view text);

}  // namespace zv
