#pragma once

#include <cairo.h>

#include <memory>

#include "appkit/GraphicsHandles.h"
#include "appkit/WindowBackend.h"
#include "appkit/wayland/LayerPlacement.h"
#include "appkit/wayland/LayerShell.h"
#include "appkit/wayland/ShmFrames.h"
#include "appkit/wayland/WaylandConnection.h"

namespace appkit {

// A window of the Wayland backend: a layer surface in the overlay layer of the main output,
// anchored at its top right, that never takes the keyboard and reserves no room. Its frame
// becomes the surface's margins and size (what lies off the output is cut away), its alpha is
// drawn into the buffer's own, and its frames are copied into shared memory at their own scale.
// Where the compositor tells a surface its scale as a fraction, the frames are drawn at that
// scale and shown through a viewport of the surface's size in points; else at the output's whole
// scale. Changes are committed together before the run loop next sleeps. The surface exists from
// orderFront to orderOut. Main thread only.
class WaylandWindow final : public BackendWindow {
 public:
  WaylandWindow(std::shared_ptr<WaylandConnection> connection, Rect frame, double scale,
                BackendWindowClient& client);
  ~WaylandWindow() override;

  void setFrame(Rect frame) override;
  void orderFront() override;
  void orderOut() override;
  void setLevel(int level) override;
  void setAlpha(double alpha) override;
  void setCursor(Cursor::Kind kind) override;
  void present(cairo_surface_t* frame, PixelRect damage) override;

  // Called by the connection:
  // commits what changed since the last commit;
  void commitPending();
  // hands a pointer event at `x`, `y` (surface points, origin top left) to the client;
  void deliver(EventType type, double x, double y, int clickCount);
  // the main output's scale changed;
  void scaleChanged();
  // the compositor is gone.
  void connectionLost();

 private:
  static void configured(void* data, layer_shell::Surface* surface, std::uint32_t serial,
                         std::uint32_t width, std::uint32_t height);
  static void closed(void* data, layer_shell::Surface* surface);
  static void frameShown(void* data, wl_callback* callback, std::uint32_t time);
#ifdef APPKIT_HAS_FRACTIONAL_SCALE
  static void preferredScale(void* data, wp_fractional_scale_v1* object, std::uint32_t scale);
#endif

  bool usable() const { return !_connection->isLost(); }
  void build();
  void tearDown();
  void setOnScreen(bool onScreen);
  void changed();

  std::shared_ptr<WaylandConnection> _connection;
  BackendWindowClient& _client;
  Rect _frame;
  double _scale;
  Size _output;  // the main output in points, as the frame was last placed on it
  double _alpha = 1;
  Cursor::Kind _cursor = Cursor::Kind::Arrow;
  CairoSurface _lastFrame;  // a reference to the frame last presented

  WaylandObject<wl_surface> _surface;
  WaylandObject<layer_shell::Surface> _layerSurface;
  WaylandObject<wl_callback> _firstFrame;
  std::unique_ptr<ShmFrames> _buffers;
#ifdef APPKIT_HAS_FRACTIONAL_SCALE
  WaylandObject<wp_viewport> _viewport;
  WaylandObject<wp_fractional_scale_v1> _fractionalScale;
#endif
  bool _viewportSized = false;  // the viewport gives the surface its size in points
  bool _wanted = false;         // ordered front and not out since
  bool _configured = false;     // the compositor has placed the layer surface
  std::uint32_t _configureSerial = 0;
  bool _ackPending = false;
  bool _shown = false;     // a buffer was committed
  bool _onScreen = false;  // said to the client
  LayerPlacement _placement;
  int _bufferScale = 1;
};

}  // namespace appkit
