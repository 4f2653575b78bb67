#include "appkit/AnimationContext.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "appkit/MainThreadCheck.h"
#include "appkit/RunLoop.h"
#include "appkit/WindowAnimations.h"
#include "appkit/WindowBackend.h"
#include "dispatch/MainQueue.h"
#include "foundation/Clock.h"

namespace appkit {

namespace detail {

struct AnimationGroup {
  std::function<void()> completion;
  int running = 0;   // animations of the group still running
  bool open = true;  // its changes block is still being called
  bool drained = false;
  std::vector<AnimatedWindow*> changed;
};

}  // namespace detail

namespace {

using detail::AnimationGroup;
using Property = WindowAnimations::Property;
using Value = WindowAnimations::Value;

// The curve's cubic Bézier from (0, 0) to (1, 1) with control points (x1, 0) and (x2, 1), solved
// for the time fraction `x` by bisection (monotonic in x).
double eased(double x, AnimationContext::TimingFunction curve) {
  const bool easeOut = curve == AnimationContext::TimingFunction::EaseOut;
  const double x1 = easeOut ? 0 : 0.42, x2 = 0.58;
  if (x <= 0) return 0;
  if (x >= 1) return 1;
  auto bezier = [](double t, double p1, double p2) {
    double u = 1 - t;
    return 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t;
  };
  double low = 0, high = 1, t = x;
  for (int i = 0; i < 40; ++i) {
    t = (low + high) / 2;
    if (bezier(t, x1, x2) < x) {
      low = t;
    } else {
      high = t;
    }
  }
  return bezier(t, 0, 1);
}

struct Animation {
  AnimatedWindow* window;
  Property property;
  Value from;
  Value to;
  double start;
  double duration;
  AnimationContext::TimingFunction curve;
  std::shared_ptr<AnimationGroup> group;
};

struct Step {
  AnimatedWindow* window;  // null once the window is gone
  Property property;
  Value value;
};

class Scheduler {
 public:
  static Scheduler& shared() {
    // Deliberately leaked: windows of static lifetime may forget themselves during exit.
    static Scheduler* s_scheduler = new Scheduler();
    return *s_scheduler;
  }

  std::vector<AnimationContext*> contexts;

  void open(const std::shared_ptr<AnimationGroup>& group) { _groups.push_back(group); }

  void close(const std::shared_ptr<AnimationGroup>& group) {
    group->open = false;
    if (group->running == 0) drain(group);
  }

  void animate(const std::shared_ptr<AnimationGroup>& group, double duration,
               AnimationContext::TimingFunction curve, AnimatedWindow& window, Property property,
               Value from, Value to) {
    cancel(window, property);
    if (from == to) return;
    if (std::find(group->changed.begin(), group->changed.end(), &window) == group->changed.end())
      group->changed.push_back(&window);
    if (!(duration > 0)) {
      window.setAnimatedValue(property, to);
      window.presentFrame();
      return;
    }
    double now = foundation::Clock::current().uptime();
    _animations.push_back(Animation{&window, property, from, to, now, duration, curve, group});
    ++group->running;
    startTimer();
  }

  void cancel(AnimatedWindow& window, Property property) {
    auto it = std::find_if(_animations.begin(), _animations.end(), [&](const Animation& a) {
      return a.window == &window && a.property == property;
    });
    if (it == _animations.end()) return;
    std::shared_ptr<AnimationGroup> group = it->group;
    _animations.erase(it);
    finishOne(group);
    if (_animations.empty()) stopTimer();
  }

  void forget(AnimatedWindow& window) {
    for (Step& step : _steps) {
      if (step.window == &window) step.window = nullptr;
    }
    std::replace(_presenting.begin(), _presenting.end(), &window,
                 static_cast<AnimatedWindow*>(nullptr));
    std::vector<std::shared_ptr<AnimationGroup>> touched;
    std::erase_if(_animations, [&](const Animation& animation) {
      if (animation.window != &window) return false;
      touched.push_back(animation.group);
      return true;
    });
    for (const auto& group : _groups) std::erase(group->changed, &window);
    for (const auto& group : touched) finishOne(group);
    if (_animations.empty()) stopTimer();
  }

  bool isBusy(const AnimatedWindow& window, const AnimationGroup* except = nullptr) const {
    for (const Animation& animation : _animations) {
      if (animation.window == &window) return true;
    }
    for (const auto& group : _groups) {
      if (group.get() == except) continue;
      if (std::find(group->changed.begin(), group->changed.end(), &window) != group->changed.end())
        return true;
    }
    return false;
  }

 private:
  void finishOne(const std::shared_ptr<AnimationGroup>& group) {
    if (--group->running == 0 && !group->open) drain(group);
  }

  // The group has nothing left to run: it completes at the end of the step under way, or on the
  // next run loop pass.
  void drain(const std::shared_ptr<AnimationGroup>& group) {
    if (group->drained) return;
    group->drained = true;
    _drained.push_back(group);
    if (!_stepping && !_flushQueued) {
      _flushQueued = true;
      RunLoop::main().queue().async([this] {
        _flushQueued = false;
        completeDrained();
      });
    }
  }

  void completeDrained() {
    while (!_drained.empty()) {
      std::shared_ptr<AnimationGroup> group = _drained.front();
      _drained.erase(_drained.begin());
      // Each window is looked up again after every call out: a snapshot or a completion may
      // destroy windows, which strikes them from the group.
      while (!group->changed.empty()) {
        AnimatedWindow* window = group->changed.front();
        group->changed.erase(group->changed.begin());
        if (!isBusy(*window, group.get())) window->cameToRest();
      }
      std::erase(_groups, group);
      if (group->completion) {
        std::function<void()> completion = std::move(group->completion);
        group->completion = nullptr;
        completion();
      }
    }
  }

  void startTimer() {
    if (_timer) return;
    double interval = WindowBackend::shared().refreshInterval().inSeconds();
    if (!(interval > 0)) interval = 1.0 / 60;
    // A frame reaches the screen on average half a refresh after it is drawn, so each step shows
    // the animation as it will be then. The first step comes at once: a new animation already
    // moves in its first frame.
    _lead = interval / 2;
    _timer =
        RunLoop::main().addTimer(foundation::TimeInterval::seconds(0),
                                 foundation::TimeInterval::seconds(interval), [this] { step(); });
  }

  void stopTimer() {
    if (!_timer) return;
    RunLoop::main().cancelTimer(_timer);
    _timer = 0;
  }

  void step() {
    double now = foundation::Clock::current().uptime() + _lead;
    _stepping = true;
    _steps.clear();
    std::vector<std::shared_ptr<AnimationGroup>> finished;
    for (auto it = _animations.begin(); it != _animations.end();) {
      double fraction = (now - it->start) / it->duration;
      Value value = it->to;
      if (fraction < 1) {
        double moved = eased(fraction, it->curve);
        for (std::size_t i = 0; i < value.size(); ++i)
          value[i] = it->from[i] + (it->to[i] - it->from[i]) * moved;
      }
      _steps.push_back(Step{it->window, it->property, value});
      if (fraction >= 1) {
        finished.push_back(it->group);
        it = _animations.erase(it);
      } else {
        ++it;
      }
    }
    if (_animations.empty()) stopTimer();
    for (std::size_t i = 0; i < _steps.size(); ++i) {
      if (AnimatedWindow* window = _steps[i].window)
        window->setAnimatedValue(_steps[i].property, _steps[i].value);
    }
    // One frame per window, however many of its properties moved.
    for (const Step& step : _steps) {
      if (step.window &&
          std::find(_presenting.begin(), _presenting.end(), step.window) == _presenting.end())
        _presenting.push_back(step.window);
    }
    for (std::size_t i = 0; i < _presenting.size(); ++i) {
      if (AnimatedWindow* window = _presenting[i]) window->presentFrame();
    }
    _presenting.clear();
    _steps.clear();
    for (const auto& group : finished) finishOne(group);
    _stepping = false;
    completeDrained();
  }

  std::vector<Animation> _animations;
  std::vector<std::shared_ptr<AnimationGroup>> _groups;  // every group not yet completed
  std::vector<std::shared_ptr<AnimationGroup>> _drained;
  std::vector<Step> _steps;
  std::vector<AnimatedWindow*> _presenting;  // null once the window is gone
  RunLoop::SourceId _timer = 0;
  double _lead = 0;  // seconds from a step to the moment its frame is seen
  bool _stepping = false;
  bool _flushQueued = false;
};

}  // namespace

AnimationContext::AnimationContext() = default;
AnimationContext::~AnimationContext() = default;

void AnimationContext::runAnimationGroup(std::function<void(AnimationContext&)> changes,
                                         std::function<void()> completion) {
  APPKIT_ASSERT_MAIN_THREAD();
  Scheduler& scheduler = Scheduler::shared();
  AnimationContext context;
  context._group = std::make_shared<AnimationGroup>();
  context._group->completion = std::move(completion);
  scheduler.open(context._group);
  scheduler.contexts.push_back(&context);
  struct Pop {
    Scheduler& scheduler;
    AnimationContext& context;
    ~Pop() {
      std::erase(scheduler.contexts, &context);
      scheduler.close(context._group);
    }
  } pop{scheduler, context};
  if (changes) changes(context);
}

AnimationContext* AnimationContext::current() {
  APPKIT_ASSERT_MAIN_THREAD();
  auto& contexts = Scheduler::shared().contexts;
  return contexts.empty() ? nullptr : contexts.back();
}

void AnimationContext::setDuration(foundation::TimeInterval duration) {
  APPKIT_ASSERT_MAIN_THREAD();
  _duration = duration;
}

void AnimationContext::setTimingFunction(TimingFunction curve) {
  APPKIT_ASSERT_MAIN_THREAD();
  _curve = curve;
}

foundation::TimeInterval AnimationContext::duration() const {
  APPKIT_ASSERT_MAIN_THREAD();
  return _duration;
}

void WindowAnimations::animate(AnimationContext& context, AnimatedWindow& window, Property property,
                               Value target) {
  Scheduler::shared().animate(context._group, context._duration.inSeconds(), context._curve, window,
                              property, window.animatedValue(property), target);
}

void WindowAnimations::cancel(AnimatedWindow& window, Property property) {
  Scheduler::shared().cancel(window, property);
}

void WindowAnimations::forget(AnimatedWindow& window) { Scheduler::shared().forget(window); }

bool WindowAnimations::isBusy(const AnimatedWindow& window) {
  return Scheduler::shared().isBusy(window);
}

}  // namespace appkit
