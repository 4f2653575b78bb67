#include "appkit/KeyboardFocus.h"

#include <algorithm>
#include <functional>

#include "appkit/BezierPath.h"
#include "appkit/Button.h"
#include "appkit/Color.h"
#include "appkit/View.h"
#include "appkit/Window.h"
#include "appkit/accessibility/Accessibility.h"

namespace appkit {
namespace {

// The ring: 2 points wide in the desktop's accent blue, just outside the view.
constexpr double kRingWidth = 2;
constexpr double kRingOutset = 2;
constexpr double kRingRadius = 4;
constexpr double kRingRed = 0x35 / 255.0, kRingGreen = 0x84 / 255.0, kRingBlue = 0xE4 / 255.0;

void collect(View& view, const std::function<void(View&)>& visit) {
  if (view.isHidden()) return;
  visit(view);
  for (View* subview : view.subviews()) collect(*subview, visit);
}

}  // namespace

void KeyboardFocus::setActive(bool active) {
  if (active == _active) return;
  _active = active;
  if (active && !_focused) {
    std::vector<View*> views = focusableViews();
    if (!views.empty()) _focused = views.front();
  }
  redrawRing();
  Accessibility::focusDidChange(_window, active ? _focused : nullptr);
}

void KeyboardFocus::setFocusedView(View* view) {
  if (view && (view->window() != &_window || !view->acceptsFirstResponder())) return;
  if (view == _focused) return;
  redrawRing();
  _focused = view;
  redrawRing();
  if (_active) Accessibility::focusDidChange(_window, _focused);
}

std::vector<View*> KeyboardFocus::focusableViews() const {
  std::vector<View*> views;
  if (View* content = _window.contentView()) {
    collect(*content, [&](View& view) {
      if (view.acceptsFirstResponder()) views.push_back(&view);
    });
  }
  return views;
}

void KeyboardFocus::moveFocus(bool backwards) {
  std::vector<View*> views = focusableViews();
  if (views.empty()) return;
  auto at = std::find(views.begin(), views.end(), _focused);
  std::size_t count = views.size();
  std::size_t index;
  if (at == views.end()) {
    index = backwards ? count - 1 : 0;
  } else {
    auto current = static_cast<std::size_t>(at - views.begin());
    index = backwards ? (current + count - 1) % count : (current + 1) % count;
  }
  setFocusedView(views[index]);
}

bool KeyboardFocus::clickKeyEquivalent(Key key) {
  View* target = nullptr;
  if (View* content = _window.contentView()) {
    collect(*content, [&](View& view) {
      auto* button = dynamic_cast<Button*>(&view);
      if (!target && button && button->keyEquivalent() == key && button->isEnabled())
        target = button;
    });
  }
  return target && target->performClick();
}

void KeyboardFocus::keyDown(const Event& event) {
  // Only what the window has the focus for: a key from anywhere else does nothing.
  if (!_active) return;
  switch (event.key) {
    case Key::Tab:
      moveFocus(event.shift);
      break;
    case Key::Space:
      if (_focused && !_focused->isHiddenOrHasHiddenAncestor()) _focused->performClick();
      break;
    case Key::Return:
    case Key::Escape:
      clickKeyEquivalent(event.key);
      break;
    case Key::Other:
      break;
  }
}

void KeyboardFocus::viewWillLeave(View& view) {
  if (_focused && _focused->isDescendantOf(&view)) _focused = nullptr;
}

Rect KeyboardFocus::ringRect() const {
  if (!_focused || _focused->isHiddenOrHasHiddenAncestor()) return {};
  Rect rect = _focused->convertRectToView(_focused->focusRingRect(), nullptr);
  double outset = kRingOutset + kRingWidth / 2;
  return Rect::make(rect.minX() - outset, rect.minY() - outset, rect.size.width + 2 * outset,
                    rect.size.height + 2 * outset);
}

void KeyboardFocus::redrawRing() {
  Rect rect = ringRect();
  if (rect.isEmpty()) return;
  double margin = kRingWidth;
  _window.viewNeedsDisplay(Rect::make(rect.minX() - margin, rect.minY() - margin,
                                      rect.size.width + 2 * margin, rect.size.height + 2 * margin));
}

void KeyboardFocus::drawRing() const {
  Rect rect = ringRect();
  if (!_active || rect.isEmpty()) return;
  double radius = std::min(kRingRadius, std::min(rect.size.width, rect.size.height) / 2);
  BezierPath ring = BezierPath::bezierPathWithRoundedRect(rect, radius, radius);
  ring.setLineWidth(kRingWidth);
  Color::colorWithCalibratedRed(kRingRed, kRingGreen, kRingBlue, 1).setStroke();
  ring.stroke();
}

}  // namespace appkit
