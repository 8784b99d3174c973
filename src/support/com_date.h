// Dates as the local server's interface carries them: days since 30 December
// 1899 as a floating-point number, the time of day as its fraction. A negative
// value counts its whole days back from that date while its fraction still
// counts forward into the day (-1.25 is 29 December 1899, 06:00).
#pragma once

#include "support/date_time.h"

namespace zv {

// The date and time of a COM date, to the nearest millisecond. A value that
// is not a number or lies outside the years 100 to 9999 gives the zero date,
// so a server's bad value never becomes a made-up date.
TDateTime ComDateToDateTime(double value);

// The COM date of a date and time; before 30 December 1899 the fraction is
// subtracted, so that ComDateToDateTime gives the same date and time back.
double DateTimeToComDate(const TDateTime& value);

}  // namespace zv
