#include "dispatch/TimerScheduler.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <system_error>

#include "dispatch/Queue.h"
#include "dispatch/Time.h"
#include "foundation/Clock.h"
#include "foundation/Log.h"

namespace dispatch {

TimerScheduler& TimerScheduler::shared() {
  // Deliberately leaked: its thread and queued ticks may use it while the process exits.
  static TimerScheduler* s_scheduler = new TimerScheduler();
  return *s_scheduler;
}

TimerScheduler::TimerScheduler() {
  // Registered after the clock's statics were built, so it runs before they are destroyed.
  (void)foundation::Clock::current();
  std::atexit(&TimerScheduler::stopBeforeExit);
}

void TimerScheduler::stopBeforeExit() {
  TimerScheduler& scheduler = shared();
  foundation::MutexLock lock(scheduler._mutex);
  scheduler._exiting = true;
  if (!scheduler._threadRunning) return;
  scheduler.wake();
  while (scheduler._threadRunning) lock.wait(scheduler._stateChanged);
}

void TimerScheduler::scheduleLocked(const std::shared_ptr<TimerState>& timer) {
  if (!timer->registered) {
    _timers.push_back(timer);
    timer->registered = true;
  }
  ensureThreadLocked();
}

void TimerScheduler::wake() {
  _wakeup.notify_all();
  foundation::Clock::current().notifyWaiters();
}

void TimerScheduler::waitForPassLocked(foundation::MutexLock& lock) {
  if (!_threadRunning) return;
  std::uint64_t wanted = ++_passesRequested;
  wake();
  while (_passesSeen < wanted && _threadRunning) lock.wait(_stateChanged);
}

void TimerScheduler::ensureThreadLocked() {
  if (_threadRunning || _exiting) return;
  try {
    std::thread([this] { threadMain(); }).detach();
    _threadRunning = true;
  } catch (const std::system_error& error) {
    foundation::NSLog("dispatch: cannot start the timer thread: %s", error.what());
  }
}

void TimerScheduler::threadMain() {
  foundation::MutexLock lock(_mutex);
  std::vector<std::shared_ptr<TimerState>> due;
  std::vector<std::shared_ptr<TimerState>> released;
  // A pass is acknowledged only just before the thread waits, with the lock held since it looked
  // at the timers: a cancel() that waited for the pass returns while the thread is parked. With
  // no timer armed it parks on its own condition variable and does not touch the clock at all, so
  // a test may uninstall its ManualClock once its timers are cancelled.
  auto armed = [](const std::shared_ptr<TimerState>& timer) { return timer->armed(); };
  while (!_exiting) {
    for (auto it = _timers.begin(); it != _timers.end();) {
      if (!(*it)->armed() && (*it)->phase == TimerState::Phase::Idle) {
        (*it)->registered = false;
        released.push_back(std::move(*it));
        it = _timers.erase(it);
      } else {
        ++it;
      }
    }
    if (!released.empty()) {
      // Dropped outside the lock: this may be the last reference to a state.
      lock.unlock();
      released.clear();
      lock.lock();
      continue;
    }
    if (std::none_of(_timers.begin(), _timers.end(), armed)) {
      acknowledgePassesLocked();
      lock.wait(_wakeup);
      continue;
    }

    foundation::Clock& clock = foundation::Clock::current();
    const double now = clock.uptime();
    double earliest = std::numeric_limits<double>::infinity();
    for (const auto& timer : _timers) {
      if (!timer->armed()) continue;
      if (timer->nextDeadline > now) {
        // A tick still queued or running by then wakes the thread when it ends (runTick).
        earliest = std::min(earliest, timer->nextDeadline);
      } else if (timer->phase == TimerState::Phase::Idle) {
        fireLocked(timer, now);
        due.push_back(timer);
      }
    }
    if (!due.empty()) {
      lock.unlock();
      for (auto& timer : due) timer->queue.async([timer] { runTick(timer); });
      due.clear();
      lock.lock();
      continue;
    }
    acknowledgePassesLocked();
    clock.waitUntil(lock, earliest);
  }
  _threadRunning = false;
  _stateChanged.notify_all();
}

void TimerScheduler::acknowledgePassesLocked() {
  if (_passesSeen != _passesRequested) {
    _passesSeen = _passesRequested;
    _stateChanged.notify_all();
  }
}

void TimerScheduler::fireLocked(const std::shared_ptr<TimerState>& timer, double now) {
  timer->phase = TimerState::Phase::Queued;
  if (timer->interval > 0) {
    // Missed grid points collapse into the tick queued here.
    timer->nextIndex = nextGridIndex(timer->start, timer->interval, timer->nextIndex, now);
    timer->nextDeadline = timer->start + static_cast<double>(timer->nextIndex) * timer->interval;
  } else {
    timer->finished = true;
  }
  _stateChanged.notify_all();
}

void TimerScheduler::runTick(const std::shared_ptr<TimerState>& timer) {
  TimerScheduler& scheduler = shared();
  std::shared_ptr<const std::function<void()>> handler;
  {
    foundation::MutexLock guard(scheduler._mutex);
    if (timer->cancelled) {
      timer->phase = TimerState::Phase::Idle;
    } else {
      timer->phase = TimerState::Phase::Running;
      timer->runningThread = std::this_thread::get_id();
      handler = timer->handler;
    }
  }
  if (handler && *handler) (*handler)();
  // Released before the tick counts as finished, so that a cancel() that waited for it returns
  // with the handler's captures gone.
  handler.reset();
  foundation::MutexLock guard(scheduler._mutex);
  timer->phase = TimerState::Phase::Idle;
  timer->runningThread = std::thread::id();
  scheduler._stateChanged.notify_all();
  // The thread already waits for the next deadline of a timer still armed, unless that deadline
  // passed during the tick; a timer no longer armed is to be let go of.
  if (!timer->armed() || timer->nextDeadline <= foundation::Clock::current().uptime()) {
    scheduler.wake();
  }
}

}  // namespace dispatch
