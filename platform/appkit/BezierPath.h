#pragma once

#include <vector>

#include "appkit/Geometry.h"

typedef struct _cairo cairo_t;

namespace appkit {

// How the open ends of a stroked path and the corners between its segments are drawn. Also
// spelt BezierPath::LineCapStyle and BezierPath::LineJoinStyle.
enum class LineCapStyle { Butt, Round, Square };
enum class LineJoinStyle { Miter, Round, Bevel };

// A path of straight and cubic curved segments recorded in points, replayed into the current
// graphics context when it is filled, stroked or made the clip. A plain value; drawing is for the
// main thread and does nothing without a current context.
//
// Points with a non-finite coordinate are ignored when added (cairo would stop drawing for the
// rest of the frame).
class BezierPath {
 public:
  using LineCapStyle = appkit::LineCapStyle;
  using LineJoinStyle = appkit::LineJoinStyle;

  BezierPath() = default;

  // A closed rectangle, starting at its bottom-left corner.
  static BezierPath bezierPathWithRect(Rect rect);
  // A rectangle whose corners are quarter ellipses of the two radii; each radius is clamped to
  // half the rect's width (x) or height (y), and a radius of zero or less (or NaN) on either axis
  // gives square corners.
  static BezierPath bezierPathWithRoundedRect(Rect rect, double xRadius, double yRadius);
  // The ellipse inscribed in `rect`.
  static BezierPath bezierPathWithOvalInRect(Rect rect);

  void moveToPoint(Point point);
  // A line or curve from the current point; without one the segment starts at `point` itself.
  void lineToPoint(Point point);
  void curveToPoint(Point point, Point controlPoint1, Point controlPoint2);
  void closePath();
  bool isEmpty() const { return _elements.empty(); }

  // Stroke width in points; 0 is the thinnest line the device shows (one device pixel). A
  // negative or NaN width counts as 0. Default 1.
  void setLineWidth(double width);
  double lineWidth() const { return _lineWidth; }
  void setLineCapStyle(LineCapStyle style) { _cap = style; }
  LineCapStyle lineCapStyle() const { return _cap; }
  void setLineJoinStyle(LineJoinStyle style) { _join = style; }
  LineJoinStyle lineJoinStyle() const { return _join; }

  // Fills the inside (non-zero winding) with the context's fill colour.
  void fill() const;
  // Strokes the outline with the context's stroke colour, line width, cap and join.
  void stroke() const;
  // Intersects the context's clip with the inside of the path (non-zero winding). Bracket it with
  // GraphicsContext::saveGraphicsState()/restoreGraphicsState() to undo it.
  void addClip() const;

  // The smallest rect holding the whole path (curves by their extremes, not their control
  // points); the zero rect for an empty path.
  Rect bounds() const;

  // Replaces the current path of `cairo` with this one, in its user coordinates: for drawing code
  // that fills with something other than a colour.
  void replayInto(cairo_t* cairo) const;

 private:
  // At a fractional device scale, moves the current path of `cairo` onto the device pixels and
  // answers `width` rounded to whole pixels, so that thin lines stay crisp; elsewhere `width`.
  static double snapToPixels(cairo_t* cairo, double width);

  enum class Kind { Move, Line, Curve, Close };
  struct Element {
    Kind kind;
    Point points[3];  // Move/Line: [0]; Curve: control 1, control 2, end
  };

  std::vector<Element> _elements;
  double _lineWidth = 1;
  LineCapStyle _cap = LineCapStyle::Butt;
  LineJoinStyle _join = LineJoinStyle::Miter;
};

}  // namespace appkit
