#pragma once

#include <compare>

namespace foundation {

// An absolute point in time: seconds since 1970-01-01 00:00:00 UTC, with fractions.
struct Date {
  double timeIntervalSince1970 = 0;

  // The current time of the process's clock (see Clock).
  static Date now();

  Date addingTimeInterval(double seconds) const { return Date{timeIntervalSince1970 + seconds}; }
  double timeIntervalSince(Date other) const {
    return timeIntervalSince1970 - other.timeIntervalSince1970;
  }
  auto operator<=>(const Date&) const = default;
};

}  // namespace foundation
