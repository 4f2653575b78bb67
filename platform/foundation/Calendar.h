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
  // The ISO 8601 week-numbering year of `date` (what the date pattern "YYYY" prints).
  int weekOfYearYear(Date date) const;
};

}  // namespace foundation
