#include "NSBackgroudView.h"

#include "appkit/BezierPath.h"
#include "appkit/ClassBuilder.h"
#include "appkit/ClassRegistrar.h"
#include "appkit/Color.h"
#include "appkit/Gradient.h"
#include "appkit/GraphicsContext.h"

namespace {

constexpr double kCornerRadius = 8.0;
constexpr double kGradientAngle = 270.0;

const appkit::ClassRegistrar s_registrar(
    appkit::ClassBuilder<NSBackgroudView>("NSBackgroudView", "NSView").build());

}  // namespace

void NSBackgroudView::drawRect(appkit::Rect dirtyRect) {
  View::drawRect(dirtyRect);
  appkit::GraphicsContext::saveGraphicsState();
  appkit::BezierPath path =
      appkit::BezierPath::bezierPathWithRoundedRect(bounds(), kCornerRadius, kCornerRadius);
  appkit::Color::whiteColor().set();
  path.fill();
  appkit::Gradient gradient(appkit::Color::whiteColor(),
                            appkit::Color::colorWithCalibratedWhite(0.9, 0.8));
  gradient.drawInBezierPath(path, kGradientAngle);
  appkit::GraphicsContext::restoreGraphicsState();
}

void NSBackgroudView::mouseDown(const appkit::Event&) {}

void NSBackgroudView::awakeFromNib() { View::awakeFromNib(); }
