#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "ThreadSafety.h"

namespace foundation {

// A std::mutex (or std::recursive_mutex) the thread-safety analysis knows as a capability, so
// that members can be declared GUARDED_BY it. Lock it with MutexLock.
template <class Native>
class CAPABILITY("mutex") BasicMutex {
 public:
  void lock() ACQUIRE() { _native.lock(); }
  void unlock() RELEASE() { _native.unlock(); }
  // The underlying mutex, for a condition variable's wait; the caller must hold this mutex.
  Native& native() { return _native; }

 private:
  Native _native;
};

using Mutex = BasicMutex<std::mutex>;
using RecursiveMutex = BasicMutex<std::recursive_mutex>;

// Holds a mutex from construction to destruction (or to unlock()). The waits release the mutex
// while they block and hold it again when they return, as the analysis assumes they do.
template <class Native>
class SCOPED_CAPABILITY BasicMutexLock {
 public:
  explicit BasicMutexLock(BasicMutex<Native>& mutex) ACQUIRE(mutex) : _mutex(mutex) {
    _mutex.lock();
  }
  ~BasicMutexLock() RELEASE() {
    if (_held) _mutex.unlock();
  }
  BasicMutexLock(const BasicMutexLock&) = delete;
  BasicMutexLock& operator=(const BasicMutexLock&) = delete;

  void lock() ACQUIRE() {
    _mutex.lock();
    _held = true;
  }
  void unlock() RELEASE() {
    _held = false;
    _mutex.unlock();
  }

  void wait(std::condition_variable& condition) {
    std::unique_lock<Native> native(_mutex.native(), std::adopt_lock);
    condition.wait(native);
    native.release();
  }
  // False when `deadline` passed first.
  template <class Clock, class Duration>
  bool waitUntil(std::condition_variable& condition,
                 const std::chrono::time_point<Clock, Duration>& deadline) {
    std::unique_lock<Native> native(_mutex.native(), std::adopt_lock);
    bool woken = condition.wait_until(native, deadline) == std::cv_status::no_timeout;
    native.release();
    return woken;
  }

 private:
  BasicMutex<Native>& _mutex;
  bool _held = true;
};

using MutexLock = BasicMutexLock<std::mutex>;
using RecursiveMutexLock = BasicMutexLock<std::recursive_mutex>;

}  // namespace foundation
