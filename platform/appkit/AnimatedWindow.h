#pragma once

#include <array>

namespace appkit {

// What the animations of AnimationContext need of a window they move. Main thread only.
class AnimatedWindow {
 public:
  enum class Property { Frame, Alpha };
  // A frame as x, y, width, height; an alpha value in the first element.
  using Value = std::array<double, 4>;

  virtual Value animatedValue(Property property) const = 0;
  // Sets a value of one step without showing it: the step's frame follows.
  virtual void setAnimatedValue(Property property, const Value& value) = 0;
  // Shows the values set since the last frame.
  virtual void presentFrame() = 0;
  // The last animation of the window has finished and no group that changed it is under way.
  virtual void cameToRest() = 0;

 protected:
  ~AnimatedWindow() = default;
};

}  // namespace appkit
