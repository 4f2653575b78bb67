#include "appkit/RunLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "dispatch/MainQueue.h"
#include "dispatch/Time.h"
#include "foundation/Clock.h"
#include "foundation/Log.h"

namespace appkit {
namespace {

void drainEventFd(int fd) {
  std::uint64_t count;
  while (read(fd, &count, sizeof count) < 0 && errno == EINTR) {
  }
}

// poll()'s timeout for `seconds`, rounded up so that the loop never wakes before a deadline.
int pollTimeout(double seconds) {
  if (seconds <= 0) return 0;
  if (!std::isfinite(seconds) || seconds * 1000 >= INT_MAX) return -1;
  return static_cast<int>(std::ceil(seconds * 1000));
}

}  // namespace

RunLoop::RunLoop(dispatch::MainQueue& queue)
    : _queue(queue), _wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!_wakeFd) foundation::NSLog("appkit: no eventfd for the run loop: %s", strerror(errno));
}

RunLoop::~RunLoop() = default;

RunLoop& RunLoop::main() {
  // Deliberately leaked: other threads may stop it while the process exits.
  static RunLoop* s_loop = new RunLoop(dispatch::mainQueue());
  return *s_loop;
}

RunLoop::SourceId RunLoop::addDescriptor(int fd, std::function<void()> onReadable) {
  SourceId id = _nextId++;
  _descriptors.emplace(
      id, Descriptor{fd, std::make_shared<std::function<void()>>(std::move(onReadable))});
  return id;
}

void RunLoop::removeDescriptor(SourceId id) { _descriptors.erase(id); }

RunLoop::SourceId RunLoop::addBeforeWaiting(std::function<void()> beforeWaiting) {
  SourceId id = _nextId++;
  _beforeWaiting.emplace(id, std::make_shared<std::function<void()>>(std::move(beforeWaiting)));
  return id;
}

void RunLoop::removeBeforeWaiting(SourceId id) { _beforeWaiting.erase(id); }

RunLoop::SourceId RunLoop::addPollSource(PollSource& source) {
  SourceId id = _nextId++;
  _pollSources.emplace(id, &source);
  return id;
}

void RunLoop::removePollSource(SourceId id) { _pollSources.erase(id); }

RunLoop::SourceId RunLoop::addTimer(foundation::TimeInterval delay,
                                    foundation::TimeInterval interval, std::function<void()> fire) {
  SourceId id = _nextId++;
  double start =
      foundation::Clock::current().uptime() + (delay.isPositive() ? delay.inSeconds() : 0);
  double period = interval.isPositive() && interval.isFinite() ? interval.inSeconds() : 0;
  _timers.emplace(
      id, Timer{start, period, 0, start, std::make_shared<std::function<void()>>(std::move(fire))});
  return id;
}

void RunLoop::cancelTimer(SourceId id) { _timers.erase(id); }

void RunLoop::run() {
  while (!_stopRequested.exchange(false)) runOnce(foundation::TimeInterval::infinite());
}

void RunLoop::stop() {
  _stopRequested = true;
  if (_wakeFd) {
    std::uint64_t one = 1;
    while (write(_wakeFd.get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
  }
}

bool RunLoop::runOnce(foundation::TimeInterval maxWait) {
  if (!_beforeWaiting.empty()) {
    std::vector<SourceId> ids;
    for (const auto& [id, observer] : _beforeWaiting) ids.push_back(id);
    for (SourceId id : ids) {
      auto it = _beforeWaiting.find(id);
      if (it == _beforeWaiting.end()) continue;  // removed by an earlier one of this pass
      std::shared_ptr<std::function<void()>> observer = it->second;
      if (*observer) (*observer)();
    }
  }
  double wait = maxWait.inSeconds();
  if (!_timers.empty()) {
    double nearest = std::numeric_limits<double>::infinity();
    for (const auto& [id, timer] : _timers) nearest = std::min(nearest, timer.deadline);
    wait = std::min(wait, nearest - foundation::Clock::current().uptime());
  }
  if (_queue.pendingCount() > 0) wait = 0;

  std::vector<pollfd> fds;
  std::vector<SourceId> ids;
  fds.push_back(pollfd{_wakeFd.get(), POLLIN, 0});
  fds.push_back(pollfd{_queue.wakeupDescriptor(), POLLIN, 0});
  for (const auto& [id, descriptor] : _descriptors) {
    fds.push_back(pollfd{descriptor.fd, POLLIN, 0});
    ids.push_back(id);
  }
  // Each source's first entry and count in `fds`.
  std::vector<std::pair<SourceId, std::pair<std::size_t, std::size_t>>> sourceFds;
  for (const auto& [id, source] : _pollSources) {
    std::size_t first = fds.size();
    wait = std::min(wait, source->prepare(fds).inSeconds());
    sourceFds.push_back({id, {first, fds.size() - first}});
  }
  int ready = poll(fds.data(), fds.size(), pollTimeout(wait));
  if (ready < 0 && errno != EINTR) {
    foundation::NSLog("appkit: poll failed: %s", strerror(errno));
  }
  if (ready > 0 && (fds[0].revents & POLLIN)) drainEventFd(_wakeFd.get());

  bool ran = _queue.runPending() > 0;
  ran = fireDueTimers() || ran;
  if (ready > 0) {
    for (std::size_t i = 0; i < ids.size(); ++i) {
      short revents = fds[i + 2].revents;
      if (revents == 0) continue;
      auto it = _descriptors.find(ids[i]);
      if (it == _descriptors.end()) continue;  // removed by an earlier callback of this pass
      if (revents & POLLNVAL) {
        foundation::NSLog("appkit: descriptor %d is not open; no longer watching it",
                          it->second.fd);
        _descriptors.erase(it);
        continue;
      }
      std::shared_ptr<std::function<void()>> callback = it->second.onReadable;
      if (*callback) (*callback)();
      ran = true;
    }
  }
  for (const auto& [id, slice] : sourceFds) {
    auto it = _pollSources.find(id);
    if (it != _pollSources.end()) it->second->dispatch(fds.data() + slice.first, slice.second);
  }
  return ran;
}

bool RunLoop::fireDueTimers() {
  const double now = foundation::Clock::current().uptime();
  std::vector<std::pair<double, SourceId>> due;
  for (const auto& [id, timer] : _timers) {
    if (timer.deadline <= now) due.emplace_back(timer.deadline, id);
  }
  std::sort(due.begin(), due.end());
  bool fired = false;
  for (const auto& [deadline, id] : due) {
    auto it = _timers.find(id);
    if (it == _timers.end()) continue;  // cancelled by an earlier timer of this pass
    Timer& timer = it->second;
    std::shared_ptr<std::function<void()>> fire = timer.fire;
    if (timer.interval > 0) {
      timer.nextIndex = dispatch::nextGridIndex(timer.start, timer.interval, timer.nextIndex, now);
      timer.deadline = timer.start + static_cast<double>(timer.nextIndex) * timer.interval;
    } else {
      _timers.erase(it);
    }
    if (*fire) (*fire)();
    fired = true;
  }
  return fired;
}

}  // namespace appkit
