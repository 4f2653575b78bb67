#pragma once

namespace appkit {

class View;
class Window;

// What the window code tells assistive technologies (screen readers, through ATK and the AT-SPI
// bridge). Everything is off until enable(); then the first window that shows connects the
// process to the accessibility bus and exposes the application, its shown windows and their
// views, built from the views' roles and labels. Without an accessibility bus nothing changes
// and that is said once in the log. Each notification does nothing while not connected.
// Main thread only.
class Accessibility {
 public:
  // For the application's entry: windows shown from now on may connect (a process that never
  // shows one never connects).
  static void enable();
  static bool isConnected();

  static void windowDidShow(Window& window);
  static void windowDidHide(Window& window);
  static void windowWillClose(Window& window);
  static void viewWillDisappear(View& view);
  // The window gained or lost the keyboard focus, or its focused view changed (`focused` may be
  // null).
  static void focusDidChange(Window& window, View* focused);
  // What `view` shows changed: its text, title or state.
  static void valueDidChange(View& view);
};

}  // namespace appkit
