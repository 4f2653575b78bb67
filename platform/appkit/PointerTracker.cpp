#include "appkit/PointerTracker.h"

#include <algorithm>

#include "appkit/Cursor.h"
#include "appkit/RunLoop.h"
#include "appkit/View.h"
#include "appkit/Window.h"
#include "appkit/WindowBackend.h"
#include "dispatch/MainQueue.h"

namespace appkit {
namespace {

// Nested pointer updates made from entered/exited handlers before the tracker gives up on them.
constexpr int kMaxTrackingRounds = 8;

// The tracker whose window shows the cursor: the one the pointer is over.
PointerTracker* s_cursorTracker = nullptr;

}  // namespace

PointerTracker::~PointerTracker() { releaseCursor(); }

void PointerTracker::moved(Point location, bool inside) {
  bool wasInside = _inside;
  _location = location;
  _inside = inside;
  if (inside && !wasInside) claimCursor();
  update();
  if (!inside && wasInside && !_inside) releaseCursor();
}

void PointerTracker::areasChanged() {
  if (_updateQueued || (!_inside && _hovered.empty())) return;
  _updateQueued = true;
  RunLoop::main().queue().async([this, alive = _lifetime.watch()] {
    if (alive.expired()) return;
    _updateQueued = false;
    update();
  });
}

void PointerTracker::forget(View& view) {
  std::erase_if(_hovered, [&](const Hover& hover) { return hover.view == &view; });
  std::erase_if(_events, [&](const auto& entry) { return entry.first.view == &view; });
  areasChanged();
}

void PointerTracker::collectHovered(View& view, Rect clip, std::vector<Hover>& hovered) const {
  if (view.isHidden()) return;
  Rect visible = view.convertRectToView(view.bounds(), nullptr).intersection(clip);
  if (visible.isEmpty()) return;
  for (const TrackingArea& area : view.trackingAreas()) {
    Rect rect = view.convertRectToView(view.trackingRect(area), nullptr).intersection(visible);
    if (rect.contains(_location)) hovered.push_back(Hover{&view, area.id});
  }
  for (View* subview : view.subviews()) collectHovered(*subview, visible, hovered);
}

void PointerTracker::update() {
  if (_delivering) {
    // A handler moved the pointer: the round under way starts again once it is delivered.
    _again = true;
    return;
  }
  _delivering = true;
  for (int round = 0; round < kMaxTrackingRounds; ++round) {
    _again = false;
    std::vector<Hover> now;
    View* content = _window.contentView();
    if (_inside && content) collectHovered(*content, Rect{{0, 0}, _window.frame().size}, now);
    for (const Hover& hover : _hovered) {
      if (std::find(now.begin(), now.end(), hover) == now.end())
        _events.emplace_back(hover, EventType::MouseExited);
    }
    for (const Hover& hover : now) {
      if (std::find(_hovered.begin(), _hovered.end(), hover) == _hovered.end())
        _events.emplace_back(hover, EventType::MouseEntered);
    }
    _hovered = std::move(now);
    while (!_events.empty()) {
      auto [hover, type] = _events.front();
      _events.erase(_events.begin());
      // The owner is looked up now: an area removed meanwhile is not told anything.
      TrackingAreaOwner* owner = nullptr;
      for (const TrackingArea& area : hover.view->trackingAreas()) {
        if (area.id == hover.areaId) owner = area.owner;
      }
      if (!owner) continue;
      Event event;
      event.type = type;
      event.locationInWindow = _location;
      event.trackingAreaId = hover.areaId;
      if (type == EventType::MouseEntered) {
        owner->mouseEntered(event);
      } else {
        owner->mouseExited(event);
      }
    }
    if (!_again) break;
  }
  _delivering = false;
}

void PointerTracker::claimCursor() {
  s_cursorTracker = this;
  Cursor::setPresenter([](Cursor::Kind kind) {
    if (s_cursorTracker && s_cursorTracker->_backend) s_cursorTracker->_backend->setCursor(kind);
  });
  if (_backend) _backend->setCursor(Cursor::currentKind());
}

void PointerTracker::releaseCursor() {
  if (s_cursorTracker != this) return;
  s_cursorTracker = nullptr;
  Cursor::setPresenter(nullptr);
}

}  // namespace appkit
