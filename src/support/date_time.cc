#include "support/date_time.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "platform/local_time.h"

namespace zv {

TDateTime TDateTime::Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const std::tm local = platform::LocalTime(seconds);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  return TDateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,       local.tm_hour,
                   local.tm_min,         local.tm_sec,     static_cast<int>(ms)};
}

bool TDateTime::IsValid() const {
  using namespace std::chrono;
  const year_month_day date{year{Year}, month{static_cast<unsigned>(Month)},
                            day{static_cast<unsigned>(Day)}};
  return Year >= 1 && Year <= 9999 && date.ok() && Hour >= 0 && Hour < 24 && Minute >= 0 &&
         Minute < 60 && Second >= 0 && Second < 60 && Millisecond >= 0 && Millisecond < 1000;
}

std::string LocalDateTimeText(const TDateTime& value) {
  std::tm tm{};
  tm.tm_year = value.Year - 1900;
  tm.tm_mon = value.Month - 1;
  tm.tm_mday = value.Day;
  tm.tm_hour = value.Hour;
  tm.tm_min = value.Minute;
  tm.tm_sec = value.Second;
  tm.tm_isdst = -1;
  char buffer[128];
  const char* format = value.IsMidnight() ? "%x" : "%x %X";
  const std::size_t n = std::strftime(buffer, sizeof buffer, format, &tm);
  return std::string(buffer, n);
}

}  // namespace zv

namespace zv {

std::string TimeStampText(const TDateTime& value) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d:%03d", value.Hour % 100, value.Minute % 100,
                value.Second % 100, value.Millisecond % 1000);
  return text;
}

}  // namespace zv
