#pragma once

#include "appkit/BezierPath.h"
#include "appkit/Color.h"
#include "appkit/Geometry.h"

namespace appkit {

// A linear blend from a start colour to an end colour. A plain value; drawing is for the main
// thread and does nothing without a current graphics context.
//
// The angle, in degrees, is the direction the blend runs in, measured anticlockwise from the
// positive x axis of the view's own coordinates: at 0 the start colour is at the left edge and the
// end colour at the right, at 90 the start is at the bottom (minY) and the end at the top (maxY),
// at 270 the start is at maxY and the end at minY. As in AppKit the angle is taken in the view's
// coordinate system, so in a flipped view (y growing downwards) 90 runs from the top of the screen
// to the bottom and 270 from the bottom to the top. At other angles the blend is stretched so that
// the two corners furthest along and against the direction get exactly the end and start colours.
class Gradient {
 public:
  Gradient(Color start, Color end);

  const Color& startingColor() const { return _start; }
  const Color& endingColor() const { return _end; }

  // Fills the inside of `path` (its bounds blended as above), leaving the context's clip as it
  // was.
  void drawInBezierPath(const BezierPath& path, double angleDegrees) const;
  // Fills `rect`.
  void drawInRect(Rect rect, double angleDegrees) const;

 private:
  Color _start;
  Color _end;
};

}  // namespace appkit
