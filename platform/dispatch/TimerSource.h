#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "dispatch/Time.h"
#include "foundation/TimeInterval.h"

namespace dispatch {

class Queue;
struct TimerState;

// A periodic timer that runs its event handler on a queue. Created suspended; fires only once both
// setTimer() and resume() have been called. Deadlines are measured with
// foundation::Clock::current().uptime() and waited for through Clock::waitUntil, so a test's
// ManualClock drives it.
//
// Ticks never overlap: a tick is started only when the previous one has returned. Deadlines lie on
// the grid start + k * interval; if a tick runs past one or more of them, exactly one tick follows
// as soon as it returns and the next after that waits for the next grid point (no burst).
//
// Thread safety: every operation may be called from any thread, the handler included; the state
// is guarded by the process's one timer-scheduler mutex. Deadlines are waited for by one shared
// scheduler thread; the handler runs on the queue, never on that thread.
class TimerSource {
 public:
  // A suspended timer whose handler will run on `queue`, which must outlive it (the global and
  // main queues always do).
  static std::shared_ptr<TimerSource> create(Queue& queue);
  // Cancels the timer (see cancel()).
  ~TimerSource();
  TimerSource(const TimerSource&) = delete;
  TimerSource& operator=(const TimerSource&) = delete;

  // First firing at `start` (at once when that is now or past), then every intervalNanoseconds;
  // an interval <= 0 fires once. Replaces any earlier schedule. Leeway is accepted for the
  // familiar signature and ignored: ticks are never deferred on purpose.
  void setTimer(Time start, std::int64_t intervalNanoseconds, std::int64_t leewayNanoseconds);
  // The handler for the next ticks; a tick already running keeps the handler it started with.
  void setEventHandler(std::function<void()> handler);
  // Starts delivering ticks. A second call does nothing; so does a call after cancel().
  void resume();

  // Stops the timer for good and releases the handler (and what it captured).
  // From any thread other than a running tick's: when cancel() returns, no tick of this timer is
  // running or will start (a tick already queued but not started is skipped, not waited for),
  // the handler has been released, and the scheduler thread has taken the cancellation in and is
  // parked; with no other timer armed it then waits without touching the clock, so a test may
  // uninstall its ManualClock. If a tick is running, cancel() waits for it to return, so a handler
  // must never wait for a thread that may be cancelling its timer.
  // From inside its own handler: returns at once; the running tick continues to its end and no
  // other tick starts. Further calls do the same again and are otherwise harmless.
  void cancel();
  bool isCancelled() const;

  // For tests: waits (up to `realBound` of real time; infinite() for no bound) until no tick is
  // queued or running and none is due at the current clock's uptime, so that nothing more happens
  // until the clock advances. False if the bound passed first.
  bool waitUntilQuietForTesting(
      foundation::TimeInterval realBound = foundation::TimeInterval::seconds(10)) const;

 private:
  explicit TimerSource(Queue& queue);
  std::shared_ptr<TimerState> _state;
};

}  // namespace dispatch
