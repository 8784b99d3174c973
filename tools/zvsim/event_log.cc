#include "zvsim/event_log.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/local_time.h"
#include "support/text.h"

namespace zv::sim {
namespace {

// Texts in the log come partly from consoles: control characters (C0, DEL and
// the C1 range in its UTF-8 form) are written as \xNN, so that nothing a
// console sends can reach the terminal as an escape sequence.
std::string VisibleText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      out += StrFormat("\\x%02X", c);
    } else if (c == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      out += StrFormat("\\x%02X", static_cast<unsigned char>(text[++i]));
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

void TEventLog::Write(int32_t connection, std::string_view text) const {
  if (FQuiet) return;
  const auto now = std::chrono::system_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
  const std::tm local = platform::LocalTime(std::chrono::system_clock::to_time_t(now));
  std::string line = StrFormat("%02d:%02d:%02d.%03d zvsim", local.tm_hour, local.tm_min,
                               local.tm_sec, static_cast<int>(ms.count() % 1000));
  if (connection > 0) line += StrFormat(" #%d", static_cast<int>(connection));
  line += ": ";
  line += VisibleText(text);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace zv::sim
