#include "OperationQueue.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "Log.h"

namespace foundation {

struct OperationQueue::State {
  std::mutex mutex;
  // Signalled when work arrives, an operation finishes, the limit changes or the queue stops.
  std::condition_variable changed;
  std::deque<std::function<void()>> pending;
  int maxConcurrent = kDefaultMaxConcurrentOperationCount;
  int workers = 0;
  int idleWorkers = 0;
  int running = 0;
  bool registeredForExit = false;
  bool stopping = false;  // the owning queue is being destroyed
  bool exiting = false;   // the process is exiting

  int limit() const {
    if (maxConcurrent >= 1) return maxConcurrent;
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  }
  bool canStartOne() const { return !pending.empty() && running < limit(); }
};

namespace {

// The queue whose operation the current thread is running, if any.
thread_local const void* t_currentQueueState = nullptr;

constexpr auto kExitWaitBound = std::chrono::seconds(10);

// Every queue that has started a worker. Deliberately leaked: used while the process exits.
struct Registry {
  std::mutex mutex;
  std::vector<std::weak_ptr<OperationQueue::State>> states;
};

Registry& registry() {
  static Registry* s_registry = new Registry();
  return *s_registry;
}

// The running operations other than the caller's own.
int othersRunning(const void* state, int running) {
  return running - (t_currentQueueState == state ? 1 : 0);
}

}  // namespace

OperationQueue::OperationQueue() : _state(std::make_shared<State>()) {}

OperationQueue::~OperationQueue() {
  std::deque<std::function<void()>> discarded;
  {
    std::lock_guard<std::mutex> guard(_state->mutex);
    _state->stopping = true;
    discarded.swap(_state->pending);
    _state->changed.notify_all();
  }
  // Destroyed outside the lock: their captures may do anything.
  discarded.clear();
  std::unique_lock<std::mutex> lock(_state->mutex);
  State* state = _state.get();
  state->changed.wait(
      lock, [state] { return state->exiting || othersRunning(state, state->running) == 0; });
}

void OperationQueue::setMaxConcurrentOperationCount(int count) {
  std::lock_guard<std::mutex> guard(_state->mutex);
  _state->maxConcurrent = count >= 1 ? count : kDefaultMaxConcurrentOperationCount;
  while (_state->idleWorkers < static_cast<int>(_state->pending.size()) &&
         _state->workers < _state->limit()) {
    int before = _state->workers;
    startWorkerLocked();
    if (_state->workers == before) break;
  }
  _state->changed.notify_all();
}

int OperationQueue::maxConcurrentOperationCount() const {
  std::lock_guard<std::mutex> guard(_state->mutex);
  return _state->maxConcurrent;
}

void OperationQueue::addOperation(std::function<void()> operation) {
  if (!operation) return;
  std::unique_lock<std::mutex> lock(_state->mutex);
  if (_state->exiting || _state->stopping) {
    lock.unlock();
    return;  // `operation` is destroyed here, outside the lock
  }
  _state->pending.push_back(std::move(operation));
  if (_state->idleWorkers < static_cast<int>(_state->pending.size()) &&
      _state->workers < _state->limit()) {
    startWorkerLocked();
  }
  _state->changed.notify_all();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
  std::unique_lock<std::mutex> lock(_state->mutex);
  State* state = _state.get();
  state->changed.wait(lock, [state] {
    return (state->pending.empty() || state->exiting) && othersRunning(state, state->running) == 0;
  });
}

int OperationQueue::operationCount() const {
  std::lock_guard<std::mutex> guard(_state->mutex);
  return static_cast<int>(_state->pending.size()) + _state->running;
}

void OperationQueue::startWorkerLocked() {
  if (!_state->registeredForExit) {
    _state->registeredForExit = true;
    Registry& all = registry();
    std::lock_guard<std::mutex> guard(all.mutex);
    std::erase_if(all.states, [](const auto& weak) { return weak.expired(); });
    all.states.push_back(_state);
    // Registered anew for every queue: the latest registration runs first at exit, before the
    // destructors of everything built up to now. Later runs find every queue already stopped.
    std::atexit(&OperationQueue::stopAllForExit);
  }
  ++_state->workers;
  ++_state->idleWorkers;  // counted idle until it takes an operation
  try {
    std::thread(&OperationQueue::workerLoop, _state).detach();
  } catch (const std::system_error& error) {
    --_state->workers;
    --_state->idleWorkers;
    NSLog("OperationQueue: cannot start a worker thread: %s", error.what());
  }
}

void OperationQueue::workerLoop(std::shared_ptr<State> state) {
  t_currentQueueState = state.get();
  std::unique_lock<std::mutex> lock(state->mutex);
  for (;;) {
    state->changed.wait(lock,
                        [&] { return state->exiting || state->stopping || state->canStartOne(); });
    if (state->exiting) {
      // Stay out of the way while the process exits; the state stays alive through `state`.
      state->changed.wait(lock, [] { return false; });
    }
    if (state->stopping) {
      --state->idleWorkers;
      --state->workers;
      return;
    }
    std::function<void()> operation = std::move(state->pending.front());
    state->pending.pop_front();
    --state->idleWorkers;
    ++state->running;
    lock.unlock();
    operation();
    operation = nullptr;  // captures released before the operation counts as finished
    lock.lock();
    --state->running;
    ++state->idleWorkers;
    state->changed.notify_all();
  }
}

void OperationQueue::stopAllForExit() {
  std::vector<std::shared_ptr<State>> live;
  {
    Registry& all = registry();
    std::lock_guard<std::mutex> guard(all.mutex);
    for (const auto& weak : all.states) {
      if (auto state = weak.lock()) live.push_back(std::move(state));
    }
  }
  auto deadline = std::chrono::steady_clock::now() + kExitWaitBound;
  for (const auto& state : live) {
    std::unique_lock<std::mutex> lock(state->mutex);
    state->exiting = true;
    state->changed.notify_all();
    State* raw = state.get();
    if (!state->changed.wait_until(lock, deadline,
                                   [raw] { return othersRunning(raw, raw->running) == 0; })) {
      NSLog("OperationQueue: an operation is still running at exit");
    }
  }
}

}  // namespace foundation
