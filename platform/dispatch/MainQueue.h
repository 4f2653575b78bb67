#pragma once

#include <cstddef>
#include <deque>
#include <functional>

#include "dispatch/Queue.h"
#include "foundation/FileDescriptor.h"
#include "foundation/Mutex.h"

namespace dispatch {

// The main thread's queue: a FIFO of blocks and an eventfd that is readable while blocks wait.
// Whoever runs the main thread's loop polls wakeupDescriptor() and calls runPending(); this
// library knows nothing of that loop. Blocks run one at a time, in the order they were queued,
// whichever threads queued them.
//
// Thread safety: the FIFO is guarded by a mutex; async() may be called from any thread,
// runPending() from the one thread that serves the queue. The shared queue is never destroyed,
// so posting to it stays safe while the process exits.
class MainQueue final : public Queue {
 public:
  MainQueue();
  ~MainQueue() override;
  MainQueue(const MainQueue&) = delete;
  MainQueue& operator=(const MainQueue&) = delete;

  // The queue served by the process's main run loop.
  static MainQueue& shared();

  void async(std::function<void()> block) override;

  // Readable (POLLIN) while blocks are waiting; -1 if no eventfd could be made, in which case
  // blocks run only when the loop wakes for another reason.
  int wakeupDescriptor() const { return _eventFd.get(); }

  // Runs, on the calling thread, the blocks that were queued when the call began, in order; blocks
  // they queue wait for the next call. Returns how many ran. Not re-entrant: a block must not call
  // it.
  std::size_t runPending();
  std::size_t pendingCount() const;

 private:
  foundation::FileDescriptor _eventFd;
  mutable foundation::Mutex _mutex;
  std::deque<std::function<void()>> _blocks GUARDED_BY(_mutex);
};

// The main dispatch queue: MainQueue::shared().
MainQueue& mainQueue();

}  // namespace dispatch
