#pragma once

#include <chrono>
#include <cmath>
#include <compare>
#include <limits>
#include <type_traits>

namespace foundation {

// A length of time in seconds, with fractions: animation durations, timer delays and periods,
// sleeps and waits. May be negative, zero or infinite ("never" / "no bound"); a NaN is treated as
// zero wherever it is converted. A plain value, safe to copy between threads.
class TimeInterval {
 public:
  constexpr TimeInterval() = default;

  static constexpr TimeInterval seconds(double seconds) { return TimeInterval(seconds); }
  static constexpr TimeInterval milliseconds(double milliseconds) {
    return TimeInterval(milliseconds / 1000);
  }
  static constexpr TimeInterval infinite() {
    return TimeInterval(std::numeric_limits<double>::infinity());
  }
  template <class Rep, class Period>
  static constexpr TimeInterval fromDuration(std::chrono::duration<Rep, Period> duration) {
    return TimeInterval(std::chrono::duration<double>(duration).count());
  }

  constexpr double inSeconds() const { return _seconds; }
  constexpr double inMilliseconds() const { return _seconds * 1000; }
  constexpr bool isPositive() const { return _seconds > 0; }
  constexpr bool isFinite() const {
    return _seconds == _seconds && _seconds != std::numeric_limits<double>::infinity() &&
           _seconds != -std::numeric_limits<double>::infinity();
  }

  // The interval as a std::chrono duration `D`. An integral representation is rounded to the
  // nearest tick and saturates at D's limits (so infinite() becomes D::max(), never undefined
  // behaviour); a NaN becomes zero.
  template <class D>
  D toDuration() const {
    using Rep = typename D::rep;
    const double ticks =
        std::chrono::duration<double, typename D::period>(std::chrono::duration<double>(_seconds))
            .count();
    if (ticks != ticks) return D::zero();
    if constexpr (std::is_floating_point_v<Rep>) {
      return D(static_cast<Rep>(ticks));
    } else {
      // The largest double below 2^63 (or the Rep's limit) converts without overflow.
      constexpr double top = static_cast<double>(std::numeric_limits<Rep>::max());
      constexpr double bottom = static_cast<double>(std::numeric_limits<Rep>::min());
      if (ticks >= top) return D::max();
      if (ticks <= bottom) return D::min();
      return D(static_cast<Rep>(std::llround(ticks)));
    }
  }
  std::chrono::nanoseconds toNanoseconds() const { return toDuration<std::chrono::nanoseconds>(); }

  constexpr auto operator<=>(const TimeInterval&) const = default;
  constexpr TimeInterval operator+(TimeInterval other) const {
    return TimeInterval(_seconds + other._seconds);
  }
  constexpr TimeInterval operator-(TimeInterval other) const {
    return TimeInterval(_seconds - other._seconds);
  }
  constexpr TimeInterval operator*(double factor) const { return TimeInterval(_seconds * factor); }

 private:
  constexpr explicit TimeInterval(double seconds) : _seconds(seconds) {}
  double _seconds = 0;
};

}  // namespace foundation
