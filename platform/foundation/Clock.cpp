#include "Clock.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace foundation {
namespace {

SystemClock s_systemClock;
std::atomic<Clock*> s_current{&s_systemClock};

}  // namespace

Date Date::now() { return Clock::current().now(); }

Clock& Clock::current() { return *s_current.load(std::memory_order_acquire); }

void Clock::setCurrent(Clock* clock) {
  Clock* previous = s_current.exchange(clock ? clock : &s_systemClock, std::memory_order_acq_rel);
  // Waiters blocked on the previous clock re-check against the new one.
  previous->notifyWaiters();
}

void Clock::waitUntil(MutexLock& lock, double deadline) {
  // Take the clock's mutex before releasing the caller's: a notify issued by a thread that changed
  // the caller's state (under the caller's lock) cannot slip in between and be lost.
  std::unique_lock<std::mutex> waitLock(_waitMutex);
  if (uptime() >= deadline) return;
  lock.unlock();
  block(_waitCondition, waitLock, deadline);
  waitLock.unlock();
  lock.lock();
}

void Clock::notifyWaiters() {
  std::lock_guard<std::mutex> guard(_waitMutex);
  _waitCondition.notify_all();
}

Date SystemClock::now() const {
  using namespace std::chrono;
  auto since = system_clock::now().time_since_epoch();
  return Date{duration_cast<duration<double>>(since).count()};
}

double SystemClock::uptime() const {
  using namespace std::chrono;
  return duration_cast<duration<double>>(steady_clock::now().time_since_epoch()).count();
}

void SystemClock::sleep(TimeInterval interval) {
  if (interval.isPositive()) std::this_thread::sleep_for(interval.toNanoseconds());
}

void SystemClock::block(std::condition_variable_any& cv, std::unique_lock<std::mutex>& waitLock,
                        double deadline) {
  double remaining = deadline - uptime();
  if (!std::isfinite(remaining)) {
    cv.wait(waitLock);
  } else if (remaining > 0) {
    cv.wait_for(waitLock, std::chrono::duration<double>(remaining));
  }
}

ManualClock::ManualClock(Date start) : _wall(start.timeIntervalSince1970) {}

Date ManualClock::now() const { return Date{_wall.load()}; }

double ManualClock::uptime() const { return _uptime.load(); }

void ManualClock::advance(double seconds) {
  if (seconds > 0) {
    {
      std::lock_guard<std::mutex> guard(_waitMutex);
      _wall.store(_wall.load() + seconds);
      _uptime.store(_uptime.load() + seconds);
    }
    notifyWaiters();
  }
}

void ManualClock::sleep(TimeInterval interval) {
  if (!interval.isPositive()) return;
  const double seconds = interval.inSeconds();
  {
    std::lock_guard<std::mutex> guard(_waitMutex);
    _slept.store(_slept.load() + seconds);
  }
  advance(seconds);
  if (_sleepObserver) _sleepObserver(seconds);
}

void ManualClock::setNow(Date date) {
  {
    std::lock_guard<std::mutex> guard(_waitMutex);
    _wall.store(date.timeIntervalSince1970);
  }
  notifyWaiters();
}

void ManualClock::block(std::condition_variable_any& cv, std::unique_lock<std::mutex>& waitLock,
                        double deadline) {
  (void)deadline;  // only advance() moves this clock, and it notifies
  cv.wait(waitLock);
}

}  // namespace foundation
