#include "appkit/Cell.h"

#include "appkit/Control.h"
#include "appkit/MainThreadCheck.h"
#include "appkit/accessibility/Accessibility.h"

namespace appkit {

Cell::Cell() : _font(Font::systemFontOfSize(Font::kSystemFontSize)) {}

Cell::~Cell() {
  if (_control) _control->cellWillBeDestroyed(*this);
}

void Cell::setTitle(std::string title) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (title == _title && !_attributedTitle) return;
  _title = std::move(title);
  _attributedTitle.reset();
  updateControlView();
  if (_control) Accessibility::valueDidChange(*_control);
}

AttributedString Cell::attributedTitle() const {
  APPKIT_ASSERT_MAIN_THREAD();
  if (_attributedTitle) return *_attributedTitle;
  AttributedString title(_title, _font, titleColor());
  title.setAlignment(titleAlignment());
  return title;
}

void Cell::setAttributedTitle(AttributedString title) {
  APPKIT_ASSERT_MAIN_THREAD();
  _title = title.string();
  _attributedTitle = std::move(title);
  updateControlView();
  if (_control) Accessibility::valueDidChange(*_control);
}

void Cell::setEnabled(bool enabled) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (enabled == _enabled) return;
  _enabled = enabled;
  updateControlView();
}

void Cell::setState(int state) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (state == _state) return;
  _state = state;
  updateControlView();
  if (_control) Accessibility::valueDidChange(*_control);
}

void Cell::setHighlighted(bool highlighted) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (highlighted == _highlighted) return;
  _highlighted = highlighted;
  updateControlView();
}

void Cell::setFont(const Font& font) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (font == _font) return;
  _font = font;
  updateControlView();
}

View* Cell::controlView() const { return _control; }

void Cell::drawWithFrame(Rect frame, View* view) {
  APPKIT_ASSERT_MAIN_THREAD();
  drawBezelWithFrame(frame, view);
  drawInteriorWithFrame(frame, view);
}

void Cell::drawBezelWithFrame(Rect, View*) {}
void Cell::drawInteriorWithFrame(Rect, View*) {}

bool Cell::startTrackingAt(Point, View*) { return true; }
bool Cell::continueTracking(Point, Point, View*) { return true; }
void Cell::stopTracking(Point, Point, View*, bool) {}

void Cell::mouseEntered(const Event&) {}
void Cell::mouseExited(const Event&) {}

void Cell::setShowsBorderOnlyWhileMouseInside(bool shows) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (shows == _showsBorderOnlyWhileMouseInside) return;
  _showsBorderOnlyWhileMouseInside = shows;
  if (_control) _control->updateCellTrackingArea();
}

Color Cell::titleColor() const {
  return _enabled ? Color::blackColor() : Color::colorWithCalibratedWhite(0.55, 1);
}

void Cell::updateControlView() {
  if (_control) _control->setNeedsDisplay(true);
}

}  // namespace appkit
