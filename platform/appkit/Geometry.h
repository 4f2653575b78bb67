#pragma once

#include <algorithm>
#include <cmath>

namespace appkit {

// Geometry in points, with AppKit's origin at the bottom left: y grows upwards. Plain values.

struct Point {
  double x = 0;
  double y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  double width = 0;
  double height = 0;
  bool operator==(const Size&) const = default;
};

// A rectangle of whole device pixels: points times the backing scale, same origin and direction.
struct PixelRect {
  long x = 0;
  long y = 0;
  long width = 0;
  long height = 0;
  bool operator==(const PixelRect&) const = default;
};

// A rectangle given by its bottom-left corner and its size. A rect whose width or height is zero
// or less is empty.
struct Rect {
  Point origin;
  Size size;

  static Rect make(double x, double y, double width, double height) {
    return Rect{{x, y}, {width, height}};
  }
  bool operator==(const Rect&) const = default;

  double minX() const { return origin.x; }
  double midX() const { return origin.x + size.width / 2; }
  double maxX() const { return origin.x + size.width; }
  double minY() const { return origin.y; }
  double midY() const { return origin.y + size.height / 2; }
  double maxY() const { return origin.y + size.height; }
  bool isEmpty() const { return !(size.width > 0 && size.height > 0); }

  Rect offsetBy(double dx, double dy) const { return Rect{{origin.x + dx, origin.y + dy}, size}; }

  // Moves every edge inwards by dx (left and right) and dy (bottom and top); negative values grow
  // the rect. A side that would come out negative collapses to zero at its centre line, so an
  // over-inset rect is empty and centred where the original was (never of negative size).
  Rect insetBy(double dx, double dy) const {
    Rect result = make(origin.x + dx, origin.y + dy, size.width - 2 * dx, size.height - 2 * dy);
    if (!(result.size.width >= 0)) {
      result.origin.x = midX();
      result.size.width = 0;
    }
    if (!(result.size.height >= 0)) {
      result.origin.y = midY();
      result.size.height = 0;
    }
    return result;
  }

  // Half-open: a point on the left or bottom edge is inside, one on the right or top edge is not,
  // so rects that tile a plane claim each point exactly once. An empty rect contains nothing.
  bool contains(Point point) const {
    return point.x >= minX() && point.x < maxX() && point.y >= minY() && point.y < maxY();
  }

  // True when the two share some area; rects that only touch along an edge do not intersect.
  bool intersects(const Rect& other) const { return !intersection(other).isEmpty(); }

  // The area common to both, or the zero rect when they share none.
  Rect intersection(const Rect& other) const {
    if (isEmpty() || other.isEmpty()) return Rect{};
    double left = std::max(minX(), other.minX());
    double right = std::min(maxX(), other.maxX());
    double bottom = std::max(minY(), other.minY());
    double top = std::min(maxY(), other.maxY());
    if (!(left < right && bottom < top)) return Rect{};
    return make(left, bottom, right - left, top - bottom);
  }

  // The smallest rect of whole device pixels at `scale` (pixels per point, > 0) that covers this
  // one: edges round outwards. Rounding ignores an excess of under a millionth of a pixel, so
  // points that are exact in decimals but not in binary (0.1 + 0.2) do not grow a pixel. An empty
  // rect gives an empty pixel rect at its rounded-down origin.
  PixelRect pixelRect(double scale) const {
    constexpr double kTolerance = 1e-6;
    long left = static_cast<long>(std::floor(minX() * scale + kTolerance));
    long bottom = static_cast<long>(std::floor(minY() * scale + kTolerance));
    if (isEmpty()) return PixelRect{left, bottom, 0, 0};
    long right = static_cast<long>(std::ceil(maxX() * scale - kTolerance));
    long top = static_cast<long>(std::ceil(maxY() * scale - kTolerance));
    return PixelRect{left, bottom, std::max(right - left, 0L), std::max(top - bottom, 0L)};
  }
};

}  // namespace appkit
