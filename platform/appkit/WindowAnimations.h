#pragma once

#include "appkit/AnimatedWindow.h"

namespace appkit {

class AnimationContext;

// The animations of windows' frames and alpha values under way, advanced by one timer of the main
// run loop while any runs (see AnimationContext). Internal to appkit; main thread only.
class WindowAnimations {
 public:
  using Property = AnimatedWindow::Property;
  using Value = AnimatedWindow::Value;

  // Animates `property` of `window` from its present value to `target` in `context`'s group,
  // replacing a running animation of the same property.
  static void animate(AnimationContext& context, AnimatedWindow& window, Property property,
                      Value target);
  // Stops an animation of `property` of `window` where it is (the value was set directly).
  static void cancel(AnimatedWindow& window, Property property);
  // `window` is being destroyed: every reference to it goes.
  static void forget(AnimatedWindow& window);
  // True while an animation of `window` runs or a group that changed it has not finished.
  static bool isBusy(const AnimatedWindow& window);
};

}  // namespace appkit
