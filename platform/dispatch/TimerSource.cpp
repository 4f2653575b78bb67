#include "dispatch/TimerSource.h"

#include <chrono>

#include "dispatch/TimerScheduler.h"
#include "foundation/Clock.h"

namespace dispatch {

std::shared_ptr<TimerSource> TimerSource::create(Queue& queue) {
  return std::shared_ptr<TimerSource>(new TimerSource(queue));
}

TimerSource::TimerSource(Queue& queue) : _state(std::make_shared<TimerState>(queue)) {}

TimerSource::~TimerSource() { cancel(); }

void TimerSource::setTimer(Time start, std::int64_t intervalNanoseconds,
                           std::int64_t leewayNanoseconds) {
  (void)leewayNanoseconds;
  TimerScheduler& scheduler = TimerScheduler::shared();
  {
    foundation::MutexLock guard(scheduler.mutex());
    TimerState& state = *_state;
    if (state.cancelled) return;
    state.timerSet = true;
    state.finished = false;
    state.start = start.uptime;
    state.interval = intervalNanoseconds > 0
                         ? static_cast<double>(intervalNanoseconds) / kNanosecondsPerSecond
                         : 0;
    state.nextIndex = 0;
    state.nextDeadline = state.start;
    if (state.armed()) scheduler.scheduleLocked(_state);
    scheduler.wake();
  }
}

void TimerSource::setEventHandler(std::function<void()> handler) {
  TimerScheduler& scheduler = TimerScheduler::shared();
  auto replacement = std::make_shared<const std::function<void()>>(std::move(handler));
  {
    foundation::MutexLock guard(scheduler.mutex());
    if (!_state->cancelled) _state->handler.swap(replacement);
  }
  // The previous handler (or the refused one) is released here, outside the lock.
}

void TimerSource::resume() {
  TimerScheduler& scheduler = TimerScheduler::shared();
  {
    foundation::MutexLock guard(scheduler.mutex());
    TimerState& state = *_state;
    if (state.cancelled || state.resumed) return;
    state.resumed = true;
    if (state.armed()) scheduler.scheduleLocked(_state);
    scheduler.wake();
  }
}

void TimerSource::cancel() {
  TimerScheduler& scheduler = TimerScheduler::shared();
  std::shared_ptr<const std::function<void()>> released;
  foundation::MutexLock lock(scheduler.mutex());
  TimerState& state = *_state;
  state.cancelled = true;
  released = std::move(state.handler);
  scheduler.stateChanged().notify_all();
  const bool inOwnHandler = state.phase == TimerState::Phase::Running &&
                            state.runningThread == std::this_thread::get_id();
  scheduler.wake();
  if (!inOwnHandler) {
    while (state.phase == TimerState::Phase::Running) lock.wait(scheduler.stateChanged());
    scheduler.waitForPassLocked(lock);
  }
  lock.unlock();
  released.reset();
}

bool TimerSource::isCancelled() const {
  foundation::MutexLock guard(TimerScheduler::shared().mutex());
  return _state->cancelled;
}

bool TimerSource::waitUntilQuietForTesting(foundation::TimeInterval realBound) const {
  TimerScheduler& scheduler = TimerScheduler::shared();
  foundation::MutexLock lock(scheduler.mutex());
  const TimerState& state = *_state;
  auto quiet = [&] {
    return state.phase == TimerState::Phase::Idle &&
           !(state.armed() && state.nextDeadline <= foundation::Clock::current().uptime());
  };
  if (!realBound.isFinite()) {
    while (!quiet()) lock.wait(scheduler.stateChanged());
    return true;
  }
  const auto deadline = std::chrono::steady_clock::now() + realBound.toNanoseconds();
  while (!quiet()) {
    if (!lock.waitUntil(scheduler.stateChanged(), deadline)) return quiet();
  }
  return true;
}

}  // namespace dispatch
