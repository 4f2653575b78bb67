#pragma once

#include <condition_variable>
#include <deque>
#include <functional>

#include "dispatch/Queue.h"
#include "foundation/Mutex.h"

namespace dispatch {

// The process's concurrent queue of default priority: blocks run on a small pool of worker
// threads (two to four, by the number of cores), started one by one as work arrives and never
// stopped while the process runs. Blocks start in the order they were queued but may run at the
// same time as each other.
//
// Thread safety: the queue's state is guarded by one mutex; async() may be called from any thread.
// Exit: the queue is never destroyed, and its workers are detached threads that touch only it, so
// exit() from any thread is safe while they are idle. When the process starts to exit, workers stop
// taking blocks; blocks still queued then are kept unrun, blocks queued later are dropped. A block
// that is running when exit() is called keeps running while static objects are destroyed, so
// work that may still be running at exit must not rely on other static state.
class GlobalQueue final : public Queue {
 public:
  static GlobalQueue& shared();

  void async(std::function<void()> block) override;
  // The number of worker threads started so far.
  int workerCount() const;
  int maximumWorkerCount() const { return _maxWorkers; }

 private:
  GlobalQueue();
  static void stopBeforeExit();
  void workerLoop();

  const int _maxWorkers;
  mutable foundation::Mutex _mutex;
  std::condition_variable _workAvailable;
  std::deque<std::function<void()>> _blocks GUARDED_BY(_mutex);
  int _workers GUARDED_BY(_mutex) = 0;
  int _idleWorkers GUARDED_BY(_mutex) = 0;
  bool _exiting GUARDED_BY(_mutex) = false;
};

// The global concurrent queue of default priority.
Queue& globalQueue();

}  // namespace dispatch
