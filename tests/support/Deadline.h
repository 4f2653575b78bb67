#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

namespace testing_support {

// A moment some seconds of real (steady) time ahead, bounding a test's wait for another process.
class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  explicit Deadline(double seconds)
      : _at(Clock::now() +
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds))) {}

  // poll()'s timeout until the deadline, rounded up: 0 once it has passed.
  int millisecondsLeft() const {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(_at - Clock::now()).count();
    return left > 0 ? static_cast<int>(std::min<long long>(left, 1 << 30)) : 0;
  }
  bool passed() const { return Clock::now() >= _at; }

 private:
  Clock::time_point _at;
};

// Whether `holds()` becomes true within `seconds` of real time, asked every 20 ms.
inline bool eventually(const std::function<bool()>& holds, double seconds) {
  Deadline deadline(seconds);
  while (!holds()) {
    if (deadline.passed()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace testing_support
