#include "appkit/x11/X11Backend.h"

#include <cairo-xlib.h>

#include "appkit/GraphicsHandles.h"
#include "appkit/MainThreadCheck.h"
#include "appkit/x11/X11Connection.h"
#include "appkit/x11/X11Window.h"

namespace appkit {

std::unique_ptr<X11Backend> X11Backend::open(const char* name,
                                             std::function<void()> onConnectionLost) {
  APPKIT_ASSERT_MAIN_THREAD();
  std::shared_ptr<X11Connection> connection =
      X11Connection::open(name, std::move(onConnectionLost));
  if (!connection) return nullptr;
  return std::unique_ptr<X11Backend>(new X11Backend(std::move(connection)));
}

X11Backend::X11Backend(std::shared_ptr<X11Connection> connection)
    : _connection(std::move(connection)) {}

X11Backend::~X11Backend() = default;

ScreenDescription X11Backend::mainScreen() const {
  APPKIT_ASSERT_MAIN_THREAD();
  // Monitors and panels come and go: asked again each time.
  _connection->refreshLayout();
  return _connection->layout().screen();
}

double X11Backend::mainScreenScale() const {
  APPKIT_ASSERT_MAIN_THREAD();
  // Followed live from the settings manager: no need to ask the server.
  return _connection->layout().scale();
}

foundation::TimeInterval X11Backend::refreshInterval() const {
  return foundation::TimeInterval::seconds(1.0 / 60);
}

void X11Backend::prepare() {
  APPKIT_ASSERT_MAIN_THREAD();
  if (_connection->isLost()) return;
  // Cairo sets up its state of a display and its screen (extensions, resources, round trips) with
  // the first surface made on them: a surface of the root window that is never drawn on.
  CairoSurface(cairo_xlib_surface_create(_connection->display(), _connection->root(),
                                         _connection->visual(false), 1, 1));
}

std::unique_ptr<BackendWindow> X11Backend::createWindow(Rect frame, double scale,
                                                        BackendWindowClient& client) {
  APPKIT_ASSERT_MAIN_THREAD();
  return std::make_unique<X11Window>(_connection, frame, scale, client);
}

bool X11Backend::isConnectionLost() const { return _connection->isLost(); }

}  // namespace appkit
