#pragma once

#include "appkit/Geometry.h"

namespace appkit {

enum class EventType {
  LeftMouseDown,
  LeftMouseUp,
  LeftMouseDragged,
  MouseMoved,
  MouseEntered,
  MouseExited,
  KeyDown,
};

// The keys a window acts on; every other key is Other.
enum class Key { Other, Tab, Return, Space, Escape };

// A mouse or key event as a window delivers it. A plain value.
struct Event {
  EventType type = EventType::MouseMoved;
  Point locationInWindow;  // in the window's points, origin at its bottom left
  int clickCount = 0;      // 1 for a single press and its release; 0 for motion
  int trackingAreaId = 0;  // entered/exited: the id of the area crossed (see View::addTrackingArea)
  Key key = Key::Other;    // KeyDown: the key pressed
  bool shift = false;      // KeyDown: with Shift held

  static Event keyDown(Key key, bool shift) {
    Event event;
    event.type = EventType::KeyDown;
    event.key = key;
    event.shift = shift;
    return event;
  }
};

}  // namespace appkit
