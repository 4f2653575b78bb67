#include "OperationQueue.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <system_error>
#include <thread>
#include <vector>

#include "Log.h"
#include "Mutex.h"

namespace foundation {

struct OperationQueue::State {
  Mutex mutex;
  // Signalled when work arrives, an operation finishes, the limit changes or the queue stops.
  std::condition_variable changed;
  std::deque<std::function<void()>> pending GUARDED_BY(mutex);
  int maxConcurrent GUARDED_BY(mutex) = kDefaultMaxConcurrentOperationCount;
  int workers GUARDED_BY(mutex) = 0;
  int idleWorkers GUARDED_BY(mutex) = 0;
  int running GUARDED_BY(mutex) = 0;
  bool registeredForExit GUARDED_BY(mutex) = false;
  bool stopping GUARDED_BY(mutex) = false;  // the owning queue is being destroyed
  bool exiting GUARDED_BY(mutex) = false;   // the process is exiting

  int limit() const REQUIRES(mutex) {
    if (maxConcurrent >= 1) return maxConcurrent;
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  }
  bool canStartOne() const REQUIRES(mutex) { return !pending.empty() && running < limit(); }
};

namespace {

// The queue whose operation the current thread is running, if any.
thread_local const void* t_currentQueueState = nullptr;

constexpr auto kExitWaitBound = std::chrono::seconds(10);

// Every queue that has started a worker. Deliberately leaked: used while the process exits.
struct Registry {
  Mutex mutex;
  std::vector<std::weak_ptr<OperationQueue::State>> states GUARDED_BY(mutex);
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
    MutexLock guard(_state->mutex);
    _state->stopping = true;
    discarded.swap(_state->pending);
    _state->changed.notify_all();
  }
  // Destroyed outside the lock: their captures may do anything.
  discarded.clear();
  State* state = _state.get();
  MutexLock lock(state->mutex);
  while (!state->exiting && othersRunning(state, state->running) != 0) lock.wait(state->changed);
}

void OperationQueue::setMaxConcurrentOperationCount(int count) {
  MutexLock guard(_state->mutex);
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
  MutexLock guard(_state->mutex);
  return _state->maxConcurrent;
}

void OperationQueue::addOperation(std::function<void()> operation) {
  if (!operation) return;
  MutexLock lock(_state->mutex);
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
  State* state = _state.get();
  MutexLock lock(state->mutex);
  while (
      !((state->pending.empty() || state->exiting) && othersRunning(state, state->running) == 0)) {
    lock.wait(state->changed);
  }
}

int OperationQueue::operationCount() const {
  MutexLock guard(_state->mutex);
  return static_cast<int>(_state->pending.size()) + _state->running;
}

void OperationQueue::startWorkerLocked() REQUIRES(_state->mutex) {
  if (!_state->registeredForExit) {
    _state->registeredForExit = true;
    Registry& all = registry();
    MutexLock guard(all.mutex);
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
  MutexLock lock(state->mutex);
  for (;;) {
    while (!(state->exiting || state->stopping || state->canStartOne())) lock.wait(state->changed);
    // While the process exits, stay out of the way; the state stays alive through `state`.
    while (state->exiting) lock.wait(state->changed);
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
    MutexLock guard(all.mutex);
    for (const auto& weak : all.states) {
      if (auto state = weak.lock()) live.push_back(std::move(state));
    }
  }
  auto deadline = std::chrono::steady_clock::now() + kExitWaitBound;
  for (const auto& state : live) {
    State* raw = state.get();
    MutexLock lock(raw->mutex);
    raw->exiting = true;
    raw->changed.notify_all();
    while (othersRunning(raw, raw->running) != 0 && lock.waitUntil(raw->changed, deadline)) {
    }
    if (othersRunning(raw, raw->running) != 0) {
      NSLog("OperationQueue: an operation is still running at exit");
    }
  }
}

}  // namespace foundation
