#include "appkit/BezierPath.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>

#include "appkit/GraphicsContext.h"
#include "appkit/MainThreadCheck.h"

namespace appkit {
namespace {

// The distance of a cubic's control points from a corner that makes it a quarter ellipse.
constexpr double kKappa = 0.5522847498307936;

bool finite(Point p) { return std::isfinite(p.x) && std::isfinite(p.y); }

// The rect with its size made non-negative, the origin moved to match.
Rect standardized(Rect rect) {
  if (rect.size.width < 0) {
    rect.origin.x += rect.size.width;
    rect.size.width = -rect.size.width;
  }
  if (rect.size.height < 0) {
    rect.origin.y += rect.size.height;
    rect.size.height = -rect.size.height;
  }
  return rect;
}

struct Extent {
  double low = INFINITY, high = -INFINITY;
  void add(double v) {
    low = std::min(low, v);
    high = std::max(high, v);
  }
};

// Adds to `extent` the extremes of one coordinate of the cubic p0 p1 p2 p3 between its ends.
void addCubicExtremes(Extent& extent, double p0, double p1, double p2, double p3) {
  auto at = [&](double t) {
    double u = 1 - t;
    return u * u * u * p0 + 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t * p3;
  };
  // The derivative's roots: a t^2 + b t + c = 0.
  double a = -p0 + 3 * p1 - 3 * p2 + p3;
  double b = 2 * (p0 - 2 * p1 + p2);
  double c = p1 - p0;
  auto consider = [&](double t) {
    if (t > 0 && t < 1) extent.add(at(t));
  };
  if (std::abs(a) < 1e-12) {
    if (std::abs(b) > 1e-12) consider(-c / b);
    return;
  }
  double discriminant = b * b - 4 * a * c;
  if (discriminant < 0) return;
  double root = std::sqrt(discriminant);
  consider((-b + root) / (2 * a));
  consider((-b - root) / (2 * a));
}

}  // namespace

BezierPath BezierPath::bezierPathWithRect(Rect rect) {
  BezierPath path;
  path.moveToPoint(rect.origin);
  path.lineToPoint(Point{rect.maxX(), rect.minY()});
  path.lineToPoint(Point{rect.maxX(), rect.maxY()});
  path.lineToPoint(Point{rect.minX(), rect.maxY()});
  path.closePath();
  return path;
}

BezierPath BezierPath::bezierPathWithRoundedRect(Rect rect, double xRadius, double yRadius) {
  rect = standardized(rect);
  double rx = std::min(xRadius, rect.size.width / 2);
  double ry = std::min(yRadius, rect.size.height / 2);
  if (!(rx > 0 && ry > 0)) return bezierPathWithRect(rect);
  double left = rect.minX(), right = rect.maxX(), bottom = rect.minY(), top = rect.maxY();
  double kx = rx * kKappa, ky = ry * kKappa;
  BezierPath path;
  path.moveToPoint(Point{left + rx, bottom});
  path.lineToPoint(Point{right - rx, bottom});
  path.curveToPoint(Point{right, bottom + ry}, Point{right - rx + kx, bottom},
                    Point{right, bottom + ry - ky});
  path.lineToPoint(Point{right, top - ry});
  path.curveToPoint(Point{right - rx, top}, Point{right, top - ry + ky},
                    Point{right - rx + kx, top});
  path.lineToPoint(Point{left + rx, top});
  path.curveToPoint(Point{left, top - ry}, Point{left + rx - kx, top}, Point{left, top - ry + ky});
  path.lineToPoint(Point{left, bottom + ry});
  path.curveToPoint(Point{left + rx, bottom}, Point{left, bottom + ry - ky},
                    Point{left + rx - kx, bottom});
  path.closePath();
  return path;
}

BezierPath BezierPath::bezierPathWithOvalInRect(Rect rect) {
  rect = standardized(rect);
  double rx = rect.size.width / 2, ry = rect.size.height / 2;
  double cx = rect.midX(), cy = rect.midY();
  double kx = rx * kKappa, ky = ry * kKappa;
  BezierPath path;
  path.moveToPoint(Point{cx + rx, cy});
  path.curveToPoint(Point{cx, cy + ry}, Point{cx + rx, cy + ky}, Point{cx + kx, cy + ry});
  path.curveToPoint(Point{cx - rx, cy}, Point{cx - kx, cy + ry}, Point{cx - rx, cy + ky});
  path.curveToPoint(Point{cx, cy - ry}, Point{cx - rx, cy - ky}, Point{cx - kx, cy - ry});
  path.curveToPoint(Point{cx + rx, cy}, Point{cx + kx, cy - ry}, Point{cx + rx, cy - ky});
  path.closePath();
  return path;
}

void BezierPath::moveToPoint(Point point) {
  if (finite(point)) _elements.push_back(Element{Kind::Move, {point}});
}

void BezierPath::lineToPoint(Point point) {
  if (finite(point)) _elements.push_back(Element{Kind::Line, {point}});
}

void BezierPath::curveToPoint(Point point, Point controlPoint1, Point controlPoint2) {
  if (finite(point) && finite(controlPoint1) && finite(controlPoint2)) {
    _elements.push_back(Element{Kind::Curve, {controlPoint1, controlPoint2, point}});
  }
}

void BezierPath::closePath() { _elements.push_back(Element{Kind::Close, {}}); }

void BezierPath::setLineWidth(double width) { _lineWidth = width > 0 ? width : 0; }

void BezierPath::replayInto(cairo_t* cairo) const {
  cairo_new_path(cairo);
  for (const Element& e : _elements) {
    switch (e.kind) {
      case Kind::Move:
        cairo_move_to(cairo, e.points[0].x, e.points[0].y);
        break;
      case Kind::Line:
        cairo_line_to(cairo, e.points[0].x, e.points[0].y);
        break;
      case Kind::Curve:
        if (!cairo_has_current_point(cairo)) cairo_move_to(cairo, e.points[0].x, e.points[0].y);
        cairo_curve_to(cairo, e.points[0].x, e.points[0].y, e.points[1].x, e.points[1].y,
                       e.points[2].x, e.points[2].y);
        break;
      case Kind::Close:
        cairo_close_path(cairo);
        break;
    }
  }
}

void BezierPath::fill() const {
  APPKIT_ASSERT_MAIN_THREAD();
  GraphicsContext* gc = GraphicsContext::current();
  if (!gc) return;
  cairo_t* cairo = gc->cairo();
  cairo_save(cairo);
  replayInto(cairo);
  cairo_set_fill_rule(cairo, CAIRO_FILL_RULE_WINDING);
  gc->useColor(gc->fillColor());
  cairo_fill(cairo);
  cairo_restore(cairo);
}

void BezierPath::stroke() const {
  APPKIT_ASSERT_MAIN_THREAD();
  GraphicsContext* gc = GraphicsContext::current();
  if (!gc) return;
  cairo_t* cairo = gc->cairo();
  cairo_save(cairo);
  replayInto(cairo);
  double width = _lineWidth;
  if (width == 0) {
    // One device pixel, whatever the scale.
    double dx = 1, dy = 0;
    cairo_device_to_user_distance(cairo, &dx, &dy);
    width = std::hypot(dx, dy);
  } else {
    width = snapToPixels(cairo, width);
  }
  cairo_set_line_width(cairo, width);
  // In the order of the enumerations.
  static constexpr cairo_line_cap_t kCaps[] = {CAIRO_LINE_CAP_BUTT, CAIRO_LINE_CAP_ROUND,
                                               CAIRO_LINE_CAP_SQUARE};
  static constexpr cairo_line_join_t kJoins[] = {CAIRO_LINE_JOIN_MITER, CAIRO_LINE_JOIN_ROUND,
                                                 CAIRO_LINE_JOIN_BEVEL};
  cairo_set_line_cap(cairo, kCaps[static_cast<int>(_cap)]);
  cairo_set_line_join(cairo, kJoins[static_cast<int>(_join)]);
  gc->useColor(gc->strokeColor());
  cairo_stroke(cairo);
  cairo_restore(cairo);
}

double BezierPath::snapToPixels(cairo_t* cairo, double width) {
  cairo_matrix_t matrix;
  cairo_get_matrix(cairo, &matrix);
  double scale = std::abs(matrix.xx);
  // Only an upright fractional scale needs it: at whole scales the points already meet pixels.
  if (matrix.xy != 0 || matrix.yx != 0 || std::abs(std::abs(matrix.yy) - scale) > 1e-9 ||
      std::abs(scale - std::round(scale)) < 1e-9)
    return width;
  double pixels = std::max(1.0, std::round(width * scale));
  // A line of an odd number of pixels is centred on a pixel's middle, an even one on an edge.
  double offset = std::fmod(pixels, 2.0) == 1 ? 0.5 : 0;
  cairo_path_t* path = cairo_copy_path(cairo);
  for (int i = 0; path && i < path->num_data; i += path->data[i].header.length) {
    cairo_path_data_t* data = &path->data[i];
    for (int point = 1; point < data->header.length; ++point) {
      double x = data[point].point.x, y = data[point].point.y;
      cairo_user_to_device(cairo, &x, &y);
      x = std::floor(x) + offset;
      y = std::floor(y) + offset;
      cairo_device_to_user(cairo, &x, &y);
      data[point].point.x = x;
      data[point].point.y = y;
    }
  }
  if (path) {
    cairo_new_path(cairo);
    cairo_append_path(cairo, path);
    cairo_path_destroy(path);
  }
  return pixels / scale;
}

void BezierPath::addClip() const {
  APPKIT_ASSERT_MAIN_THREAD();
  GraphicsContext* gc = GraphicsContext::current();
  if (!gc) return;
  cairo_t* cairo = gc->cairo();
  replayInto(cairo);
  cairo_fill_rule_t previous = cairo_get_fill_rule(cairo);
  cairo_set_fill_rule(cairo, CAIRO_FILL_RULE_WINDING);
  cairo_clip(cairo);
  cairo_set_fill_rule(cairo, previous);
}

Rect BezierPath::bounds() const {
  Extent x, y;
  Point current{}, subpathStart{};
  bool hasCurrent = false;
  for (const Element& e : _elements) {
    switch (e.kind) {
      case Kind::Move:
      case Kind::Line:
        x.add(e.points[0].x);
        y.add(e.points[0].y);
        current = e.points[0];
        if (e.kind == Kind::Move || !hasCurrent) subpathStart = current;
        hasCurrent = true;
        break;
      case Kind::Curve: {
        Point start = hasCurrent ? current : e.points[0];
        if (!hasCurrent) subpathStart = start;
        const Point& end = e.points[2];
        x.add(start.x);
        y.add(start.y);
        x.add(end.x);
        y.add(end.y);
        addCubicExtremes(x, start.x, e.points[0].x, e.points[1].x, end.x);
        addCubicExtremes(y, start.y, e.points[0].y, e.points[1].y, end.y);
        current = end;
        hasCurrent = true;
        break;
      }
      case Kind::Close:
        current = subpathStart;
        break;
    }
  }
  if (x.low > x.high) return Rect{};
  return Rect::make(x.low, y.low, x.high - x.low, y.high - y.low);
}

}  // namespace appkit
