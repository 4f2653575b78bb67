#pragma once

// Private to the X11 backend: includes Xlib, whose macros must not reach portable code.

#include <X11/Xlib.h>

#include <functional>
#include <map>

#include "appkit/RunLoop.h"
#include "appkit/x11/MonitorLayout.h"

namespace appkit {

class X11Window;

// One open display, shared by the backend and its windows (which may outlive it). Main thread.
struct X11Connection {
  Display* display = nullptr;
  int screen = 0;
  ::Window root = 0;
  Visual* visual = nullptr;
  int depth = 0;
  Colormap colormap = 0;
  ::Cursor handCursor = 0;
  ::Cursor arrowCursor = 0;
  Atom windowType = 0, notificationType = 0, state = 0, stateAbove = 0, opacity = 0,
       compositorSelection = 0, pid = 0;
  MonitorLayout layout;
  std::map<::Window, X11Window*> windows;
  int mappedWindows = 0;  // while any is mapped, the root's stacking changes are watched
  RunLoop::SourceId descriptorSource = 0;
  RunLoop::SourceId beforeWaitingSource = 0;
  std::function<void()> onLost;
  bool composited = false;  // a compositing manager ran when last asked (see refreshCompositing)
  bool lost = false;        // set by Xlib's I/O error exit handler
  bool lossReported = false;

  ~X11Connection();
  // Asks again whether a compositing manager owns this screen's _NET_WM_CM_S<n> selection (a
  // round trip): before a window shows, as one may have started or ended meanwhile.
  void refreshCompositing();
  // Hands every event Xlib has or can read without blocking to its window.
  void dispatchPending();
  // Counts a window of ours mapped (+1) or unmapped (-1), watching the other top-level windows
  // only while one is shown: an idle connection hears of nothing.
  void windowMapped(int change);
  // After a broken connection: stops watching it and reports the loss, once.
  void noteLoss();
};

}  // namespace appkit
