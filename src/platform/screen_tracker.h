// Where the terminal has written: the cursor cell, and the text of the current
// line since its last line end (which the line editor shows as its prompt).
// The terminal is never asked; the position follows from what was written.
//
// Columns are counted in Unicode code points (one cell each). The screen is
// treated as a terminal treats it: a line end below the last row scrolls (the
// row stays at the bottom), and a line that fills the width wraps when its next
// character arrives (until then the cursor stands on the last column).
//
// Placement is rendered two ways: with ANSI cursor sequences (interactive) and
// with line breaks and blanks only (plain), so that captured output reads as
// the screen would.
#pragma once

#include <string>
#include <string_view>

#include "platform/terminal.h"

namespace zv::platform {

class ScreenTracker {
 public:
  explicit ScreenTracker(Size screen = {});

  void Resize(Size screen);
  Size Screen() const { return FScreen; }

  // While a wrap is pending the cursor stands on the last column.
  Point Cursor() const;
  bool AtLineStart() const { return FColumn == 0; }

  // The text of the current line since its last line end, with blanks where
  // placement moved right (escape sequences and control characters left out).
  const std::string& Line() const { return FLine; }

  // Accounts for text as it goes to the output. "\n" ends a line; "\r" starts
  // the current row again; "\t" advances to the next multiple of 8; ANSI
  // sequences take no room.
  void Advance(std::string_view text);

  // The screen was cleared: the cursor is home and no line is pending.
  void Clear();

  // Moves to (x, y) and returns what to write for it. A row below the cursor is
  // reached with line breaks (at most one screen of them), so this works at the
  // bottom of a scrolling screen. Negative coordinates count as 0, a column past
  // the width as the last column.
  //
  // Plain: no escape sequences. Columns right of the cursor are reached with
  // blanks; a place above or left of the cursor cannot be reached, so the text
  // goes on a fresh line at column x instead, and Cursor() says so.
  std::string PlainMove(int x, int y);
  // ANSI: rows above with cursor-up, the column with an absolute column move.
  std::string AnsiMove(int x, int y);

  // ANSI: back to the first column of the current line (up over the rows it
  // wrapped onto) and erase it, so a line editor can show it again.
  std::string AnsiEraseLine();

 private:
  void LineBreak();
  void PadOrCutLine(int codePoints);

  Size FScreen;
  int FColumn = 0;  // may equal the width: a wrap is pending
  int FRow = 0;
  int FWrappedRows = 0;  // rows the current line took below its first
  std::string FLine;
};

}  // namespace zv::platform
