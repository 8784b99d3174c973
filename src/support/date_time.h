// A local calendar date and time. The zero value, 30 December 1899 00:00:00,
// stands for an unset date.
#pragma once

#include <string>

namespace zv {

struct TDateTime {
  int Year = 1899;
  int Month = 12;
  int Day = 30;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;

  static TDateTime Now();
  bool IsZero() const { return *this == TDateTime{}; }
  bool IsValid() const;  // a real calendar date and a time of day
  bool IsMidnight() const { return Hour == 0 && Minute == 0 && Second == 0 && Millisecond == 0; }
  friend bool operator==(const TDateTime&, const TDateTime&) = default;
};

// "<locale short date> <locale long time>" (strftime %x and %X); the time is
// left out at exactly midnight.
std::string LocalDateTimeText(const TDateTime& value);

}  // namespace zv

namespace zv {

// The time of day as "hh:nn:ss:zzz" (14:05:09:042), the link's time stamps.
std::string TimeStampText(const TDateTime& value);

}  // namespace zv
