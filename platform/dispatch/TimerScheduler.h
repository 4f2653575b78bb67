#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "foundation/Mutex.h"

namespace dispatch {

class Queue;

// One timer's state, shared by its TimerSource, the scheduler and queued ticks.
// Every field but `queue` is guarded by TimerScheduler::shared().mutex().
struct TimerState {
  enum class Phase { Idle, Queued, Running };

  explicit TimerState(Queue& target) : queue(target) {}

  Queue& queue;
  std::shared_ptr<const std::function<void()>> handler;
  bool timerSet = false;
  bool resumed = false;
  bool cancelled = false;
  bool finished = false;  // a one-shot timer that has fired
  bool registered = false;
  double start = 0;
  double interval = 0;  // seconds; 0 fires once
  std::int64_t nextIndex = 0;
  double nextDeadline = 0;
  Phase phase = Phase::Idle;
  std::thread::id runningThread;

  bool armed() const { return timerSet && resumed && !cancelled && !finished; }
};

// The process's one timer thread: waits on foundation::Clock for the nearest deadline of every
// armed timer and queues each due tick on its timer's queue. Internal to TimerSource.
//
// Thread safety: one mutex guards the scheduler and every TimerState. Exit: the scheduler is never
// destroyed; an exit hook makes its thread stop waiting on the clock (whose statics exit destroys)
// and end, and waits until it has, before static destruction begins.
class TimerScheduler {
 public:
  static TimerScheduler& shared();

  foundation::Mutex& mutex() RETURN_CAPABILITY(_mutex) { return _mutex; }
  std::condition_variable& stateChanged() { return _stateChanged; }

  // Called with the mutex held after `timer` became armed or was rescheduled.
  void scheduleLocked(const std::shared_ptr<TimerState>& timer) REQUIRES(_mutex);
  // Wakes the thread to look at the timers again. Called with the mutex held, after the change:
  // whoever waits for that change to take effect then cannot return (and, in a test, uninstall
  // the clock) before the wake-up has been delivered.
  void wake() REQUIRES(_mutex);
  // Called with the mutex held: blocks until the thread has looked at every change made before the
  // call (returns at once if the thread is not running).
  void waitForPassLocked(foundation::MutexLock& lock) REQUIRES(_mutex);

 private:
  TimerScheduler();
  static void stopBeforeExit();
  void ensureThreadLocked() REQUIRES(_mutex);
  // Tells waiters for a pass that the thread has looked at every change so far.
  void acknowledgePassesLocked() REQUIRES(_mutex);
  void threadMain();
  void fireLocked(const std::shared_ptr<TimerState>& timer, double now) REQUIRES(_mutex);
  static void runTick(const std::shared_ptr<TimerState>& timer);

  foundation::Mutex _mutex;
  std::condition_variable _wakeup;        // the thread waits here while no timer is armed
  std::condition_variable _stateChanged;  // ticks, passes and exits are announced here
  std::vector<std::shared_ptr<TimerState>> _timers GUARDED_BY(_mutex);
  bool _threadRunning GUARDED_BY(_mutex) = false;
  bool _exiting GUARDED_BY(_mutex) = false;
  std::uint64_t _passesRequested GUARDED_BY(_mutex) = 0;
  std::uint64_t _passesSeen GUARDED_BY(_mutex) = 0;
};

}  // namespace dispatch
