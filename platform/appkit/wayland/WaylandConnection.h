#pragma once

// Private to the Wayland backend.

#include <wayland-client-protocol.h>
#include <wayland-cursor.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "appkit/Cursor.h"
#include "appkit/RunLoop.h"
#include "appkit/WindowBackend.h"
#include "appkit/wayland/LayerShell.h"
#include "appkit/wayland/WaylandObject.h"
#include "foundation/Result.h"

namespace appkit {

class WaylandWindow;

// One connection to the compositor of WAYLAND_DISPLAY, shared by the backend and its windows
// (which may outlive it): the globals a pop-up needs, the outputs, the pointer and its cursor.
// Its descriptor is a source of the main run loop; events are read and dispatched there, the
// windows' pending changes are committed and everything is flushed once before the loop sleeps.
// Main thread only.
class WaylandConnection {
 public:
  // A connection whose compositor answered within `limit` and offers what a pop-up needs
  // (compositor, shared memory, layer shell), registered with the main run loop; otherwise why
  // not. `onLost` is posted to the main queue once, if the connection breaks later. An error
  // whose code is ENOTSUP says the compositor answered but lacks what a pop-up needs, which does
  // not change while it runs.
  static foundation::Result<std::shared_ptr<WaylandConnection>> open(foundation::TimeInterval limit,
                                                                     std::function<void()> onLost);
  // Whether open() would succeed now, without keeping the connection. Any thread.
  static foundation::Result<void> probe(foundation::TimeInterval limit);
  ~WaylandConnection();
  WaylandConnection(const WaylandConnection&) = delete;
  WaylandConnection& operator=(const WaylandConnection&) = delete;

  bool isLost() const { return _lost; }
  wl_compositor* compositor() const { return _compositor.get(); }
  wl_shm* shm() const { return _shm.get(); }
  layer_shell::Shell* layerShell() const { return _layerShell.get(); }
#ifdef APPKIT_HAS_FRACTIONAL_SCALE
  // Both or neither: fractional scales need the one to learn the scale, the other to show it.
  wp_viewporter* viewporter() const { return _fractionalScales ? _viewporter.get() : nullptr; }
  wp_fractional_scale_manager_v1* fractionalScales() const {
    return _viewporter ? _fractionalScales.get() : nullptr;
  }
#endif
  // The scale the compositor last asked a window of ours to draw at, fractional where it can
  // say so; new windows start at it.
  void notePreferredScale(double scale) { _preferredScale = scale; }
  // The output pop-ups go to: the first the compositor announced (null while there is none).
  wl_output* mainOutput() const;
  // The main output in points, at its scale (a whole number: buffers are drawn at it).
  ScreenDescription screen() const;
  foundation::TimeInterval refreshInterval() const;

  void addWindow(wl_surface* surface, WaylandWindow& window);
  void removeWindow(wl_surface* surface);
  // `window` has changes to commit before the loop next sleeps.
  void needsCommit(WaylandWindow& window);
  // Shows `kind` while the pointer is over `window`.
  void setCursor(WaylandWindow& window, Cursor::Kind kind);

 private:
  struct Output {
    std::uint32_t name = 0;
    WaylandObject<wl_output> proxy;
    int scale = 1, pendingScale = 1;
    int width = 0, height = 0;  // the current mode, pixels
    int refresh = 0;            // mHz
  };
  using OutputList = std::vector<std::unique_ptr<Output>>;

  WaylandConnection() = default;
  // A connection with its globals bound, not yet a source of the run loop.
  static foundation::Result<std::shared_ptr<WaylandConnection>> connect(
      foundation::TimeInterval limit);
  // Dispatches until the compositor has answered everything asked so far; false past `limit`.
  bool roundtrip(foundation::TimeInterval limit);
  void readAndDispatch();
  void beforeWaiting();
  void noteLoss();
  void showCursor();
  WaylandWindow* windowOf(wl_surface* surface) const;
  void notifyWindows(void (WaylandWindow::*change)());

  static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                     std::uint32_t version);
  static void globalRemove(void* data, wl_registry* registry, std::uint32_t name);
  static void seatCapabilities(void* data, wl_seat* seat, std::uint32_t capabilities);
  static void outputScale(void* data, wl_output* output, std::int32_t factor);
  static void outputMode(void* data, wl_output* output, std::uint32_t flags, std::int32_t width,
                         std::int32_t height, std::int32_t refresh);
  static void outputDone(void* data, wl_output* output);
  static void pointerEnter(void* data, wl_pointer* pointer, std::uint32_t serial,
                           wl_surface* surface, wl_fixed_t x, wl_fixed_t y);
  static void pointerLeave(void* data, wl_pointer* pointer, std::uint32_t serial,
                           wl_surface* surface);
  static void pointerMotion(void* data, wl_pointer* pointer, std::uint32_t time, wl_fixed_t x,
                            wl_fixed_t y);
  static void pointerButton(void* data, wl_pointer* pointer, std::uint32_t serial,
                            std::uint32_t time, std::uint32_t button, std::uint32_t state);

  struct DisplayCloser {
    void operator()(wl_display* display) const { wl_display_disconnect(display); }
  };
  // Declared first: released last, after every proxy of it.
  std::unique_ptr<wl_display, DisplayCloser> _display;
  WaylandObject<wl_registry> _registry;
  WaylandObject<wl_compositor> _compositor;
  WaylandObject<wl_shm> _shm;
  WaylandObject<layer_shell::Shell> _layerShell;
  WaylandObject<wl_seat> _seat;
  WaylandObject<wl_pointer> _pointer;
#ifdef APPKIT_HAS_FRACTIONAL_SCALE
  WaylandObject<wp_viewporter> _viewporter;
  WaylandObject<wp_fractional_scale_manager_v1> _fractionalScales;
#endif
  OutputList _outputs;
  double _mainScale = 1;
  std::optional<double> _preferredScale;

  // The pointer: the window it is over, the serial of its entry, the cursor shown there.
  WaylandWindow* _pointerWindow = nullptr;
  std::uint32_t _enterSerial = 0;
  bool _buttonDown = false;
  double _pointerX = 0, _pointerY = 0;
  Cursor::Kind _cursor = Cursor::Kind::Arrow;
  std::optional<Cursor::Kind> _cursorShown;
  int _cursorScale = 0;
  WaylandObject<wl_cursor_theme> _cursorTheme;
  WaylandObject<wl_surface> _cursorSurface;

  std::map<wl_surface*, WaylandWindow*> _windows;
  std::vector<WaylandWindow*> _toCommit;
  RunLoop::SourceId _descriptorSource = 0;
  RunLoop::SourceId _beforeWaitingSource = 0;
  std::function<void()> _onLost;
  bool _lost = false;
  bool _lossReported = false;
};

}  // namespace appkit
