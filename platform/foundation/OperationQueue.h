#pragma once

#include <functional>
#include <memory>

namespace foundation {

// Runs operations on worker threads of its own, at most maxConcurrentOperationCount() at a time,
// starting them in the order they were added; with a maximum of 1 each operation starts only after
// the one before it has returned. Operations must not throw.
//
// Thread safety: every member may be called from any thread. The queue's state lives in a block
// shared with its workers and guarded by one mutex, so a worker never outlives what it touches.
// Destruction discards the operations not yet started and waits for the running ones.
// Process exit: when the process starts to exit, every queue stops starting operations; those still
// queued are kept unrun (a queue destroyed later in the exit discards them then), and exit waits
// (up to 10 seconds) for the running ones; the workers then stay blocked until the process is gone.
// That hook is registered when a queue starts its first worker, so it runs before the destructors
// of the static objects built before then: an operation that may run at exit must not rely on
// static objects built later.
class OperationQueue {
 public:
  // Lets the queue choose: one operation per processor core.
  static constexpr int kDefaultMaxConcurrentOperationCount = -1;

  OperationQueue();
  ~OperationQueue();
  OperationQueue(const OperationQueue&) = delete;
  OperationQueue& operator=(const OperationQueue&) = delete;

  // A count below 1 means kDefaultMaxConcurrentOperationCount. Raising it starts waiting
  // operations at once; lowering it lets running ones finish.
  void setMaxConcurrentOperationCount(int count);
  int maxConcurrentOperationCount() const;

  // Queues `operation` (an empty one is ignored); returns at once. Dropped once the process exits.
  void addOperation(std::function<void()> operation);
  // Blocks until no operation is queued or running. Must not be called from one of this queue's
  // own operations (it would wait for itself). During exit it waits only for running operations.
  void waitUntilAllOperationsAreFinished();
  // Operations queued or running.
  int operationCount() const;

  // Internal: the block shared with the workers, defined with the queue's implementation.
  struct State;

 private:
  static void workerLoop(std::shared_ptr<State> state);
  static void stopAllForExit();
  void startWorkerLocked();

  std::shared_ptr<State> _state;
};

}  // namespace foundation
