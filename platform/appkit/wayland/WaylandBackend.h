#pragma once

#include <functional>
#include <memory>

#include "appkit/WindowBackend.h"
#include "foundation/Result.h"

namespace appkit {

class WaylandConnection;

// The backend of a Wayland compositor that offers the layer shell: each window is a layer
// surface (see WaylandWindow) on the main output, the first the compositor announced. The main
// screen is that output in points (its current mode over its scale); the scale is the output's,
// a whole number, and buffers are drawn at it. Events are read on the main run loop, with no
// thread and no timer of the backend's own. Main thread only.
class WaylandBackend final : public WindowBackend {
 public:
  // A backend on the compositor of WAYLAND_DISPLAY, or why there is none (it does not answer
  // within `limit`, or lacks the layer shell: then the error's code is ENOTSUP, for good).
  // `onConnectionLost` is called once, from the main queue, if the connection breaks later.
  static foundation::Result<std::unique_ptr<WaylandBackend>> open(
      foundation::TimeInterval limit, std::function<void()> onConnectionLost);
  // Whether open() would succeed now (the connection is not kept). Any thread.
  static foundation::Result<void> probe(foundation::TimeInterval limit);
  ~WaylandBackend() override;

  std::string name() const override { return "Wayland"; }
  ScreenDescription mainScreen() const override;
  foundation::TimeInterval refreshInterval() const override;
  std::unique_ptr<BackendWindow> createWindow(Rect frame, double scale,
                                              BackendWindowClient& client) override;

 private:
  explicit WaylandBackend(std::shared_ptr<WaylandConnection> connection);
  std::shared_ptr<WaylandConnection> _connection;
};

}  // namespace appkit
