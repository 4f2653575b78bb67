#include "Calendar.h"

#include <langinfo.h>
#include <locale.h>

#include <cmath>
#include <cstdint>
#include <ctime>
#include <mutex>

namespace foundation {
namespace {

std::tm localParts(Date date) {
  // tzset() is not safe against a concurrent tzset(); serialise our own calls.
  static std::mutex s_tzMutex;
  std::lock_guard<std::mutex> guard(s_tzMutex);
  tzset();
  std::time_t seconds = static_cast<std::time_t>(std::floor(date.timeIntervalSince1970));
  std::tm parts{};
  localtime_r(&seconds, &parts);
  return parts;
}

}  // namespace

DateComponents Calendar::components(Date date) const {
  std::tm parts = localParts(date);
  return DateComponents{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,    parts.tm_hour,
                        parts.tm_min,         parts.tm_sec,     parts.tm_wday + 1};
}

int Calendar::weekOfYearYear(Date date) const {
  return weekOfYearYearWithRules(components(date), localeWeekRules());
}

Calendar::WeekRules Calendar::localeWeekRules() {
  locale_t locale = newlocale(LC_TIME_MASK, "", locale_t{});
  if (!locale) locale = newlocale(LC_TIME_MASK, "C", locale_t{});
  if (!locale) return WeekRules{};
  // The locale's week data: a date on which weeks start (as yyyymmdd, in a word), the first
  // weekday counted from that day, and the minimum days of the first week.
  union {
    char* string;
    std::uintptr_t word;
  } startDate;
  startDate.string = nl_langinfo_l(_NL_TIME_WEEK_1STDAY, locale);
  const char* firstWeekday = nl_langinfo_l(_NL_TIME_FIRST_WEEKDAY, locale);
  const char* minimumDays = nl_langinfo_l(_NL_TIME_WEEK_1STWEEK, locale);
  WeekRules rules;
  const auto yyyymmdd = static_cast<std::uint32_t>(startDate.word);
  if (yyyymmdd > 10000101) {
    // Weekday of that date, 0 = Sunday (Sakamoto's method).
    static constexpr int kMonthOffset[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    int year = static_cast<int>(yyyymmdd / 10000), month = static_cast<int>(yyyymmdd / 100 % 100);
    int day = static_cast<int>(yyyymmdd % 100);
    if (month >= 1 && month <= 12) {
      if (month < 3) --year;
      int weekday = (year + year / 4 - year / 100 + year / 400 + kMonthOffset[month - 1] + day) % 7;
      int offset =
          firstWeekday && firstWeekday[0] >= 1 && firstWeekday[0] <= 7 ? firstWeekday[0] - 1 : 0;
      rules.firstWeekday = (weekday + offset) % 7 + 1;
    }
  }
  if (minimumDays && minimumDays[0] >= 1 && minimumDays[0] <= 7) {
    rules.minimumDaysInFirstWeek = minimumDays[0];
  }
  freelocale(locale);
  return rules;
}

int Calendar::weekOfYearYearWithRules(const DateComponents& parts, WeekRules rules) {
  auto isLeap = [](int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; };
  static constexpr int kDaysBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  const int dayOfYear = kDaysBefore[parts.month - 1] +
                        (parts.month > 2 && isLeap(parts.year) ? 1 : 0) + parts.day - 1;
  const int daysInYear = isLeap(parts.year) ? 366 : 365;
  const int first = rules.firstWeekday - 1;  // 0 = Sunday
  const int weekday = parts.weekday - 1;
  // Where week 1 of a year starts, in days from that year's 1 January, given that day's weekday.
  auto firstWeekStart = [&](int januaryFirstWeekday) {
    int intoWeek = (januaryFirstWeekday - first + 7) % 7;
    return 7 - intoWeek >= rules.minimumDaysInFirstWeek ? -intoWeek : 7 - intoWeek;
  };
  const int januaryFirst = ((weekday - dayOfYear) % 7 + 7) % 7;
  if (dayOfYear < firstWeekStart(januaryFirst)) return parts.year - 1;
  if (dayOfYear >= daysInYear + firstWeekStart((januaryFirst + daysInYear) % 7)) {
    return parts.year + 1;
  }
  return parts.year;
}

}  // namespace foundation
