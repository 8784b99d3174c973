#include "platform/screen_tracker.h"

#include <algorithm>

namespace zv::platform {
namespace {

constexpr int kTabWidth = 8;

bool IsContinuationByte(unsigned char c) { return (c & 0xC0) == 0x80; }

// Index just past the escape sequence that starts at `at` (an ESC).
std::size_t SkipEscape(std::string_view text, std::size_t at) {
  std::size_t i = at + 1;
  if (i >= text.size()) return i;
  if (text[i] != '[') return i + 1;  // a two-byte sequence
  for (++i; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x40 && c <= 0x7E) return i + 1;  // the final byte of a CSI sequence
  }
  return i;
}

// Index of the start of the code point before `end`.
std::size_t PreviousCodePoint(const std::string& text, std::size_t end) {
  std::size_t i = end;
  while (i > 0) {
    --i;
    if (!IsContinuationByte(static_cast<unsigned char>(text[i]))) break;
  }
  return i;
}

std::string Csi(int count, char command) { return "\x1b[" + std::to_string(count) + command; }

}  // namespace

ScreenTracker::ScreenTracker(Size screen) { Resize(screen); }

void ScreenTracker::Resize(Size screen) {
  FScreen.X = std::max(screen.X, 1);
  FScreen.Y = std::max(screen.Y, 1);
  FColumn = std::min(FColumn, FScreen.X);
  FRow = std::min(FRow, FScreen.Y - 1);
}

Point ScreenTracker::Cursor() const { return {std::min(FColumn, FScreen.X - 1), FRow}; }

void ScreenTracker::LineBreak() {
  FRow = std::min(FRow + 1, FScreen.Y - 1);
  FColumn = 0;
  FWrappedRows = 0;
  FLine.clear();
}

void ScreenTracker::Advance(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == 0x1B) {
      i = SkipEscape(text, i);
      continue;
    }
    ++i;
    if (c == '\n') {
      LineBreak();
    } else if (c == '\r') {
      // The current row is written again from its start: what it showed is no
      // longer a prompt that can be told.
      FColumn = 0;
      FWrappedRows = 0;
      FLine.clear();
    } else if (c == '\t') {
      const int blanks = kTabWidth - FColumn % kTabWidth;
      Advance(std::string(static_cast<std::size_t>(blanks), ' '));
    } else if (c == '\b') {
      if (FColumn > 0 && FColumn < FScreen.X) {
        --FColumn;
        FLine.erase(PreviousCodePoint(FLine, FLine.size()));
      }
    } else if (c < 0x20 || c == 0x7F) {
      // Other control characters take no room.
    } else if (IsContinuationByte(c)) {
      FLine.push_back(static_cast<char>(c));
    } else {
      if (FColumn >= FScreen.X) {
        FRow = std::min(FRow + 1, FScreen.Y - 1);
        FColumn = 0;
        ++FWrappedRows;
      }
      ++FColumn;
      FLine.push_back(static_cast<char>(c));
    }
  }
}

void ScreenTracker::Clear() {
  FColumn = 0;
  FRow = 0;
  FWrappedRows = 0;
  FLine.clear();
}

void ScreenTracker::PadOrCutLine(int codePoints) {
  int count = 0;
  std::size_t i = 0;
  for (; i < FLine.size(); ++i) {
    if (IsContinuationByte(static_cast<unsigned char>(FLine[i]))) continue;
    if (count == codePoints) break;
    ++count;
  }
  if (count == codePoints) {
    FLine.erase(i);
  } else {
    FLine.append(static_cast<std::size_t>(codePoints - count), ' ');
  }
}

std::string ScreenTracker::PlainMove(int x, int y) {
  x = std::clamp(x, 0, FScreen.X - 1);
  y = std::max(y, 0);
  std::string out;
  if (y > FRow) {
    const int breaks = std::min(y - FRow, FScreen.Y);
    out.append(static_cast<std::size_t>(breaks), '\n');
  } else if (y < FRow || x < FColumn) {
    if (FColumn > 0) out.push_back('\n');
  }
  Advance(out);
  const std::string blanks(static_cast<std::size_t>(x - FColumn), ' ');
  Advance(blanks);
  return out + blanks;
}

std::string ScreenTracker::AnsiMove(int x, int y) {
  x = std::clamp(x, 0, FScreen.X - 1);
  y = std::max(y, 0);
  std::string out;
  if (y > FRow) {
    const int breaks = std::min(y - FRow, FScreen.Y);
    out.append(static_cast<std::size_t>(breaks), '\n');
    Advance(out);
  } else if (y < FRow) {
    out = Csi(FRow - y, 'A');
    // What that row holds is not known; the column is kept.
    FRow = y;
    FWrappedRows = 0;
    FLine.clear();
  }
  if (x != FColumn) out += Csi(x + 1, 'G');
  PadOrCutLine(FWrappedRows * FScreen.X + x);
  FColumn = x;
  return out;
}

std::string ScreenTracker::AnsiEraseLine() {
  std::string out = "\r";
  if (FWrappedRows > 0) {
    out += Csi(FWrappedRows, 'A');
    out += "\x1b[J";
  } else {
    out += "\x1b[K";
  }
  FRow = std::max(FRow - FWrappedRows, 0);
  FColumn = 0;
  FWrappedRows = 0;
  FLine.clear();
  return out;
}

}  // namespace zv::platform
