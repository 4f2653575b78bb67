#include "appkit/x11/X11Connection.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "appkit/x11/X11Window.h"
#include "appkit/x11/XSettings.h"
#include "dispatch/MainQueue.h"
#include "foundation/Log.h"

#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/scrnsaver.h>

namespace appkit {
namespace {

constexpr int kMaxLoggedErrors = 20;
int s_loggedErrors = 0;
// At most this many raises within a second of each other in one showing: a pop-up that something
// keeps covering stays below it.
constexpr int kMaxRaisesPerSecond = 10;

// Protocol errors (a request about a window gone meanwhile) are logged, never fatal.
int onProtocolError(Display* display, XErrorEvent* error) {
  if (s_loggedErrors >= kMaxLoggedErrors) return 0;
  char text[256] = "";
  XGetErrorText(display, error->error_code, text, sizeof text);
  foundation::NSLog("appkit: X error %s (request %d.%d)%s", text, int(error->request_code),
                    int(error->minor_code),
                    ++s_loggedErrors == kMaxLoggedErrors ? "; further errors are not logged" : "");
  return 0;
}

// Called first on a broken connection; the exit handler of the display then notes the loss.
int onConnectionError(Display*) { return 0; }

std::vector<Monitor> queryMonitors(Display* display, ::Window root) {
  std::vector<Monitor> result;
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (!XRRQueryExtension(display, &eventBase, &errorBase) ||
      !XRRQueryVersion(display, &major, &minor) || major < 1 || (major == 1 && minor < 5))
    return result;
  int count = 0;
  XRRMonitorInfo* monitors = XRRGetMonitors(display, root, True, &count);
  if (!monitors) return result;
  for (int i = 0; i < count; ++i) {
    result.push_back(Monitor{monitors[i].x, monitors[i].y, monitors[i].width, monitors[i].height,
                             monitors[i].primary != 0});
  }
  XRRFreeMonitors(monitors);
  return result;
}

// Whether a window of `visual` and `depth` takes the pixels of an ARGB32 image surface as they are:
// 32 bits a pixel, red, green and blue in the bytes where cairo keeps them.
bool visualTakesFrames(Display* display, const Visual* visual, int depth) {
  if (!visual || visual->c_class != TrueColor || visual->red_mask != 0xFF0000 ||
      visual->green_mask != 0xFF00 || visual->blue_mask != 0xFF || (depth != 24 && depth != 32))
    return false;
  int count = 0;
  XPixmapFormatValues* formats = XListPixmapFormats(display, &count);
  bool wholeWords = false;
  for (int i = 0; i < count; ++i) {
    if (formats[i].depth == depth) wholeWords = formats[i].bits_per_pixel == 32;
  }
  if (formats) XFree(formats);
  return wholeWords;
}

// One property to read: its 32-bit items, at most `most` of them, when it is of `type`.
struct PropertyAsk {
  ::Window window;
  Atom property;
  Atom type;
  long most;
};

// The items of each property asked, all asked at once (one wait for the server however many);
// empty for a property that is absent, of another type, or on a window that is gone.
std::vector<std::vector<long>> cardinals(Display* display, const std::vector<PropertyAsk>& asks) {
  xcb_connection_t* connection = XGetXCBConnection(display);
  std::vector<xcb_get_property_cookie_t> asked;
  asked.reserve(asks.size());
  for (const PropertyAsk& ask : asks) {
    asked.push_back(xcb_get_property(connection, 0, xcb_window_t(ask.window),
                                     xcb_atom_t(ask.property), xcb_atom_t(ask.type), 0,
                                     std::uint32_t(ask.most)));
  }
  std::vector<std::vector<long>> values(asks.size());
  for (std::size_t i = 0; i < asked.size(); ++i) {
    xcb_generic_error_t* error = nullptr;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, asked[i], &error);
    std::free(error);
    if (reply && reply->format == 32) {
      const auto* items = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
      values[i].assign(items, items + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
  }
  return values;
}

}  // namespace

void X11Connection::onExit(Display*, void* self) {
  // Returning leaves the process running with the display marked dead: every Xlib call on it
  // returns at once from then on.
  auto* connection = static_cast<X11Connection*>(self);
  if (!connection->_lost) {
    connection->_lost = true;
    foundation::NSLog("appkit: the connection to the X display was lost");
  }
}

std::shared_ptr<X11Connection> X11Connection::open(const char* name, std::function<void()> onLost) {
  Display* display = XOpenDisplay(name);
  if (!display) return nullptr;
  static bool s_handlersInstalled = false;
  if (!s_handlersInstalled) {
    s_handlersInstalled = true;
    XSetErrorHandler(onProtocolError);
    XSetIOErrorHandler(onConnectionError);
  }
  std::shared_ptr<X11Connection> connection(new X11Connection());
  X11Connection& x = *connection;
  x._display = display;
  x._onLost = std::move(onLost);
  XSetIOErrorExitHandler(display, onExit, connection.get());
  x._screen = DefaultScreen(display);
  x._root = RootWindow(display, x._screen);

  XVisualInfo info{};
  if (XMatchVisualInfo(display, x._screen, 32, TrueColor, &info)) {
    x._argbVisual = info.visual;
    x._argbColormap = XCreateColormap(display, x._root, info.visual, AllocNone);
  }
  x._plainVisual = DefaultVisual(display, x._screen);
  x._plainDepth = DefaultDepth(display, x._screen);
  x._plainColormap = DefaultColormap(display, x._screen);
  x._argbTakesFrames = x._argbVisual && visualTakesFrames(display, x._argbVisual, 32);
  x._plainTakesFrames = visualTakesFrames(display, x._plainVisual, x._plainDepth);
  x._handCursor = XCreateFontCursor(display, XC_hand2);
  x._arrowCursor = XCreateFontCursor(display, XC_left_ptr);
  const char* names[] = {"_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_NOTIFICATION", "_NET_WM_STATE",
                         "_NET_WM_STATE_ABOVE", "_NET_WM_WINDOW_OPACITY",           "_NET_WM_PID"};
  for (int i = 0; i < int(Name::Count); ++i) x._atoms[i] = XInternAtom(display, names[i], False);
  std::string screen = std::to_string(x._screen);
  x._compositorSelection = XInternAtom(display, ("_NET_WM_CM_S" + screen).c_str(), False);
  x._settingsSelection = XInternAtom(display, ("_XSETTINGS_S" + screen).c_str(), False);
  x._settingsProperty = XInternAtom(display, "_XSETTINGS_SETTINGS", False);
  x._workArea = XInternAtom(display, "_NET_WORKAREA", False);
  x._currentDesktop = XInternAtom(display, "_NET_CURRENT_DESKTOP", False);
  x._clientList = XInternAtom(display, "_NET_CLIENT_LIST", False);
  x._strutPartial = XInternAtom(display, "_NET_WM_STRUT_PARTIAL", False);

  // The owners of the compositor's and the settings manager's selections are followed as they
  // come and go.
  int errorBase = 0;
  if (XFixesQueryExtension(display, &x._fixesEventBase, &errorBase)) {
    unsigned long mask = XFixesSetSelectionOwnerNotifyMask |
                         XFixesSelectionWindowDestroyNotifyMask |
                         XFixesSelectionClientCloseNotifyMask;
    XFixesSelectSelectionInput(display, x._root, x._compositorSelection, mask);
    XFixesSelectSelectionInput(display, x._root, x._settingsSelection, mask);
  } else {
    x._fixesEventBase = -1;
  }
  if (!XScreenSaverQueryExtension(display, &x._screenSaverEventBase, &errorBase))
    x._screenSaverEventBase = -1;
  x.readCompositor();
  x.readScale();
  x.refreshLayout();

  std::weak_ptr<X11Connection> weak = connection;
  x._descriptorSource = RunLoop::main().addDescriptor(ConnectionNumber(display), [weak] {
    if (auto alive = weak.lock()) alive->dispatchPending();
  });
  x._beforeWaitingSource = RunLoop::main().addBeforeWaiting([weak] {
    auto alive = weak.lock();
    if (!alive) return;
    // The one flush of everything asked since the loop last slept.
    if (!alive->_lost && XEventsQueued(alive->_display, QueuedAfterFlush) > 0)
      alive->dispatchPending();
    alive->noteLoss();
  });
  return connection;
}

X11Connection::~X11Connection() {
  if (_descriptorSource) RunLoop::main().removeDescriptor(_descriptorSource);
  if (_beforeWaitingSource) RunLoop::main().removeBeforeWaiting(_beforeWaitingSource);
  // A broken display is left as it is: Xlib can no longer close it cleanly.
  if (!_display || _lost) return;
  if (_handCursor) XFreeCursor(_display, _handCursor);
  if (_arrowCursor) XFreeCursor(_display, _arrowCursor);
  if (_argbColormap) XFreeColormap(_display, _argbColormap);
  XCloseDisplay(_display);
}

::Cursor X11Connection::cursor(Cursor::Kind kind) const {
  return kind == Cursor::Kind::PointingHand ? _handCursor : _arrowCursor;
}

void X11Connection::refreshLayout() {
  if (_lost) return;
  int width = DisplayWidth(_display, _screen), height = DisplayHeight(_display, _screen);
  _layout = MonitorLayout::choose(queryMonitors(_display, _root), width, height, _layout.scale());

  std::vector<std::vector<long>> root =
      cardinals(_display, {{_root, _workArea, XA_CARDINAL, 1024},
                           {_root, _currentDesktop, XA_CARDINAL, 1},
                           {_root, _clientList, XA_WINDOW, 4096}});
  const std::vector<long>& areas = root[0];
  const std::vector<long>& desktop = root[1];
  std::optional<RootRect> area;
  std::size_t index = desktop.empty() || desktop[0] < 0 ? 0 : std::size_t(desktop[0]);
  if (areas.size() >= 4 * (index + 1)) {
    const long* rect = &areas[4 * index];
    area = RootRect{int(rect[0]), int(rect[1]), int(rect[2]), int(rect[3])};
  }
  // Docks are among the window manager's clients; without one, among the top-level windows.
  std::vector<long> clients = std::move(root[2]);
  if (clients.empty()) {
    ::Window rootReturn = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(_display, _root, &rootReturn, &parent, &children, &count) && children)
      clients.assign(children, children + count);
    if (children) XFree(children);
  }
  std::vector<PropertyAsk> strutsAsked;
  for (long client : clients) {
    if (!_windows.contains(::Window(client)))
      strutsAsked.push_back({::Window(client), _strutPartial, XA_CARDINAL, 12});
  }
  std::vector<Strut> struts;
  for (const std::vector<long>& v : cardinals(_display, strutsAsked)) {
    if (v.size() < 12) continue;
    struts.push_back(
        Strut{v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11]});
  }
  _layout.reserve(area, struts, width, height);
  noteLoss();
}

void X11Connection::readCompositor() {
  if (!_lost) _composited = XGetSelectionOwner(_display, _compositorSelection) != None;
}

void X11Connection::readScale() {
  if (_lost) return;
  std::optional<double> settingsScale;
  _settingsOwner = XGetSelectionOwner(_display, _settingsSelection);
  if (_settingsOwner != None) {
    // Its property changes are heard of from now on.
    XSelectInput(_display, _settingsOwner, PropertyChangeMask);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(_display, _settingsOwner, _settingsProperty, 0, 1 << 16, False,
                           _settingsProperty, &type, &format, &count, &after, &data) == Success &&
        data && format == 8) {
      settingsScale = XSettings::parse(data, count).scale();
    }
    if (data) XFree(data);
  }
  double scale = MonitorLayout::scaleFrom(std::getenv("GDK_SCALE"), settingsScale,
                                          XResourceManagerString(_display));
  if (scale == _layout.scale()) return;
  int width = DisplayWidth(_display, _screen), height = DisplayHeight(_display, _screen);
  _layout = MonitorLayout::choose({}, width, height, scale);
  refreshLayout();
}

void X11Connection::addWindow(::Window id, X11Window& window) { _windows[id] = &window; }

void X11Connection::removeWindow(::Window id) { _windows.erase(id); }

void X11Connection::windowWanted(int change) {
  int before = _wantedWindows;
  _wantedWindows += change;
  if (_lost) return;
  if (before == 0 && _wantedWindows > 0) startWatching();
  if (before > 0 && _wantedWindows == 0) stopWatching();
}

void X11Connection::startWatching() {
  XSelectInput(_display, _root, SubstructureNotifyMask);
  _screenSaverOn = false;
  if (_screenSaverEventBase >= 0) {
    XScreenSaverSelectInput(_display, _root, ScreenSaverNotifyMask);
    if (XScreenSaverInfo* info = XScreenSaverAllocInfo()) {
      if (XScreenSaverQueryInfo(_display, _root, info))
        _screenSaverOn = info->state == ScreenSaverOn;
      XFree(info);
    }
  }
  // The windows already shown (a locker may be up before we are), all asked at once: a desktop
  // has a hundred or more top-level windows, and one round trip each would keep the pop-up waiting.
  _others.clear();
  xcb_connection_t* connection = XGetXCBConnection(_display);
  xcb_generic_error_t* error = nullptr;
  xcb_query_tree_reply_t* tree =
      xcb_query_tree_reply(connection, xcb_query_tree(connection, _root), &error);
  std::free(error);
  if (tree) {
    struct Asked {
      xcb_window_t id;
      xcb_get_window_attributes_cookie_t attributes;
      xcb_get_geometry_cookie_t geometry;
    };
    std::vector<Asked> asked;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
      if (_windows.contains(children[i])) continue;
      asked.push_back({children[i], xcb_get_window_attributes(connection, children[i]),
                       xcb_get_geometry(connection, children[i])});
    }
    for (const Asked& one : asked) {
      // A window gone meanwhile answers with an error, which is dropped.
      xcb_get_window_attributes_reply_t* attributes =
          xcb_get_window_attributes_reply(connection, one.attributes, &error);
      std::free(error);
      xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(connection, one.geometry, &error);
      std::free(error);
      if (attributes && geometry && attributes->map_state == XCB_MAP_STATE_VIEWABLE) {
        const int border = 2 * geometry->border_width;
        noteMapped(one.id, attributes->override_redirect != 0, geometry->x, geometry->y,
                   geometry->width + border, geometry->height + border);
      }
      std::free(attributes);
      std::free(geometry);
    }
    std::free(tree);
  }
  _raisesInWindow = 0;
  updateLocked();
}

void X11Connection::stopWatching() {
  XSelectInput(_display, _root, NoEventMask);
  if (_screenSaverEventBase >= 0) XScreenSaverSelectInput(_display, _root, 0);
  _others.clear();
  _screenSaverOn = false;
  _locked = false;
}

bool X11Connection::coversMain(int x, int y, int width, int height) const {
  const Monitor& main = _layout.main();
  return x <= main.x && y <= main.y && long(x) + width >= long(main.x) + main.width &&
         long(y) + height >= long(main.y) + main.height;
}

void X11Connection::noteMapped(::Window id, bool overrideRedirect, int x, int y, int width,
                               int height) {
  _others[id] = Other{overrideRedirect, overrideRedirect && coversMain(x, y, width, height)};
}

void X11Connection::updateLocked() {
  bool locked = _screenSaverOn;
  for (const auto& [id, other] : _others) locked |= other.coversMain;
  if (locked == _locked) return;
  _locked = locked;
  notifyWindows(&X11Window::lockChanged);
}

void X11Connection::notifyWindows(void (X11Window::*change)()) {
  // A copy: a window may go while it is told.
  std::vector<X11Window*> windows;
  for (const auto& [id, window] : _windows) windows.push_back(window);
  for (X11Window* window : windows) {
    bool stillThere = false;
    for (const auto& [id, known] : _windows) stillThere |= known == window;
    if (stillThere) (window->*change)();
  }
}

void X11Connection::keepAbove(::Window window) {
  if (_lost) return;
  auto now = std::chrono::steady_clock::now();
  // Something that keeps covering the window wins: past the bound, the window stays where it
  // is until it is shown again.
  if (_raisesInWindow >= kMaxRaisesPerSecond) return;
  if (now - _raiseWindowStart > std::chrono::seconds(1)) {
    _raiseWindowStart = now;
    _raisesInWindow = 0;
  }
  ::Window rootReturn = 0, parent = 0, *children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(_display, _root, &rootReturn, &parent, &children, &count) || !children) return;
  // Bottom to top: the last ordinary window above ours.
  ::Window highest = None;
  bool aboveOurs = false;
  for (unsigned int i = 0; i < count; ++i) {
    if (children[i] == window) {
      aboveOurs = true;
      continue;
    }
    auto other = _others.find(children[i]);
    if (aboveOurs && other != _others.end() && !other->second.overrideRedirect)
      highest = children[i];
  }
  XFree(children);
  if (highest == None) return;
  ++_raisesInWindow;
  XWindowChanges changes{};
  changes.sibling = highest;
  changes.stack_mode = Above;
  XConfigureWindow(_display, window, CWSibling | CWStackMode, &changes);
}

void X11Connection::handleRootEvent(const XEvent& event) {
  switch (event.type) {
    case MapNotify: {
      const XMapEvent& map = event.xmap;
      if (_windows.contains(map.window)) return;
      XWindowAttributes attributes{};
      if (!XGetWindowAttributes(_display, map.window, &attributes)) return;
      const int border = 2 * attributes.border_width;
      noteMapped(map.window, attributes.override_redirect != 0, attributes.x, attributes.y,
                 attributes.width + border, attributes.height + border);
      if (map.override_redirect) {
        updateLocked();
      } else {
        // An ordinary window came up, perhaps over ours.
        notifyWindows(&X11Window::keepAbove);
      }
      return;
    }
    case ConfigureNotify: {
      const XConfigureEvent& configure = event.xconfigure;
      auto it = _others.find(configure.window);
      if (it == _others.end()) return;
      if (configure.override_redirect) {
        int border = 2 * configure.border_width;
        it->second.coversMain = coversMain(configure.x, configure.y, configure.width + border,
                                           configure.height + border);
        updateLocked();
      } else {
        notifyWindows(&X11Window::keepAbove);
      }
      return;
    }
    case UnmapNotify:
    case DestroyNotify: {
      ::Window gone = event.type == UnmapNotify ? event.xunmap.window : event.xdestroywindow.window;
      if (_others.erase(gone)) updateLocked();
      return;
    }
    default:
      return;
  }
}

void X11Connection::dispatchPending() {
  while (!_lost && XPending(_display) > 0) {
    XEvent event;
    XNextEvent(_display, &event);
    if (_fixesEventBase >= 0 && event.type == _fixesEventBase + XFixesSelectionNotify) {
      const auto& selection = reinterpret_cast<const XFixesSelectionNotifyEvent&>(event);
      if (selection.selection == _compositorSelection) {
        bool was = _composited;
        _composited = selection.subtype == XFixesSetSelectionOwnerNotify && selection.owner != None;
        if (was != _composited) notifyWindows(&X11Window::compositingChanged);
      } else if (selection.selection == _settingsSelection) {
        double was = _layout.scale();
        readScale();
        if (was != _layout.scale()) notifyWindows(&X11Window::scaleChanged);
      }
      continue;
    }
    if (_screenSaverEventBase >= 0 && event.type == _screenSaverEventBase + ScreenSaverNotify) {
      if (_wantedWindows > 0) {
        _screenSaverOn =
            reinterpret_cast<const XScreenSaverNotifyEvent&>(event).state == ScreenSaverOn;
        updateLocked();
      }
      continue;
    }
    if (event.type == PropertyNotify && event.xproperty.window == _settingsOwner &&
        _settingsOwner != None) {
      if (event.xproperty.atom == _settingsProperty) {
        double was = _layout.scale();
        readScale();
        if (was != _layout.scale()) notifyWindows(&X11Window::scaleChanged);
      }
      continue;
    }
    // Substructure events name the root as the window they are reported on.
    if (event.xany.window == _root) {
      if (_wantedWindows > 0) handleRootEvent(event);
      continue;
    }
    auto it = _windows.find(event.xany.window);
    if (it != _windows.end()) it->second->handle(event);
  }
  noteLoss();
}

void X11Connection::noteLoss() {
  if (!_lost || _lossReported) return;
  _lossReported = true;
  if (_descriptorSource) RunLoop::main().removeDescriptor(_descriptorSource);
  if (_beforeWaitingSource) RunLoop::main().removeBeforeWaiting(_beforeWaitingSource);
  _descriptorSource = _beforeWaitingSource = 0;
  if (_onLost) RunLoop::main().queue().async(_onLost);
}

}  // namespace appkit
