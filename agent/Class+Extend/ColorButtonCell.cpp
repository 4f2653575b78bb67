#include "ColorButtonCell.h"

#include "appkit/AttributedString.h"
#include "appkit/BezierPath.h"
#include "appkit/ClassBuilder.h"
#include "appkit/ClassRegistrar.h"
#include "appkit/Cursor.h"
#include "appkit/GraphicsContext.h"
#include "appkit/LayoutValues.h"

using appkit::AttributedString;
using appkit::BezierPath;
using appkit::Color;
using appkit::Rect;

namespace {

const Color kDefaultBlue = Color::colorWithCalibratedRed(2 / 255.0, 154 / 255.0, 229 / 255.0, 1.0);
const Color kDisabledGrey =
    Color::colorWithCalibratedRed(232 / 255.0, 232 / 255.0, 232 / 255.0, 1.0);

const appkit::ClassRegistrar s_registrar(
    appkit::ClassBuilder<ColorButtonCell>("ColorButtonCell", "NSButtonCell")
        .property("bkColor", appkit::layoutColor, &ColorButtonCell::setBkColor)
        .property("norColor", appkit::layoutColor, &ColorButtonCell::setNorColor)
        .property("hotColor", appkit::layoutColor, &ColorButtonCell::setHotColor)
        .property("pushColor", appkit::layoutColor, &ColorButtonCell::setPushColor)
        .property("borderStyle", appkit::layoutBool, &ColorButtonCell::setBorderStyle)
        .property("roundedCorner", appkit::layoutBool, &ColorButtonCell::setRoundedCorner)
        .build());

}  // namespace

ColorButtonCell::ColorButtonCell() = default;
ColorButtonCell::~ColorButtonCell() = default;

bool ColorButtonCell::initWithCoder(const appkit::Coder& coder) {
  if (!ButtonCell::initWithCoder(coder)) return false;
  setShowsBorderOnlyWhileMouseInside(true);
  if (!_bkColor) setBkColor(kDefaultBlue);
  setBezelStyle(appkit::BezelStyle::RoundRect);
  setBorderStyle(false);
  setRoundedCorner(false);
  return true;
}

void ColorButtonCell::awakeFromNib() {
  ButtonCell::awakeFromNib();
  setBackgroundColor(_bkColor);
}

void ColorButtonCell::setBkColor(const Color& color) {
  Color rgb = color.colorUsingCalibratedRGB();
  Color::RGBA c = rgb.rgba();
  _bkColor = rgb;
  _norColor = rgb;
  _hotColor = Color::colorWithCalibratedRed(c.red, c.green, c.blue, 0.9);
  _pushColor = Color::colorWithCalibratedRed(c.red, c.green, c.blue, 0.8);
  setBackgroundColor(_bkColor);
}

double ColorButtonCell::cornerRadius(Rect rect) const {
  return _roundedCorner ? static_cast<double>(static_cast<float>(rect.size.height / 2)) : 0.0;
}

void ColorButtonCell::drawBezelWithFrame(Rect, appkit::View*) {}

void ColorButtonCell::drawInteriorWithFrame(Rect frame, appkit::View* controlView) {
  if (isEnabled()) {
    if (backgroundColor()) backgroundColor()->set();
    if (hasBorderStyle()) {
      appkit::GraphicsContext::saveGraphicsState();
      Rect inset = frame.insetBy(1, 1);
      BezierPath path =
          BezierPath::bezierPathWithRoundedRect(inset, cornerRadius(inset), cornerRadius(inset));
      path.setLineWidth(1.0);
      path.setLineCapStyle(appkit::LineCapStyle::Round);
      path.setLineJoinStyle(appkit::LineJoinStyle::Bevel);
      path.stroke();
      appkit::GraphicsContext::restoreGraphicsState();
    } else {
      BezierPath::bezierPathWithRoundedRect(frame, cornerRadius(frame), cornerRadius(frame)).fill();
    }
  } else {
    kDisabledGrey.set();
    BezierPath::bezierPathWithRoundedRect(frame, cornerRadius(frame), cornerRadius(frame)).fill();
  }
  ButtonCell::drawInteriorWithFrame(frame, controlView);
}

Rect ColorButtonCell::drawTitle(const AttributedString& title, Rect frame,
                                appkit::View* controlView) {
  if (title.empty() || !isEnabled()) return ButtonCell::drawTitle(title, frame, controlView);
  AttributedString coloured = title;
  Color colour = Color::whiteColor();
  if (hasBorderStyle()) {
    if (backgroundColor()) {
      colour = *backgroundColor();
    } else if (_norColor) {
      colour = *_norColor;
    }
  }
  coloured.setForegroundColor(colour, appkit::TextRange{0, coloured.length()});
  return ButtonCell::drawTitle(coloured, frame, controlView);
}

bool ColorButtonCell::startTrackingAt(appkit::Point, appkit::View*) {
  setBackgroundColor(_pushColor);
  return true;
}

bool ColorButtonCell::continueTracking(appkit::Point, appkit::Point, appkit::View*) { return true; }

void ColorButtonCell::stopTracking(appkit::Point, appkit::Point, appkit::View*, bool) {
  setBackgroundColor(_norColor);
}

void ColorButtonCell::mouseEntered(const appkit::Event&) {
  setBackgroundColor(_hotColor);
  appkit::Cursor::pointingHandCursor().set();
}

void ColorButtonCell::mouseExited(const appkit::Event&) {
  setBackgroundColor(_norColor);
  appkit::Cursor::arrowCursor().set();
}
