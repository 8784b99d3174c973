#include "support/com_date.h"

#include <chrono>
#include <cmath>
#include <cstdint>

namespace zv {
namespace {

// The COM range: 1 January 100 to 31 December 9999, end of day.
constexpr double kFirstDay = -657434.0;
constexpr double kLastDay = 2958466.0;
constexpr int64_t kMsPerDay = 86400000;

}  // namespace

TDateTime ComDateToDateTime(double value) {
  if (!std::isfinite(value) || value <= kFirstDay - 1.0 || value >= kLastDay) return TDateTime{};
  double whole = 0;
  const double fraction = std::fabs(std::modf(value, &whole));
  auto days = static_cast<int64_t>(whole);
  auto ms = static_cast<int64_t>(std::llround(fraction * static_cast<double>(kMsPerDay)));
  if (ms >= kMsPerDay) {  // rounded up to midnight: the next calendar day
    ms -= kMsPerDay;
    ++days;
  }
  using namespace std::chrono;
  const year_month_day date{sys_days{year{1899} / December / 30} + std::chrono::days{days}};
  if (date.year() < year{100} || date.year() > year{9999}) return TDateTime{};
  const auto part = [&ms](int64_t unit) {
    const auto count = static_cast<int>(ms / unit);
    ms %= unit;
    return count;
  };
  TDateTime result;
  result.Year = static_cast<int>(date.year());
  result.Month = static_cast<int>(static_cast<unsigned>(date.month()));
  result.Day = static_cast<int>(static_cast<unsigned>(date.day()));
  result.Hour = part(3600000);
  result.Minute = part(60000);
  result.Second = part(1000);
  result.Millisecond = static_cast<int>(ms);
  return result;
}

double DateTimeToComDate(const TDateTime& value) {
  using namespace std::chrono;
  const sys_days day = year{value.Year} / month{static_cast<unsigned>(value.Month)} /
                       std::chrono::day{static_cast<unsigned>(value.Day)};
  const auto days = static_cast<double>((day - sys_days{year{1899} / December / 30}).count());
  const double fraction =
      (((value.Hour * 60.0 + value.Minute) * 60.0 + value.Second) * 1000.0 + value.Millisecond) /
      static_cast<double>(kMsPerDay);
  return days < 0 ? days - fraction : days + fraction;
}

}  // namespace zv
