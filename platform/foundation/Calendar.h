#pragma once

#include "Date.h"

namespace foundation {

struct DateComponents {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // day of the month, 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int weekday = 0;  // 1 = Sunday .. 7 = Saturday
};

// The user's current Gregorian calendar in the user's current time zone (`TZ` honoured, read anew
// on every call). Thread-safe.
class Calendar {
 public:
  static Calendar currentCalendar() { return Calendar{}; }
  DateComponents components(Date date) const;
  // The week-numbering year of `date` (what the date pattern "YYYY" prints) under the week rules
  // of the user's locale (LC_ALL, LC_TIME, LANG), as weekOfYearYearWithRules.
  int weekOfYearYear(Date date) const;

  // The week rules of a locale: the day weeks start on and how many days of a new year its
  // first week must hold. ISO 8601 is {2, 4}; the C locale's data gives {1, 4}.
  struct WeekRules {
    int firstWeekday = 2;            // 1 = Sunday .. 7 = Saturday
    int minimumDaysInFirstWeek = 4;  // 1..7
  };
  // The rules of the user's locale; those of the C locale when it names none that is installed.
  static WeekRules localeWeekRules();
  // The year whose week `parts` (year, month, day, weekday) falls in, under `rules`: near the
  // turn of a year a date can belong to a week of the year before or after.
  static int weekOfYearYearWithRules(const DateComponents& parts, WeekRules rules);
};

}  // namespace foundation
