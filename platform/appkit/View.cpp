#include "appkit/View.h"

#include <algorithm>

#include <cairo.h>

#include "appkit/ClassBuilder.h"
#include "appkit/ClassRegistry.h"
#include "appkit/GraphicsContext.h"
#include "appkit/LayoutValues.h"
#include "appkit/MainThreadCheck.h"

namespace appkit {

View::~View() {
  removeFromSuperview();
  for (View* subview : _subviews) {
    subview->_superview = nullptr;
    subview->setNextResponder(nullptr);
    subview->setHost(nullptr);
  }
  if (_host) _host->viewWillLeaveHost(*this);
}

void View::setFrame(Rect frame) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (frame == _frame) return;
  if (_superview) _superview->setNeedsDisplayInRect(_frame);
  _frame = frame;
  setNeedsDisplay(true);
  frameDidChange();
  if (_host) _host->viewTrackingAreasChanged();
}

void View::setFrameOrigin(Point origin) { setFrame(Rect{origin, _frame.size}); }
void View::setFrameSize(Size size) { setFrame(Rect{_frame.origin, size}); }

void View::setHidden(bool hidden) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (hidden == _hidden) return;
  _hidden = hidden;
  if (_superview) _superview->setNeedsDisplayInRect(_frame);
  if (_host) _host->viewTrackingAreasChanged();
}

void View::addSubview(View* view) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (!view || view == this || isDescendantOf(view)) return;
  view->removeFromSuperview();
  _subviews.push_back(view);
  view->_superview = this;
  view->setNextResponder(this);
  view->setHost(_host);
  view->setNeedsDisplay(true);
}

void View::removeFromSuperview() {
  if (!_superview) return;
  _superview->setNeedsDisplayInRect(_frame);
  auto& siblings = _superview->_subviews;
  siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  _superview = nullptr;
  setNextResponder(nullptr);
  setHost(nullptr);
}

bool View::isDescendantOf(const View* view) const {
  for (const View* ancestor = this; ancestor; ancestor = ancestor->_superview) {
    if (ancestor == view) return true;
  }
  return false;
}

Window* View::window() const { return _host ? _host->hostWindow() : nullptr; }

void View::setHost(ViewHost* host) {
  if (host == _host) return;
  if (_host) _host->viewWillLeaveHost(*this);
  _host = host;
  for (View* subview : _subviews) subview->setHost(host);
  viewDidMoveToWindow();
  if (_host) _host->viewTrackingAreasChanged();
}

void View::drawRect(Rect) {}

void View::setNeedsDisplay(bool needsDisplay) {
  if (needsDisplay) {
    setNeedsDisplayInRect(bounds());
  } else {
    _needsDisplay = false;
  }
}

void View::setNeedsDisplayInRect(Rect rect) {
  APPKIT_ASSERT_MAIN_THREAD();
  rect = rect.intersection(bounds());
  if (rect.isEmpty()) return;
  _needsDisplay = true;
  if (_host) _host->viewNeedsDisplay(convertRectToView(rect, nullptr));
}

void View::clearNeedsDisplay() {
  _needsDisplay = false;
  for (View* subview : _subviews) subview->clearNeedsDisplay();
}

void View::displayRect(Rect rect, GraphicsContext& context, bool superviewIsFlipped) {
  APPKIT_ASSERT_MAIN_THREAD();
  Rect visible = rect.intersection(bounds());
  if (_hidden || visible.isEmpty()) {
    if (!_hidden) _needsDisplay = false;
    return;
  }
  cairo_t* cairo = context.cairo();
  context.save();
  cairo_translate(cairo, _frame.origin.x, _frame.origin.y);
  if (isFlipped() != superviewIsFlipped) {
    cairo_translate(cairo, 0, _frame.size.height);
    cairo_scale(cairo, 1, -1);
  }
  context.setFlipped(isFlipped());
  cairo_rectangle(cairo, visible.minX(), visible.minY(), visible.size.width, visible.size.height);
  cairo_clip(cairo);
  drawRect(visible);
  _needsDisplay = false;
  for (View* subview : _subviews) {
    Rect inSubview = subview->convertRectFromView(visible, this);
    subview->displayRect(inSubview, context, isFlipped());
  }
  context.restore();
}

Point View::toSuperview(Point point) const {
  bool superFlipped = _superview && _superview->isFlipped();
  double y = isFlipped() == superFlipped ? point.y : _frame.size.height - point.y;
  return Point{_frame.origin.x + point.x, _frame.origin.y + y};
}

Point View::fromSuperview(Point point) const {
  bool superFlipped = _superview && _superview->isFlipped();
  double y = point.y - _frame.origin.y;
  if (isFlipped() != superFlipped) y = _frame.size.height - y;
  return Point{point.x - _frame.origin.x, y};
}

Point View::convertPointToView(Point point, const View* view) const {
  // Up to the window, then down to `view`.
  for (const View* current = this; current; current = current->_superview) {
    if (current == view) return point;
    point = current->toSuperview(point);
  }
  return view ? view->convertPointFromView(point, nullptr) : point;
}

Point View::convertPointFromView(Point point, const View* view) const {
  if (view) point = view->convertPointToView(point, nullptr);
  std::vector<const View*> chain;
  for (const View* current = this; current; current = current->_superview) {
    chain.push_back(current);
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) point = (*it)->fromSuperview(point);
  return point;
}

Rect View::convertRectToView(Rect rect, const View* view) const {
  Point a = convertPointToView(rect.origin, view);
  Point b = convertPointToView(Point{rect.maxX(), rect.maxY()}, view);
  return Rect::make(std::min(a.x, b.x), std::min(a.y, b.y), std::abs(b.x - a.x),
                    std::abs(b.y - a.y));
}

Rect View::convertRectFromView(Rect rect, const View* view) const {
  Point a = convertPointFromView(rect.origin, view);
  Point b = convertPointFromView(Point{rect.maxX(), rect.maxY()}, view);
  return Rect::make(std::min(a.x, b.x), std::min(a.y, b.y), std::abs(b.x - a.x),
                    std::abs(b.y - a.y));
}

View* View::hitTest(Point point) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (_hidden || !_frame.contains(point)) return nullptr;
  Point local = fromSuperview(point);
  for (auto it = _subviews.rbegin(); it != _subviews.rend(); ++it) {
    if (View* hit = (*it)->hitTest(local)) return hit;
  }
  return this;
}

int View::addTrackingArea(TrackingArea area) {
  APPKIT_ASSERT_MAIN_THREAD();
  area.id = _nextTrackingAreaId++;
  _trackingAreas.push_back(area);
  if (_host) _host->viewTrackingAreasChanged();
  return area.id;
}

void View::removeTrackingArea(int id) {
  APPKIT_ASSERT_MAIN_THREAD();
  auto it = std::remove_if(_trackingAreas.begin(), _trackingAreas.end(),
                           [id](const TrackingArea& area) { return area.id == id; });
  if (it == _trackingAreas.end()) return;
  _trackingAreas.erase(it, _trackingAreas.end());
  if (_host) _host->viewTrackingAreasChanged();
}

Rect View::trackingRect(const TrackingArea& area) const {
  return area.inVisibleRect ? bounds() : area.rect;
}

void View::registerLayoutClasses(ClassRegistry& registry) {
  registry.registerClass(ClassBuilder<View>("NSView")
                             .property("frame", layoutRect, &View::setFrame)
                             .property("hidden", layoutBool, &View::setHidden)
                             .outletCollection("subviews", &View::addSubview)
                             .build());
}

}  // namespace appkit
