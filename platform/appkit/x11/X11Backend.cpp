#include "appkit/x11/X11Backend.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "appkit/MainThreadCheck.h"
#include "appkit/RunLoop.h"
#include "appkit/x11/X11Window.h"
#include "dispatch/MainQueue.h"
#include "foundation/Log.h"

#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <X11/extensions/Xrandr.h>

namespace appkit {
namespace {

constexpr int kMaxLoggedErrors = 20;
int s_loggedErrors = 0;

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

// Returning leaves the process running with the display marked dead: every Xlib call on it
// returns at once from then on.
void onConnectionExit(Display*, void* data) {
  auto* connection = static_cast<X11Connection*>(data);
  if (!connection->lost) {
    connection->lost = true;
    foundation::NSLog("appkit: the connection to the X display was lost");
  }
}

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

}  // namespace

X11Connection::~X11Connection() {
  if (descriptorSource) RunLoop::main().removeDescriptor(descriptorSource);
  if (beforeWaitingSource) RunLoop::main().removeBeforeWaiting(beforeWaitingSource);
  // A broken display is left as it is: Xlib can no longer close it cleanly.
  if (!display || lost) return;
  if (handCursor) XFreeCursor(display, handCursor);
  if (arrowCursor) XFreeCursor(display, arrowCursor);
  if (colormap) XFreeColormap(display, colormap);
  XCloseDisplay(display);
}

void X11Connection::refreshCompositing() {
  if (!lost) composited = XGetSelectionOwner(display, compositorSelection) != None;
}

void X11Connection::dispatchPending() {
  while (!lost && XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.xany.window == root) {
      // Another top-level window appeared or moved in the stack: it may cover ours. (Visibility
      // events cannot tell: the server composites ARGB windows itself.)
      ::Window other = event.type == MapNotify         ? event.xmap.window
                       : event.type == ConfigureNotify ? event.xconfigure.window
                                                       : None;
      if (other != None && !windows.contains(other)) {
        for (const auto& [id, window] : windows) window->keepAbove();
      }
      continue;
    }
    auto it = windows.find(event.xany.window);
    if (it != windows.end()) it->second->handle(event);
  }
  noteLoss();
}

void X11Connection::windowMapped(int change) {
  int before = mappedWindows;
  mappedWindows += change;
  if ((before == 0) != (mappedWindows == 0) && !lost)
    XSelectInput(display, root, mappedWindows > 0 ? SubstructureNotifyMask : NoEventMask);
}

void X11Connection::noteLoss() {
  if (!lost || lossReported) return;
  lossReported = true;
  if (descriptorSource) RunLoop::main().removeDescriptor(descriptorSource);
  if (beforeWaitingSource) RunLoop::main().removeBeforeWaiting(beforeWaitingSource);
  descriptorSource = beforeWaitingSource = 0;
  if (onLost) RunLoop::main().queue().async(onLost);
}

std::unique_ptr<X11Backend> X11Backend::open(const char* name,
                                             std::function<void()> onConnectionLost) {
  APPKIT_ASSERT_MAIN_THREAD();
  Display* display = XOpenDisplay(name);
  if (!display) return nullptr;
  static bool s_handlersInstalled = false;
  if (!s_handlersInstalled) {
    s_handlersInstalled = true;
    XSetErrorHandler(onProtocolError);
    XSetIOErrorHandler(onConnectionError);
  }
  auto connection = std::make_shared<X11Connection>();
  X11Connection& x = *connection;
  x.display = display;
  x.onLost = std::move(onConnectionLost);
  XSetIOErrorExitHandler(display, onConnectionExit, connection.get());
  x.screen = DefaultScreen(display);
  x.root = RootWindow(display, x.screen);

  XVisualInfo info{};
  if (XMatchVisualInfo(display, x.screen, 32, TrueColor, &info)) {
    x.visual = info.visual;
    x.depth = 32;
  } else {
    // No alpha channel: the shape mask still cuts the transparent pixels away.
    x.visual = DefaultVisual(display, x.screen);
    x.depth = DefaultDepth(display, x.screen);
  }
  x.colormap = XCreateColormap(display, x.root, x.visual, AllocNone);
  x.handCursor = XCreateFontCursor(display, XC_hand2);
  x.arrowCursor = XCreateFontCursor(display, XC_left_ptr);
  x.windowType = XInternAtom(display, "_NET_WM_WINDOW_TYPE", False);
  x.notificationType = XInternAtom(display, "_NET_WM_WINDOW_TYPE_NOTIFICATION", False);
  x.state = XInternAtom(display, "_NET_WM_STATE", False);
  x.stateAbove = XInternAtom(display, "_NET_WM_STATE_ABOVE", False);
  x.opacity = XInternAtom(display, "_NET_WM_WINDOW_OPACITY", False);
  x.pid = XInternAtom(display, "_NET_WM_PID", False);
  std::string selection = "_NET_WM_CM_S" + std::to_string(x.screen);
  x.compositorSelection = XInternAtom(display, selection.c_str(), False);
  x.refreshCompositing();

  double scale =
      MonitorLayout::scaleFrom(std::getenv("GDK_SCALE"), XResourceManagerString(display));
  x.layout = MonitorLayout::choose(queryMonitors(display, x.root), DisplayWidth(display, x.screen),
                                   DisplayHeight(display, x.screen), scale);

  std::weak_ptr<X11Connection> weak = connection;
  x.descriptorSource = RunLoop::main().addDescriptor(ConnectionNumber(display), [weak] {
    if (auto alive = weak.lock()) alive->dispatchPending();
  });
  x.beforeWaitingSource = RunLoop::main().addBeforeWaiting([weak] {
    auto alive = weak.lock();
    if (!alive) return;
    if (!alive->lost && XEventsQueued(alive->display, QueuedAfterFlush) > 0)
      alive->dispatchPending();
    alive->noteLoss();
  });
  XFlush(display);
  return std::unique_ptr<X11Backend>(new X11Backend(std::move(connection)));
}

X11Backend::X11Backend(std::shared_ptr<X11Connection> connection)
    : _connection(std::move(connection)) {}

X11Backend::~X11Backend() = default;

ScreenDescription X11Backend::mainScreen() const {
  APPKIT_ASSERT_MAIN_THREAD();
  X11Connection& x = *_connection;
  if (!x.lost) {
    // Monitors come and go: asked again each time.
    std::vector<Monitor> monitors = queryMonitors(x.display, x.root);
    if (!x.lost) {
      x.layout = MonitorLayout::choose(monitors, DisplayWidth(x.display, x.screen),
                                       DisplayHeight(x.display, x.screen), x.layout.scale());
    }
    x.noteLoss();
  }
  return x.layout.screen();
}

foundation::TimeInterval X11Backend::refreshInterval() const {
  return foundation::TimeInterval::seconds(1.0 / 60);
}

std::unique_ptr<BackendWindow> X11Backend::createWindow(Rect frame, double scale,
                                                        BackendWindowClient& client) {
  APPKIT_ASSERT_MAIN_THREAD();
  auto window = std::make_unique<X11Window>(_connection, frame, scale, client);
  if (!_connection->lost) XFlush(_connection->display);
  _connection->noteLoss();
  return window;
}

bool X11Backend::isConnectionLost() const { return _connection->lost; }

}  // namespace appkit
