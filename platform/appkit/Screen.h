#pragma once

#include "appkit/Geometry.h"

namespace appkit {

// A display the windows are shown on, as the window backend describes it. Main thread only.
class Screen {
 public:
  // The screen with the menu bar, or null when no window backend can run. The object lives for
  // the whole process; its values are read again from the backend at every call.
  static Screen* mainScreen();

  // In points, origin at the bottom left of the whole desktop.
  Rect frame() const;
  // The part of the frame not covered by panels or docks.
  Rect visibleFrame() const;
  // Device pixels per point: 1 or 2.
  double backingScaleFactor() const;

 private:
  Screen() = default;
  Rect _frame;
  Rect _visibleFrame;
  double _scale = 1;
};

}  // namespace appkit
