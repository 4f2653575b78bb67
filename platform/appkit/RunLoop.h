#pragma once

#include <poll.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <vector>

#include "foundation/FileDescriptor.h"
#include "foundation/TimeInterval.h"

namespace dispatch {
class MainQueue;
}

namespace appkit {

// The main thread's loop. Each pass blocks in poll() until there is work: a block on its main
// queue, the nearest timer deadline, a registered descriptor that is readable, or stop(). An idle
// loop uses no CPU. Timer deadlines are foundation::Clock::current().uptime() values; with a
// ManualClock, runOnce() after advancing the clock fires what has come due.
//
// Thread safety: stop() may be called from any thread (an atomic flag and an eventfd); everything
// else belongs to the thread that runs the loop. Blocks reach the loop from other threads through
// its dispatch::MainQueue.
class RunLoop {
 public:
  using SourceId = std::uint64_t;  // never 0

  // A source whose descriptors change from pass to pass (another library's event loop joined to
  // this one). Every pass calls prepare, which appends what to poll and answers the longest wait
  // it allows, then after the wait (elapsed or not) dispatch, with those entries and their results.
  class PollSource {
   public:
    virtual ~PollSource() = default;
    virtual foundation::TimeInterval prepare(std::vector<pollfd>& fds) = 0;
    virtual void dispatch(const pollfd* fds, std::size_t count) = 0;
  };

  // A loop serving `queue`, which must outlive it.
  explicit RunLoop(dispatch::MainQueue& queue);
  ~RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // The loop of the process's main thread, serving dispatch::mainQueue(). Never destroyed.
  static RunLoop& main();

  dispatch::MainQueue& queue() const { return _queue; }

  // Calls `onReadable` on the loop's thread whenever `fd` polls readable (or hung up, or in
  // error) until removed. The fd stays the caller's; remove it before closing it. An fd that
  // turns out to be invalid is removed and logged.
  SourceId addDescriptor(int fd, std::function<void()> onReadable);
  void removeDescriptor(SourceId id);

  // Calls `beforeWaiting` at the start of every pass, before the loop works out how long it may
  // sleep, until removed: a source that buffers input of its own (a window-system connection
  // reads events ahead into memory) hands it out there, so nothing read is left waiting while
  // the loop sleeps. Blocks it queues make that pass wait no longer.
  SourceId addBeforeWaiting(std::function<void()> beforeWaiting);
  void removeBeforeWaiting(SourceId id);

  // Joins `source` (not owned; it must stay alive until removed) to every pass.
  SourceId addPollSource(PollSource& source);
  void removePollSource(SourceId id);

  // Calls `fire` once `delay` from now and then, if `interval` is positive, on the grid of that
  // interval; deadlines missed while the loop was busy collapse into one call.
  SourceId addTimer(foundation::TimeInterval delay, foundation::TimeInterval interval,
                    std::function<void()> fire);
  void cancelTimer(SourceId id);  // harmless for an id already gone, from the timer's own call too

  // Runs passes until stop(). A stop() made while no run() was active makes the next run()
  // return at once.
  void run();
  // One pass: waits up to `maxWait` for work (zero, the default, does not wait; infinite() waits
  // for work however long), then runs the queued blocks in order, the timers that are due and the
  // callbacks of readable descriptors. True if any ran.
  bool runOnce(foundation::TimeInterval maxWait = foundation::TimeInterval());
  // Makes run() return after its current pass.
  void stop();

 private:
  struct Timer {
    double start;
    double interval;
    std::int64_t nextIndex;
    double deadline;
    std::shared_ptr<std::function<void()>> fire;
  };
  struct Descriptor {
    int fd;
    std::shared_ptr<std::function<void()>> onReadable;
  };

  bool fireDueTimers();

  dispatch::MainQueue& _queue;
  foundation::FileDescriptor _wakeFd;
  std::atomic<bool> _stopRequested{false};
  SourceId _nextId = 1;
  std::map<SourceId, Timer> _timers;
  std::map<SourceId, Descriptor> _descriptors;
  std::map<SourceId, std::shared_ptr<std::function<void()>>> _beforeWaiting;
  std::map<SourceId, PollSource*> _pollSources;
};

}  // namespace appkit
