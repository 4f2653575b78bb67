#include "appkit/Gradient.h"

#include <cmath>
#include <numbers>

#include "appkit/GraphicsContext.h"
#include "appkit/GraphicsHandles.h"
#include "appkit/MainThreadCheck.h"

namespace appkit {

Gradient::Gradient(Color start, Color end) : _start(start), _end(end) {}

void Gradient::drawInBezierPath(const BezierPath& path, double angleDegrees) const {
  APPKIT_ASSERT_MAIN_THREAD();
  GraphicsContext* gc = GraphicsContext::current();
  if (!gc || path.isEmpty()) return;
  Rect box = path.bounds();
  if (!std::isfinite(angleDegrees)) angleDegrees = 0;
  double radians = std::fmod(angleDegrees, 360.0) * std::numbers::pi / 180;
  double dx = std::cos(radians), dy = std::sin(radians);
  // Half the length of the box seen along the direction: its corners project onto ±reach.
  double reach = (std::abs(box.size.width * dx) + std::abs(box.size.height * dy)) / 2;
  double cx = box.midX(), cy = box.midY();

  cairo_t* cairo = gc->cairo();
  cairo_save(cairo);
  path.replayInto(cairo);
  cairo_set_fill_rule(cairo, CAIRO_FILL_RULE_WINDING);
  cairo_clip(cairo);
  CairoPattern owned(cairo_pattern_create_linear(cx - dx * reach, cy - dy * reach, cx + dx * reach,
                                                 cy + dy * reach));
  cairo_pattern_t* pattern = owned.get();
  Color::RGBA s = _start.rgba(), e = _end.rgba();
  cairo_pattern_add_color_stop_rgba(pattern, 0, s.red, s.green, s.blue, s.alpha);
  cairo_pattern_add_color_stop_rgba(pattern, 1, e.red, e.green, e.blue, e.alpha);
  cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
  cairo_set_source(cairo, pattern);
  cairo_rectangle(cairo, box.minX(), box.minY(), box.size.width, box.size.height);
  cairo_fill(cairo);
  cairo_restore(cairo);
}

void Gradient::drawInRect(Rect rect, double angleDegrees) const {
  drawInBezierPath(BezierPath::bezierPathWithRect(rect), angleDegrees);
}

}  // namespace appkit
