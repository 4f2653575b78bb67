#pragma once

#include <array>

namespace appkit {

class AnimationContext;
class Window;

// The animations of windows' frames and alpha values under way, advanced by one timer of the main
// run loop while any runs (see AnimationContext). Internal to appkit; main thread only.
class WindowAnimations {
 public:
  enum class Property { Frame, Alpha };
  // A frame as x, y, width, height; an alpha value in the first element.
  using Value = std::array<double, 4>;

  // Animates `property` of `window` from its present value to `target` in `context`'s group,
  // replacing a running animation of the same property.
  static void animate(AnimationContext& context, Window& window, Property property, Value target);
  // Stops an animation of `property` of `window` where it is (the value was set directly).
  static void cancel(Window& window, Property property);
  // `window` is being destroyed: every reference to it goes.
  static void forget(Window& window);
  // True while an animation of `window` runs or a group that changed it has not finished.
  static bool isBusy(const Window& window);

  // For the scheduler: sets a value without presenting; presents a window's frame; tells a
  // window it has come to rest.
  static void apply(Window& window, Property property, const Value& value);
  static void present(Window& window);
  static void cameToRest(Window& window);
};

}  // namespace appkit
