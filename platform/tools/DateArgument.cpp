#include "DateArgument.h"

#include <cstdint>
#include <ctime>

namespace tools {
namespace {

class Cursor {
 public:
  explicit Cursor(std::string_view text) : _text(text) {}

  bool atEnd() const { return _at == _text.size(); }
  bool take(char c) {
    if (atEnd() || _text[_at] != c) return false;
    ++_at;
    return true;
  }
  bool take(std::string_view word) {
    if (_text.substr(_at, word.size()) != word) return false;
    _at += word.size();
    return true;
  }
  // Exactly `digits` decimal digits.
  std::optional<int> number(int digits) {
    int value = 0;
    for (int i = 0; i < digits; ++i) {
      if (atEnd() || _text[_at] < '0' || _text[_at] > '9') return std::nullopt;
      value = value * 10 + (_text[_at++] - '0');
    }
    return value;
  }

 private:
  std::string_view _text;
  size_t _at = 0;
};

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
std::int64_t daysFromEpoch(int year, int month, int day) {
  std::int64_t y = year - (month <= 2 ? 1 : 0);
  std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  std::int64_t yearOfEra = y - era * 400;
  std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The zone suffix: nullopt when malformed; otherwise the offset east of UTC in seconds, or no
// value inside (local time) when there is none.
std::optional<std::optional<int>> zone(Cursor& cursor, bool isoForm) {
  if (cursor.atEnd()) return std::optional<int>{};
  if (!isoForm && !cursor.take(' ')) return std::nullopt;
  if (cursor.take('Z') || cursor.take("UTC") || cursor.take("GMT")) {
    return cursor.atEnd() ? std::optional<std::optional<int>>(0) : std::nullopt;
  }
  int sign = cursor.take('+') ? 1 : cursor.take('-') ? -1 : 0;
  if (sign == 0) return std::nullopt;
  auto hours = cursor.number(2);
  cursor.take(':');
  auto minutes = cursor.number(2);
  if (!hours || !minutes || *hours > 23 || *minutes > 59 || !cursor.atEnd()) return std::nullopt;
  return std::optional<int>(sign * (*hours * 3600 + *minutes * 60));
}

}  // namespace

std::optional<foundation::Date> parseDateArgument(std::string_view text) {
  Cursor cursor(text);
  auto year = cursor.number(4);
  if (!year || !cursor.take('-')) return std::nullopt;
  auto month = cursor.number(2);
  if (!month || !cursor.take('-')) return std::nullopt;
  auto day = cursor.number(2);
  if (!day || *year < 1 || *month < 1 || *month > 12 || *day < 1 ||
      *day > daysInMonth(*year, *month)) {
    return std::nullopt;
  }

  int hour = 0, minute = 0, second = 0;
  std::optional<int> offset;  // seconds east of UTC; none: local time
  if (!cursor.atEnd()) {
    bool isoForm = cursor.take('T');
    if (!isoForm && !cursor.take(' ')) return std::nullopt;
    auto h = cursor.number(2);
    if (!h || !cursor.take(':')) return std::nullopt;
    auto m = cursor.number(2);
    if (!m || !cursor.take(':')) return std::nullopt;
    auto s = cursor.number(2);
    if (!s || *h > 23 || *m > 59 || *s > 59) return std::nullopt;
    hour = *h, minute = *m, second = *s;
    auto suffix = zone(cursor, isoForm);
    if (!suffix) return std::nullopt;
    offset = *suffix;
  }

  if (offset) {
    double seconds = static_cast<double>(daysFromEpoch(*year, *month, *day)) * 86400.0 +
                     hour * 3600 + minute * 60 + second - *offset;
    return foundation::Date{seconds};
  }
  std::tm parts{};
  parts.tm_year = *year - 1900;
  parts.tm_mon = *month - 1;
  parts.tm_mday = *day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  parts.tm_isdst = -1;
  std::time_t local = std::mktime(&parts);
  if (local == static_cast<std::time_t>(-1) && (parts.tm_year != 69 || parts.tm_yday != 364)) {
    return std::nullopt;
  }
  return foundation::Date{static_cast<double>(local)};
}

}  // namespace tools
