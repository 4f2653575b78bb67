#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "Date.h"
#include "Mutex.h"
#include "TimeInterval.h"

namespace foundation {

// The one source of "now" and "sleep" for the process. The system clock is the default; unit tests
// install a ManualClock so that waits and time windows run at once and deterministically.
// All operations are thread-safe.
class Clock {
 public:
  virtual ~Clock() = default;

  virtual Date now() const = 0;
  // Monotonic seconds from an arbitrary origin, for deadlines and intervals.
  virtual double uptime() const = 0;
  // Blocks the calling thread for `interval`; zero, negative and NaN intervals return at once.
  virtual void sleep(TimeInterval interval) = 0;

  // Called with `lock` held. Releases it and blocks until uptime() reaches `deadline` or
  // notifyWaiters() is called, then re-acquires it. May return early: callers re-check their state.
  // Code that changes what a waiter waits for calls notifyWaiters() afterwards.
  // (It hands the caller's mutex over to the clock's and back, which the analysis cannot follow.)
  void waitUntil(MutexLock& lock, double deadline) NO_THREAD_SAFETY_ANALYSIS;
  void notifyWaiters();

  // The clock in use. Never null; the system clock unless a test installed another.
  static Clock& current();
  // Installs `clock` (not owned; must outlive its use) or, with nullptr, the system clock again.
  static void setCurrent(Clock* clock);

 protected:
  // Blocks on `cv` with `waitLock` (the clock's own mutex) held until the deadline or a notify.
  virtual void block(std::condition_variable_any& cv, std::unique_lock<std::mutex>& waitLock,
                     double deadline) = 0;
  // Guards no data (the times are atomic): held around notifications, so that none is lost
  // between a waiter's check and its wait.
  std::mutex _waitMutex;
  std::condition_variable_any _waitCondition;
};

// Real time: the system's wall clock and its monotonic clock.
class SystemClock final : public Clock {
 public:
  Date now() const override;
  double uptime() const override;
  void sleep(TimeInterval interval) override;

 protected:
  void block(std::condition_variable_any& cv, std::unique_lock<std::mutex>& waitLock,
             double deadline) override;
};

// Time that moves only when told to. sleep() advances it at once; advancing wakes every waiter.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(Date start = Date{1'800'000'000.0});

  Date now() const override;
  double uptime() const override;
  // Advances time by `interval` at once (an infinite interval is not allowed).
  void sleep(TimeInterval interval) override;

  void advance(double seconds);
  void setNow(Date date);
  // Total seconds slept through this clock (sleep only, not advance); lets tests check how long
  // code waited.
  double slept() const { return _slept.load(); }
  // Called on the sleeping thread at the end of every sleep, after time has moved, so that a test
  // can change the world while the code under test waits. Set it before the code runs.
  void setSleepObserver(std::function<void(double seconds)> observer) {
    _sleepObserver = std::move(observer);
  }

 protected:
  void block(std::condition_variable_any& cv, std::unique_lock<std::mutex>& waitLock,
             double deadline) override;

 private:
  std::atomic<double> _wall;
  std::atomic<double> _uptime{0};
  std::atomic<double> _slept{0};
  std::function<void(double)> _sleepObserver;
};

// Installs a clock for the lifetime of the guard.
class ScopedClock {
 public:
  explicit ScopedClock(Clock& clock) { Clock::setCurrent(&clock); }
  ~ScopedClock() { Clock::setCurrent(nullptr); }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;
};

}  // namespace foundation
