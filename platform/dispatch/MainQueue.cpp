#include "dispatch/MainQueue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "foundation/Log.h"

namespace dispatch {

MainQueue::MainQueue() : _eventFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!_eventFd) foundation::NSLog("dispatch: no eventfd for the main queue: %s", strerror(errno));
}

MainQueue::~MainQueue() = default;

MainQueue& MainQueue::shared() {
  // Deliberately leaked: other threads may post to it while the process exits.
  static MainQueue* s_queue = new MainQueue();
  return *s_queue;
}

MainQueue& mainQueue() { return MainQueue::shared(); }

void MainQueue::async(std::function<void()> block) {
  if (!block) return;
  foundation::MutexLock guard(_mutex);
  bool wasEmpty = _blocks.empty();
  _blocks.push_back(std::move(block));
  // One signal per empty-to-non-empty change: runPending() clears the signal and takes the whole
  // FIFO under the same lock, so a block queued after that finds the FIFO empty and signals again.
  if (wasEmpty && _eventFd) {
    std::uint64_t one = 1;
    while (write(_eventFd.get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
  }
}

std::size_t MainQueue::runPending() {
  std::deque<std::function<void()>> batch;
  {
    foundation::MutexLock guard(_mutex);
    if (_eventFd) {
      std::uint64_t count;
      while (read(_eventFd.get(), &count, sizeof count) < 0 && errno == EINTR) {
      }
    }
    batch.swap(_blocks);
  }
  std::size_t ran = 0;
  for (auto& block : batch) {
    block();
    block = nullptr;
    ++ran;
  }
  return ran;
}

std::size_t MainQueue::pendingCount() const {
  foundation::MutexLock guard(_mutex);
  return _blocks.size();
}

}  // namespace dispatch
