#pragma once

#include <cstdint>

namespace dispatch {

inline constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

// A point on the process clock's monotonic time line: foundation::Clock::current().uptime(), in
// seconds. A plain value; meaningful only against the clock that was current when it was taken.
struct Time {
  double uptime = 0;

  // The present moment of the current clock.
  static Time now();
  Time addingNanoseconds(std::int64_t nanoseconds) const {
    return Time{uptime + static_cast<double>(nanoseconds) / kNanosecondsPerSecond};
  }
};

// For a schedule start + k * interval (interval > 0): the least k above `afterIndex` whose point
// lies strictly after `now`. Deadlines missed in between are skipped, not replayed.
std::int64_t nextGridIndex(double start, double interval, std::int64_t afterIndex, double now);

}  // namespace dispatch
