#include "support/com_date.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace zv {
namespace {

TEST(ComDateTest, DaysFromTheEpochWithTheTimeAsFraction) {
  struct Case {
    double value;
    TDateTime expected;
  };
  const Case cases[] = {
      {0.0, {}},
      {2.75, {1900, 1, 1, 18, 0, 0, 0}},
      {46000.5, {2025, 12, 9, 12, 0, 0, 0}},
      {-1.25, {1899, 12, 29, 6, 0, 0, 0}},  // the fraction counts forward
      {-0.5, {1899, 12, 30, 12, 0, 0, 0}},
      {1.0 + 1.0 / 86400000.0, {1899, 12, 31, 0, 0, 0, 1}},
      {1.9999999999, {1900, 1, 1, 0, 0, 0, 0}},  // rounds up to the next midnight
      {2958465.5, {9999, 12, 31, 12, 0, 0, 0}},
      {-657434.0, {100, 1, 1, 0, 0, 0, 0}},
      // Not a date: the unset date rather than a made-up one.
      {2958466.0, {}},
      {-657435.0, {}},
      {std::nan(""), {}},
      {std::numeric_limits<double>::infinity(), {}},
      {1e300, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(ComDateToDateTime(c.value), c.expected) << c.value;
}

TEST(ComDateTest, DatesBecomeComDatesAndBack) {
  struct Case {
    TDateTime date;
    double expected;
  };
  const Case cases[] = {
      {{}, 0.0},
      {{1899, 12, 31, 6, 0, 0, 0}, 1.25},
      {{2024, 1, 1, 12, 0, 0, 0}, 45292.5},
      {{1900, 3, 1, 0, 0, 0, 0}, 61.0},  // no 29 February 1900
      {{1899, 12, 29, 6, 0, 0, 0}, -1.25},
      {{100, 1, 1, 0, 0, 0, 0}, -657434.0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DateTimeToComDate(c.date), c.expected) << c.expected;
    EXPECT_EQ(ComDateToDateTime(c.expected), c.date) << c.expected;
  }
}

}  // namespace
}  // namespace zv
