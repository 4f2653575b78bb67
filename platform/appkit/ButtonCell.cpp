#include "appkit/ButtonCell.h"

#include <algorithm>
#include <cmath>

#include <cairo.h>

#include "appkit/GraphicsContext.h"
#include "appkit/MainThreadCheck.h"
#include "appkit/TextLayout.h"

namespace appkit {
namespace {

// The padding between a push button's edges and its title.
constexpr double kTitlePadding = 6;
constexpr double kBezelRadius = 5;
constexpr double kCheckBoxRadius = 3;

// A path on `rect` with corners of `radius` (cut to half the shorter side).
void addRoundedRect(cairo_t* cairo, Rect rect, double radius) {
  radius = std::max(0.0, std::min(radius, std::min(rect.size.width, rect.size.height) / 2));
  double x0 = rect.minX(), y0 = rect.minY(), x1 = rect.maxX(), y1 = rect.maxY();
  cairo_new_sub_path(cairo);
  cairo_arc(cairo, x1 - radius, y0 + radius, radius, -M_PI / 2, 0);
  cairo_arc(cairo, x1 - radius, y1 - radius, radius, 0, M_PI / 2);
  cairo_arc(cairo, x0 + radius, y1 - radius, radius, M_PI / 2, M_PI);
  cairo_arc(cairo, x0 + radius, y0 + radius, radius, M_PI, 3 * M_PI / 2);
  cairo_close_path(cairo);
}

Color checkBoxBlue() { return Color::colorWithCalibratedRed(0, 122 / 255.0, 1, 1); }

}  // namespace

ButtonCell::ButtonCell() = default;
ButtonCell::~ButtonCell() = default;

void ButtonCell::setBackgroundColor(std::optional<Color> color) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (color == _backgroundColor) return;
  _backgroundColor = std::move(color);
  updateControlView();
}

void ButtonCell::setBezelStyle(BezelStyle style) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (style == _bezelStyle) return;
  _bezelStyle = style;
  updateControlView();
}

void ButtonCell::setButtonType(ButtonType type) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (type == _buttonType) return;
  _buttonType = type;
  updateControlView();
}

int ButtonCell::nextState() const {
  if (_buttonType != ButtonType::Switch) return state();
  return state() == On ? Off : On;
}

TextAlignment ButtonCell::titleAlignment() const {
  return _buttonType == ButtonType::Switch ? TextAlignment::Left : TextAlignment::Center;
}

void ButtonCell::drawBezelWithFrame(Rect frame, View*) {
  APPKIT_ASSERT_MAIN_THREAD();
  GraphicsContext* context = GraphicsContext::current();
  if (!context || _buttonType == ButtonType::Switch || frame.isEmpty()) return;
  cairo_t* cairo = context->cairo();
  Rect edge = frame.insetBy(0.5, 0.5);
  double radius = _bezelStyle == BezelStyle::RoundRect ? edge.size.height / 2 : kBezelRadius;
  Color fill = _backgroundColor.value_or(Color::colorWithCalibratedWhite(0.98, 1));
  cairo_save(cairo);
  addRoundedRect(cairo, edge, radius);
  context->useColor(fill);
  cairo_fill_preserve(cairo);
  if (isHighlighted()) {
    context->useColor(Color::colorWithCalibratedWhite(0, 0.15));
    cairo_fill_preserve(cairo);
  }
  context->useColor(Color::colorWithCalibratedWhite(isEnabled() ? 0.7 : 0.82, 1));
  cairo_set_line_width(cairo, 1);
  cairo_stroke(cairo);
  cairo_restore(cairo);
}

void ButtonCell::drawInteriorWithFrame(Rect frame, View* view) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (_buttonType == ButtonType::Switch) drawCheckBox(frame);
  drawTitle(attributedTitle(), titleRectForBounds(frame), view);
}

Rect ButtonCell::titleRectForBounds(Rect frame) const {
  if (_buttonType == ButtonType::Switch) {
    double inset = kCheckBoxSize + kCheckBoxTitleGap;
    return Rect::make(frame.minX() + inset, frame.minY(), std::max(0.0, frame.size.width - inset),
                      frame.size.height);
  }
  return frame.insetBy(kTitlePadding, 0);
}

void ButtonCell::drawCheckBox(Rect frame) {
  GraphicsContext* context = GraphicsContext::current();
  if (!context) return;
  cairo_t* cairo = context->cairo();
  Rect box = Rect::make(frame.minX() + 0.5, std::round(frame.midY() - kCheckBoxSize / 2) + 0.5,
                        kCheckBoxSize - 1, kCheckBoxSize - 1);
  bool on = state() == On;
  Color fill = on ? checkBoxBlue() : Color::whiteColor();
  Color border = on ? checkBoxBlue() : Color::colorWithCalibratedWhite(0.6, 1);
  if (!isEnabled()) {
    fill = on ? Color::colorWithCalibratedRed(0.6, 0.78, 1, 1)
              : Color::colorWithCalibratedWhite(0.96, 1);
    border = on ? fill : Color::colorWithCalibratedWhite(0.8, 1);
  }
  cairo_save(cairo);
  addRoundedRect(cairo, box, kCheckBoxRadius);
  context->useColor(fill);
  cairo_fill_preserve(cairo);
  if (isHighlighted()) {
    context->useColor(Color::colorWithCalibratedWhite(0, 0.12));
    cairo_fill_preserve(cairo);
  }
  context->useColor(border);
  cairo_set_line_width(cairo, 1);
  cairo_stroke(cairo);
  if (on) {
    // The tick, given from the box's bottom-left corner with y upwards, upright in either
    // orientation of the context.
    bool flipped = context->isFlipped();
    auto moveOrLine = [&](double fx, double fy, bool move) {
      double x = box.minX() + fx * box.size.width;
      double y = flipped ? box.maxY() - fy * box.size.height : box.minY() + fy * box.size.height;
      move ? cairo_move_to(cairo, x, y) : cairo_line_to(cairo, x, y);
    };
    moveOrLine(0.24, 0.52, true);
    moveOrLine(0.43, 0.30, false);
    moveOrLine(0.77, 0.72, false);
    context->useColor(Color::whiteColor());
    cairo_set_line_width(cairo, 2);
    cairo_set_line_cap(cairo, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cairo, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cairo);
  }
  cairo_restore(cairo);
}

Rect ButtonCell::focusRingRectForBounds(Rect frame) {
  if (_buttonType != ButtonType::Switch) return frame;
  AttributedString title = attributedTitle();
  double width = kCheckBoxSize;
  if (!title.empty()) {
    if (!_titleLayout) _titleLayout = std::make_unique<TextLayout>();
    _titleLayout->setText(title);
    width += kCheckBoxTitleGap + _titleLayout->size().width;
  }
  return Rect::make(frame.minX(), frame.minY(), std::min(width, frame.size.width),
                    frame.size.height);
}

Rect ButtonCell::drawTitle(const AttributedString& title, Rect frame, View*) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (title.empty() || frame.isEmpty()) return Rect{};
  if (!_titleLayout) _titleLayout = std::make_unique<TextLayout>();
  _titleLayout->setText(title);
  Size size = _titleLayout->size();
  double x = _buttonType == ButtonType::Switch ? frame.minX() : frame.midX() - size.width / 2;
  Rect drawn = Rect::make(x, frame.midY() - size.height / 2, size.width, size.height);
  if (GraphicsContext* context = GraphicsContext::current()) {
    context->save();
    cairo_t* cairo = context->cairo();
    cairo_rectangle(cairo, frame.minX(), frame.minY(), frame.size.width, frame.size.height);
    cairo_clip(cairo);
    _titleLayout->drawInRect(drawn);
    context->restore();
  }
  return drawn;
}

std::uint64_t ButtonCell::titleLayoutCount() const {
  return _titleLayout ? _titleLayout->buildCount() : 0;
}

}  // namespace appkit
