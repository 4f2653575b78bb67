#include "appkit/Screen.h"

#include "appkit/MainThreadCheck.h"
#include "appkit/WindowBackend.h"

namespace appkit {

Screen* Screen::mainScreen() {
  APPKIT_ASSERT_MAIN_THREAD();
  // Deliberately leaked: callers may keep the pointer for the life of the process.
  static Screen* s_main = new Screen();
  ScreenDescription description = WindowBackend::shared().mainScreen();
  s_main->_frame = description.frame;
  s_main->_visibleFrame = description.visibleFrame;
  s_main->_scale = description.backingScaleFactor;
  return s_main;
}

Rect Screen::frame() const {
  APPKIT_ASSERT_MAIN_THREAD();
  return _frame;
}

Rect Screen::visibleFrame() const {
  APPKIT_ASSERT_MAIN_THREAD();
  return _visibleFrame;
}

double Screen::backingScaleFactor() const {
  APPKIT_ASSERT_MAIN_THREAD();
  return _scale;
}

}  // namespace appkit
