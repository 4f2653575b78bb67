#include "dispatch/GlobalQueue.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "foundation/Log.h"

namespace dispatch {

GlobalQueue& GlobalQueue::shared() {
  // Deliberately leaked: workers may still use it while the process exits.
  static GlobalQueue* s_queue = new GlobalQueue();
  return *s_queue;
}

Queue& globalQueue() { return GlobalQueue::shared(); }

GlobalQueue::GlobalQueue()
    : _maxWorkers(std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 2, 4)) {
  std::atexit(&GlobalQueue::stopBeforeExit);
}

void GlobalQueue::stopBeforeExit() {
  // Blocks left in the queue are kept, never run: destroying them would run their captures'
  // destructors while the process exits.
  GlobalQueue& queue = shared();
  {
    foundation::MutexLock guard(queue._mutex);
    queue._exiting = true;
  }
  queue._workAvailable.notify_all();
}

void GlobalQueue::async(std::function<void()> block) {
  if (!block) return;
  bool startWorker = false;
  {
    foundation::MutexLock guard(_mutex);
    if (_exiting) return;
    _blocks.push_back(std::move(block));
    // Workers already woken but not yet running count as idle until they take a block.
    if (_idleWorkers < static_cast<int>(_blocks.size()) && _workers < _maxWorkers) {
      ++_workers;
      startWorker = true;
    }
  }
  // Notified after the lock is released, so that the worker woken does not block on it at once.
  if (!startWorker) {
    _workAvailable.notify_one();
    return;
  }
  try {
    std::thread([this] { workerLoop(); }).detach();
  } catch (const std::system_error& error) {
    bool none;
    {
      foundation::MutexLock guard(_mutex);
      --_workers;
      none = _workers == 0;
    }
    foundation::NSLog("dispatch: cannot start a worker thread: %s", error.what());
    if (none) foundation::NSLog("dispatch: no worker thread; queued blocks wait for one");
  }
}

int GlobalQueue::workerCount() const {
  foundation::MutexLock guard(_mutex);
  return _workers;
}

void GlobalQueue::workerLoop() {
  foundation::MutexLock lock(_mutex);
  for (;;) {
    ++_idleWorkers;
    while (!_exiting && _blocks.empty()) lock.wait(_workAvailable);
    --_idleWorkers;
    if (_exiting) return;
    std::function<void()> block = std::move(_blocks.front());
    _blocks.pop_front();
    lock.unlock();
    block();
    block = nullptr;  // the block's captures are released before the worker waits again
    lock.lock();
  }
}

}  // namespace dispatch
