#pragma once

// Private to the X11 backend: includes Xlib, whose macros must not reach portable code.

#include <X11/Xlib.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include "appkit/Cursor.h"
#include "appkit/RunLoop.h"
#include "appkit/x11/MonitorLayout.h"

namespace appkit {

class X11Window;

// One open display, shared by the backend and its windows (which may outlive it). It follows
// what a shown window depends on: whether a compositing manager runs, the display's scale (the
// settings manager's, live), and whether the screen is locked or blanked (the screen saver's
// state, or a full-screen override-redirect window over the main monitor). The top-level
// windows are watched only while a window of ours wants to be shown: an idle connection hears
// of nothing but a compositor or settings manager coming and going. Requests are flushed once,
// before the main run loop sleeps. Main thread only.
class X11Connection {
 public:
  // The connection to `name` (DISPLAY when null), registered with the main run loop; null when
  // it does not open. `onLost` is posted to the main queue once, if the connection breaks.
  static std::shared_ptr<X11Connection> open(const char* name, std::function<void()> onLost);
  ~X11Connection();
  X11Connection(const X11Connection&) = delete;
  X11Connection& operator=(const X11Connection&) = delete;

  Display* display() const { return _display; }
  ::Window root() const { return _root; }
  bool isLost() const { return _lost; }
  // Whether a compositing manager owns this screen's _NET_WM_CM_S<n> selection.
  bool isComposited() const { return _composited; }
  // Whether the screen is locked or blanked, as far as the windows of ours that want to be shown
  // need to know (followed only while one does).
  bool isLocked() const { return _locked; }
  const MonitorLayout& layout() const { return _layout; }
  // Asks the server again for the monitors, the work area and the docks' struts (round trips).
  void refreshLayout();

  // The visual, depth and colormap of an ARGB window (`argb`, only when hasArgbVisual()) or of
  // a plain one.
  bool hasArgbVisual() const { return _argbVisual != nullptr; }
  Visual* visual(bool argb) const { return argb ? _argbVisual : _plainVisual; }
  int depth(bool argb) const { return argb ? 32 : _plainDepth; }
  Colormap colormap(bool argb) const { return argb ? _argbColormap : _plainColormap; }
  // Whether windows of that visual take an ARGB32 frame's pixels as they are (32 bits a pixel,
  // 8 bits each of red, green and blue where cairo keeps them): put without conversion.
  bool takesFramesAsTheyAre(bool argb) const { return argb ? _argbTakesFrames : _plainTakesFrames; }
  ::Cursor cursor(Cursor::Kind kind) const;

  enum class Name { WindowType, Notification, State, StateAbove, Opacity, Pid, Count };
  Atom atom(Name name) const { return _atoms[int(name)]; }

  void addWindow(::Window id, X11Window& window);
  void removeWindow(::Window id);
  // Counts a window of ours that wants to be shown (+1) or no longer does (-1): the other
  // top-level windows and the screen saver are followed while the count is above 0.
  void windowWanted(int change);
  // Puts `window` (mapped) just above the highest ordinary window over it, if any, staying below
  // the override-redirect windows (menus, other pop-ups) over that one. Bounded: once it has had
  // to do so a few times within a second, it stops until the windows are next watched anew.
  void keepAbove(::Window window);

  // After a broken connection: stops watching it and reports the loss, once.
  void noteLoss();

 private:
  X11Connection() = default;
  void dispatchPending();
  void handleRootEvent(const XEvent& event);
  void startWatching();
  void stopWatching();
  // Whether the override-redirect window at `x`, `y` of `width` × `height` (border included)
  // covers the main monitor.
  bool coversMain(int x, int y, int width, int height) const;
  // A top-level window of another client is shown, at `x`, `y` of `width` × `height` (border
  // included).
  void noteMapped(::Window id, bool overrideRedirect, int x, int y, int width, int height);
  void updateLocked();
  void readCompositor();
  void readScale();
  void notifyWindows(void (X11Window::*change)());

  Display* _display = nullptr;
  int _screen = 0;
  ::Window _root = 0;
  Visual* _argbVisual = nullptr;
  Visual* _plainVisual = nullptr;
  int _plainDepth = 0;
  bool _argbTakesFrames = false, _plainTakesFrames = false;
  Colormap _argbColormap = 0;
  Colormap _plainColormap = 0;
  ::Cursor _handCursor = 0;
  ::Cursor _arrowCursor = 0;
  Atom _atoms[int(Name::Count)] = {};
  Atom _compositorSelection = 0, _settingsSelection = 0, _settingsProperty = 0, _workArea = 0,
       _currentDesktop = 0, _clientList = 0, _strutPartial = 0;
  int _fixesEventBase = -1;
  int _screenSaverEventBase = -1;
  ::Window _settingsOwner = 0;
  MonitorLayout _layout;

  std::map<::Window, X11Window*> _windows;
  int _wantedWindows = 0;
  bool _composited = false;
  bool _screenSaverOn = false;
  bool _locked = false;
  // The mapped top-level windows of others.
  struct Other {
    bool overrideRedirect = false;
    bool coversMain = false;  // an override-redirect window over the whole main monitor
  };
  std::map<::Window, Other> _others;
  // Raises of this showing in the last second, for the bound on restacking.
  std::chrono::steady_clock::time_point _raiseWindowStart;
  int _raisesInWindow = 0;

  RunLoop::SourceId _descriptorSource = 0;
  RunLoop::SourceId _beforeWaitingSource = 0;
  std::function<void()> _onLost;
  bool _lost = false;
  bool _lossReported = false;
  static void onExit(Display* display, void* self);
};

}  // namespace appkit
