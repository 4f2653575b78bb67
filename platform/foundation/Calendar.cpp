#include "Calendar.h"

#include <cmath>
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
  std::tm parts = localParts(date);
  char text[16];
  std::strftime(text, sizeof text, "%G", &parts);
  return std::atoi(text);
}

}  // namespace foundation
