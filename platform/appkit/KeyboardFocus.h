#pragma once

#include <vector>

#include "appkit/Event.h"
#include "appkit/Geometry.h"

namespace appkit {

class View;
class Window;

// The keyboard side of a window: whether it has the keyboard focus, which of its views has it,
// and the keys it acts on. Tab and Shift-Tab move the focus between the views that accept it, in
// the hierarchy's order (depth first, back to front), wrapping around; Space clicks the focused
// view; Return and Escape click the button whose key equivalent they are. Gaining the focus puts
// it on the first such view. While the window has the focus, a ring is drawn around the focused
// view. Main thread only; owned by its window.
class KeyboardFocus {
 public:
  explicit KeyboardFocus(Window& window) : _window(window) {}

  bool isActive() const { return _active; }
  void setActive(bool active);
  // Null while no view has the focus; kept (and drawn again) when the window regains the focus.
  View* focusedView() const { return _focused; }
  // Gives `view` (of this window, accepting the focus) the focus; null takes it away.
  void setFocusedView(View* view);

  void keyDown(const Event& event);
  // Strokes the ring into GraphicsContext::current(), whose user space is the window's points.
  void drawRing() const;
  void viewWillLeave(View& view);

 private:
  std::vector<View*> focusableViews() const;
  void moveFocus(bool backwards);
  bool clickKeyEquivalent(Key key);
  Rect ringRect() const;
  void redrawRing();

  Window& _window;
  bool _active = false;
  View* _focused = nullptr;
};

}  // namespace appkit
