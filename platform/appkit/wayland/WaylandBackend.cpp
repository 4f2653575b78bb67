#include "appkit/wayland/WaylandBackend.h"

#include "appkit/MainThreadCheck.h"
#include "appkit/wayland/WaylandConnection.h"
#include "appkit/wayland/WaylandWindow.h"

namespace appkit {

foundation::Result<std::unique_ptr<WaylandBackend>> WaylandBackend::open(
    foundation::TimeInterval limit, std::function<void()> onConnectionLost) {
  APPKIT_ASSERT_MAIN_THREAD();
  auto connection = WaylandConnection::open(limit, std::move(onConnectionLost));
  if (!connection) return connection.error();
  return std::unique_ptr<WaylandBackend>(new WaylandBackend(std::move(connection).value()));
}

foundation::Result<void> WaylandBackend::probe(foundation::TimeInterval limit) {
  return WaylandConnection::probe(limit);
}

WaylandBackend::WaylandBackend(std::shared_ptr<WaylandConnection> connection)
    : _connection(std::move(connection)) {}

WaylandBackend::~WaylandBackend() = default;

ScreenDescription WaylandBackend::mainScreen() const {
  APPKIT_ASSERT_MAIN_THREAD();
  return _connection->screen();
}

foundation::TimeInterval WaylandBackend::refreshInterval() const {
  return _connection->refreshInterval();
}

std::unique_ptr<BackendWindow> WaylandBackend::createWindow(Rect frame, double scale,
                                                            BackendWindowClient& client) {
  APPKIT_ASSERT_MAIN_THREAD();
  return std::make_unique<WaylandWindow>(_connection, frame, scale, client);
}

}  // namespace appkit
