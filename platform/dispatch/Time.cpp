#include "dispatch/Time.h"

#include <cmath>

#include "foundation/Clock.h"

namespace dispatch {

Time Time::now() { return Time{foundation::Clock::current().uptime()}; }

std::int64_t nextGridIndex(double start, double interval, std::int64_t afterIndex, double now) {
  std::int64_t next = afterIndex + 1;
  double behind = std::floor((now - start) / interval);
  if (behind >= static_cast<double>(next)) next = static_cast<std::int64_t>(behind) + 1;
  while (start + static_cast<double>(next) * interval <= now) ++next;
  return next;
}

}  // namespace dispatch
