#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace testing_support {

// A count that other threads raise and a test waits on, with a real-time safety bound.
class Counter {
 public:
  int increment() {
    std::lock_guard<std::mutex> guard(_mutex);
    int value = ++_value;
    _changed.notify_all();
    return value;
  }
  int value() const {
    std::lock_guard<std::mutex> guard(_mutex);
    return _value;
  }
  // True once the count is at least `wanted`; false if `seconds` of real time passed first.
  bool waitFor(int wanted, double seconds = 10) const {
    std::unique_lock<std::mutex> lock(_mutex);
    return _changed.wait_for(lock, std::chrono::duration<double>(seconds),
                             [&] { return _value >= wanted; });
  }

 private:
  mutable std::mutex _mutex;
  mutable std::condition_variable _changed;
  int _value = 0;
};

// A gate that blocks threads until a test opens it.
class Gate {
 public:
  void open() {
    std::lock_guard<std::mutex> guard(_mutex);
    _open = true;
    _changed.notify_all();
  }
  bool waitOpen(double seconds = 10) {
    std::unique_lock<std::mutex> lock(_mutex);
    return _changed.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return _open; });
  }

 private:
  std::mutex _mutex;
  std::condition_variable _changed;
  bool _open = false;
};

// Waits until every other thread of this process sleeps (blocked on a lock, a condition, a
// join or a timed wait) at one moment, for up to `seconds` of real time; false when that never
// happened. Once true, nothing more happens in the process until this thread acts or a timed
// wait ends: a test can then check that something did not happen, however loaded the machine.
bool waitUntilOtherThreadsSleep(double seconds = 30);

}  // namespace testing_support
