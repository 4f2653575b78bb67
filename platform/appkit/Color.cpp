#include "appkit/Color.h"

#include <algorithm>
#include <cmath>

#include "appkit/GraphicsContext.h"

namespace appkit {
namespace {

double clamped(double value) { return std::isnan(value) ? 0.0 : std::clamp(value, 0.0, 1.0); }

}  // namespace

Color::Color(Space space, double c0, double c1, double c2, double alpha)
    : _space(space), _c{clamped(c0), clamped(c1), clamped(c2), clamped(alpha)} {}

Color Color::colorWithCalibratedRed(double red, double green, double blue, double alpha) {
  return Color(Space::CalibratedRGB, red, green, blue, alpha);
}

Color Color::colorWithCalibratedWhite(double white, double alpha) {
  return Color(Space::CalibratedWhite, white, white, white, alpha);
}

Color Color::whiteColor() { return colorWithCalibratedWhite(1.0, 1.0); }
Color Color::blackColor() { return colorWithCalibratedWhite(0.0, 1.0); }
Color Color::redColor() { return colorWithCalibratedRed(1.0, 0.0, 0.0, 1.0); }
Color Color::clearColor() { return colorWithCalibratedWhite(0.0, 0.0); }

Color::RGBA Color::rgba() const { return RGBA{_c[0], _c[1], _c[2], _c[3]}; }

Color Color::colorUsingCalibratedRGB() const {
  return Color(Space::CalibratedRGB, _c[0], _c[1], _c[2], _c[3]);
}

double Color::whiteComponent() const { return (_c[0] + _c[1] + _c[2]) / 3.0; }

void Color::set() const {
  if (GraphicsContext* context = GraphicsContext::current()) {
    context->setFillColor(*this);
    context->setStrokeColor(*this);
  }
}

void Color::setFill() const {
  if (GraphicsContext* context = GraphicsContext::current()) context->setFillColor(*this);
}

void Color::setStroke() const {
  if (GraphicsContext* context = GraphicsContext::current()) context->setStrokeColor(*this);
}

}  // namespace appkit
