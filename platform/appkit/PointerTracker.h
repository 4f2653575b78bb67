#pragma once

#include <utility>
#include <vector>

#include "appkit/Event.h"
#include "appkit/Geometry.h"
#include "foundation/Lifetime.h"

namespace appkit {

class BackendWindow;
class View;
class Window;

// The pointer over one window. Its motion sends mouseEntered/mouseExited to the owners of the
// tracking areas of the window's views that it crosses, with the area's id in the event; so do
// areas that appear or vanish under a still pointer (on the next pass) and the pointer's leaving
// the window. While the pointer is over the window, Cursor::set() shows its cursor through the
// window's backend. Owned by the window; main thread only.
class PointerTracker {
 public:
  explicit PointerTracker(Window& window) : _window(window) {}
  ~PointerTracker();
  PointerTracker(const PointerTracker&) = delete;
  PointerTracker& operator=(const PointerTracker&) = delete;

  // The backend window that shows the cursor (not owned), null while the window has none.
  void setBackendWindow(BackendWindow* backend) { _backend = backend; }

  bool isInside() const { return _inside; }
  // In the window's points.
  Point location() const { return _location; }
  // The pointer is at `location`, inside the window or not.
  void moved(Point location, bool inside);
  // Tracking areas or the geometry of views changed: what the pointer is in is found again on
  // the next pass.
  void areasChanged();
  // `view` leaves the window: it hears nothing more.
  void forget(View& view);
  // Stops showing the cursor through this window.
  void releaseCursor();

 private:
  struct Hover {
    View* view;
    int areaId;
    bool operator==(const Hover&) const = default;
  };

  void update();
  void collectHovered(View& view, Rect clip, std::vector<Hover>& hovered) const;
  void claimCursor();

  Window& _window;
  BackendWindow* _backend = nullptr;
  bool _inside = false;
  Point _location;
  std::vector<Hover> _hovered;
  // Entered/exited events being delivered; a view leaving the window is struck from it.
  std::vector<std::pair<Hover, EventType>> _events;
  bool _delivering = false;
  bool _again = false;
  bool _updateQueued = false;
  foundation::Lifetime _lifetime;
};

}  // namespace appkit
