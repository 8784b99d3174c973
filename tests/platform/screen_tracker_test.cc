#include "platform/screen_tracker.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zv::platform {
namespace {

void ExpectCursor(const ScreenTracker& tracker, int x, int y) {
  EXPECT_EQ(tracker.Cursor().X, x);
  EXPECT_EQ(tracker.Cursor().Y, y);
}

TEST(ScreenTrackerTest, AdvanceCountsCodePointsAndSkipsControls) {
  struct Case {
    std::string Text;
    int X, Y;
    std::string Line;
  };
  const std::vector<Case> cases = {
      {"abc", 3, 0, "abc"},           {"äöü€", 4, 0, "äöü€"},  {"ab\tc", 9, 0, "ab      c"},
      {"\x1b[1mA\x1b[0m", 1, 0, "A"}, {"abc\bd", 3, 0, "abd"}, {"ä\b", 0, 0, ""},
      {"one\ntwo\nx", 1, 2, "x"},     {"abc\rd", 1, 0, "d"},   {"\a\x01z", 1, 0, "z"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    ScreenTracker tracker;
    tracker.Advance(c.Text);
    ExpectCursor(tracker, c.X, c.Y);
    EXPECT_EQ(tracker.Line(), c.Line);
  }
}

TEST(ScreenTrackerTest, WrapsAtTheWidthAndScrollsAtTheBottom) {
  ScreenTracker tracker(Size{10, 3});
  tracker.Advance("0123456789");
  ExpectCursor(tracker, 9, 0);  // the wrap waits for the next character
  tracker.Advance("\n");
  ExpectCursor(tracker, 0, 1);  // a full line and its end take one row

  tracker.Advance("0123456789ab");
  ExpectCursor(tracker, 2, 2);
  EXPECT_EQ(tracker.Line(), "0123456789ab");
  tracker.Advance("\n\n\nlast");
  ExpectCursor(tracker, 4, 2);  // the screen scrolled; the row stays at the bottom
}

TEST(ScreenTrackerTest, PlainPlacementRendersHeadingsAsLines) {
  // A choice screen: headings on rows 1, 2 and 4 right after clearing.
  ScreenTracker tracker;
  tracker.Advance("old text");
  tracker.Clear();
  ExpectCursor(tracker, 0, 0);
  EXPECT_EQ(tracker.PlainMove(3, 1), "\n   ");
  tracker.Advance("Title\n");
  EXPECT_EQ(tracker.PlainMove(2, 2), "  ");
  tracker.Advance("Sub\n");
  EXPECT_EQ(tracker.PlainMove(1, 4), "\n ");
  ExpectCursor(tracker, 1, 4);
  EXPECT_EQ(tracker.Line(), " ");

  // The main screen: rows 0 and 1.
  tracker.Clear();
  EXPECT_EQ(tracker.PlainMove(4, 0), "    ");
  tracker.Advance("Main\n");
  EXPECT_EQ(tracker.PlainMove(0, 1), "");
}

TEST(ScreenTrackerTest, PlainPlacementThatCannotGoBackStartsAFreshLine) {
  struct Case {
    std::string Before;
    int X, Y;
    std::string Out;
    int CursorX, CursorY;
  };
  const std::vector<Case> cases = {
      {"abcdef", 2, 0, "\n  ", 2, 1},             // left on the same row
      {"a\nb\nc", 0, 0, "\n", 0, 3},              // up
      {"a\nb\n", 3, 0, "   ", 3, 2},              // up from the first column: no break
      {"abc", 5, 0, "  ", 5, 0},                  // right on the same row
      {"abc", 3, 0, "", 3, 0},                    // already there
      {"x", -4, -1, "\n", 0, 1},                  // negative counts as 0
      {"", 200, 0, std::string(79, ' '), 79, 0},  // past the width: the last column
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Before + " -> " + std::to_string(c.X) + "," + std::to_string(c.Y));
    ScreenTracker tracker;
    tracker.Advance(c.Before);
    EXPECT_EQ(tracker.PlainMove(c.X, c.Y), c.Out);
    ExpectCursor(tracker, c.CursorX, c.CursorY);
  }
}

TEST(ScreenTrackerTest, NextRowAtTheBottomWritesALineBreakInBothModes) {
  for (const bool ansi : {false, true}) {
    SCOPED_TRACE(ansi);
    ScreenTracker tracker(Size{80, 25});
    for (int i = 0; i < 40; ++i) tracker.Advance("line\n");
    tracker.Advance("Zorvane Send >");
    ExpectCursor(tracker, 14, 24);
    const int next = tracker.Cursor().Y + 1;
    EXPECT_EQ(ansi ? tracker.AnsiMove(0, next) : tracker.PlainMove(0, next), "\n");
    ExpectCursor(tracker, 0, 24);
  }
}

TEST(ScreenTrackerTest, AnsiPlacement) {
  ScreenTracker tracker;
  tracker.Advance("a\nb\nc");
  EXPECT_EQ(tracker.AnsiMove(5, 0), "\x1b[2A\x1b[6G");
  ExpectCursor(tracker, 5, 0);
  EXPECT_EQ(tracker.AnsiMove(0, 0), "\x1b[1G");
  EXPECT_EQ(tracker.AnsiMove(0, 0), "");
  EXPECT_EQ(tracker.AnsiMove(2, 2), "\n\n\x1b[3G");
  ExpectCursor(tracker, 2, 2);
  // A wild row is reached with no more line breaks than the screen has rows.
  EXPECT_EQ(tracker.AnsiMove(0, 100000), std::string(25, '\n'));
}

TEST(ScreenTrackerTest, LineKeepsPlacementBlanksForThePrompt) {
  ScreenTracker tracker;
  tracker.AnsiMove(4, 0);
  tracker.Advance("P> ");
  EXPECT_EQ(tracker.Line(), "    P> ");
  tracker.AnsiMove(2, 0);  // back over the text: the rest is no longer before the cursor
  EXPECT_EQ(tracker.Line(), "  ");
}

TEST(ScreenTrackerTest, EraseLineGoesUpOverWrappedRows) {
  ScreenTracker tracker(Size{10, 5});
  tracker.Advance("first\n");
  tracker.Advance("0123456789012345678901");
  ExpectCursor(tracker, 2, 3);
  EXPECT_EQ(tracker.AnsiEraseLine(), "\r\x1b[2A\x1b[J");
  ExpectCursor(tracker, 0, 1);
  EXPECT_EQ(tracker.Line(), "");
  tracker.Advance("P> ");
  EXPECT_EQ(tracker.AnsiEraseLine(), "\r\x1b[K");
}

}  // namespace
}  // namespace zv::platform
