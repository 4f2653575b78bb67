#include "appkit/Control.h"

#include "appkit/Cell.h"
#include "appkit/MainThreadCheck.h"

namespace appkit {

Control::Control() { setOwnedCell(std::make_unique<Cell>()); }

Control::Control(Rect frame) : View(frame) { setOwnedCell(std::make_unique<Cell>()); }

Control::~Control() {
  if (_cellAreaId) removeTrackingArea(_cellAreaId);
  if (_cell) _cell->_control = nullptr;
  _cell = nullptr;
}

void Control::setOwnedCell(std::unique_ptr<Cell> cell) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (!cell) return;
  Cell* previousOwn = _ownCell.get();
  Cell* replacement = cell.get();
  // Switch first, so that the old own cell is unhooked before it is destroyed.
  if (_cell == previousOwn || !_cell) {
    if (_cell) {
      cancelTracking();
      _cell->_control = nullptr;
      _cell = nullptr;
    }
    _ownCell = std::move(cell);
    attach(replacement);
  } else {
    _ownCell = std::move(cell);
  }
}

void Control::setCell(Cell* cell) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (!cell) cell = _ownCell.get();
  if (cell == _cell) return;
  if (cell && cell->_control && cell->_control != this) {
    Control* other = cell->_control;
    // Another control's own cell stays with it.
    if (other->_ownCell.get() == cell) return;
    other->setCell(nullptr);
  }
  if (_cell) {
    cancelTracking();
    _cell->_control = nullptr;
  }
  _cell = nullptr;
  attach(cell);
}

void Control::attach(Cell* cell) {
  _cell = cell;
  if (_cell) _cell->_control = this;
  updateCellTrackingArea();
  setNeedsDisplay(true);
}

void Control::cellWillBeDestroyed(Cell& cell) {
  if (&cell != _cell) return;
  _tracking = false;
  _cell->_control = nullptr;
  _cell = nullptr;
  if (_ownCell.get() != &cell) attach(_ownCell.get());
}

void Control::updateCellTrackingArea() {
  bool wanted = _cell && _cell->showsBorderOnlyWhileMouseInside();
  if (_cellAreaId && (!wanted || _cellAreaOwner != _cell)) {
    removeTrackingArea(_cellAreaId);
    _cellAreaId = 0;
    _cellAreaOwner = nullptr;
  }
  if (wanted && !_cellAreaId) {
    TrackingArea area;
    area.inVisibleRect = true;
    area.owner = _cell;
    _cellAreaId = addTrackingArea(area);
    _cellAreaOwner = _cell;
  }
}

bool Control::isEnabled() const { return _cell && _cell->isEnabled(); }

void Control::setEnabled(bool enabled) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (!_cell) return;
  if (!enabled) cancelTracking();
  _cell->setEnabled(enabled);
}

const std::string& Control::title() const {
  static const std::string s_none;
  return _cell ? _cell->title() : s_none;
}

void Control::setTitle(std::string title) {
  if (_cell) _cell->setTitle(std::move(title));
}

AttributedString Control::attributedTitle() const {
  return _cell ? _cell->attributedTitle() : AttributedString();
}

void Control::setAttributedTitle(AttributedString title) {
  if (_cell) _cell->setAttributedTitle(std::move(title));
}

int Control::state() const { return _cell ? _cell->state() : Cell::Off; }

void Control::setState(int state) {
  if (_cell) _cell->setState(state);
}

bool Control::setAction(Object* target, const std::string& selector, Action action) {
  APPKIT_ASSERT_MAIN_THREAD();
  _target = target;
  _selector = selector;
  _action = std::move(action);
  return true;
}

void Control::setAction(Action action) { setAction(nullptr, std::string(), std::move(action)); }

bool Control::sendAction() {
  APPKIT_ASSERT_MAIN_THREAD();
  if (!_action) return false;
  // A copy: the action may replace the control's action, or destroy the control, while it runs.
  Action action = _action;
  action(this);
  return true;
}

void Control::drawRect(Rect) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (_cell) _cell->drawWithFrame(bounds(), this);
}

void Control::mouseDown(const Event& event) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (!_cell || !isEnabled()) return;
  Point point = convertPointFromView(event.locationInWindow, nullptr);
  _tracking = true;
  _lastPoint = point;
  _cell->setHighlighted(bounds().contains(point));
  if (!_cell->startTrackingAt(point, this)) endTracking();
}

void Control::mouseDragged(const Event& event) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (!_tracking || !_cell) return;
  Point point = convertPointFromView(event.locationInWindow, nullptr);
  _cell->setHighlighted(bounds().contains(point));
  if (!_cell->continueTracking(_lastPoint, point, this)) {
    _cell->stopTracking(_lastPoint, point, this, false);
    endTracking();
    return;
  }
  _lastPoint = point;
}

void Control::mouseUp(const Event& event) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (!_tracking || !_cell) return;
  Point point = convertPointFromView(event.locationInWindow, nullptr);
  bool inside = bounds().contains(point);
  _cell->stopTracking(_lastPoint, point, this, true);
  endTracking();
  if (inside) performClick();
}

bool Control::performClick() {
  APPKIT_ASSERT_MAIN_THREAD();
  if (!_cell || !isEnabled()) return false;
  std::weak_ptr<bool> alive = _alive;
  int next = _cell->nextState();
  if (next != _cell->state()) {
    _cell->setState(next);
    // Bindings copy the new state out before the action runs; an observer may close the window.
    didChangeValueForKey("value");
    if (alive.expired()) return true;
  }
  sendAction();
  return true;
}

void Control::cancelTracking() {
  if (!_tracking || !_cell) return;
  _cell->stopTracking(_lastPoint, _lastPoint, this, false);
  endTracking();
}

void Control::endTracking() {
  if (!_tracking) return;
  _tracking = false;
  if (_cell) _cell->setHighlighted(false);
}

}  // namespace appkit
