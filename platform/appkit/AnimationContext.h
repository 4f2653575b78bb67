#pragma once

#include <functional>
#include <memory>

#include "foundation/TimeInterval.h"

namespace appkit {

namespace detail {
struct AnimationGroup;
}

// A group of animations run together. Inside the `changes` of runAnimationGroup, changes made
// through a window's animator() animate from the present value to the new one over the group's
// duration instead of happening at once.
//
// Animations advance by the clock (foundation::Clock::current().uptime()) on a timer of the main
// run loop, one step per refresh interval of the window backend: never a busy loop, never another
// thread. Each step moves the value along the group's timing curve; the last step sets the exact
// target. A
// new animation of the same property of the same window replaces the running one, which stops
// where it is.
//
// Main thread only.
class AnimationContext {
 public:
  // Calls `changes` with a new context, current for the length of the call, then returns; the
  // animations made in it run afterwards. `completion` (may be null) runs once on the main
  // thread when every animation of the group has finished or been replaced, and on the next run
  // loop pass when the group animates nothing.
  static void runAnimationGroup(std::function<void(AnimationContext&)> changes,
                                std::function<void()> completion);
  // The context of the innermost runAnimationGroup call under way, or null outside one.
  static AnimationContext* current();

  // The duration of animations made from now on in this group; 0.25 s unless set. A duration of
  // zero or less changes values at once.
  void setDuration(foundation::TimeInterval duration);
  foundation::TimeInterval duration() const;

  enum class TimingFunction {
    EaseInEaseOut,  // slow at both ends: the cubic Bézier through (0, 0), (0.42, 0), (0.58, 1), (1,
                    // 1)
    EaseOut,  // fast at the start, slow at the end: through (0, 0), (0, 0), (0.58, 1), (1, 1)
  };
  // The curve of animations made from now on in this group; EaseInEaseOut unless set.
  void setTimingFunction(TimingFunction curve);

  AnimationContext(const AnimationContext&) = delete;
  AnimationContext& operator=(const AnimationContext&) = delete;

 private:
  friend class WindowAnimations;
  AnimationContext();
  ~AnimationContext();

  std::shared_ptr<detail::AnimationGroup> _group;
  foundation::TimeInterval _duration = foundation::TimeInterval::seconds(0.25);
  TimingFunction _curve = TimingFunction::EaseInEaseOut;
};

}  // namespace appkit
