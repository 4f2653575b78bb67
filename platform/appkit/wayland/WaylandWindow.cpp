#include "appkit/wayland/WaylandWindow.h"

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "appkit/MainThreadCheck.h"

namespace appkit {

WaylandWindow::WaylandWindow(std::shared_ptr<WaylandConnection> connection, Rect frame,
                             double scale, BackendWindowClient& client)
    : _connection(std::move(connection)),
      _client(client),
      _frame(frame),
      _scale(scale > 0 ? scale : 1),
      _output(_connection->screen().frame.size) {}

WaylandWindow::~WaylandWindow() {
  APPKIT_ASSERT_MAIN_THREAD();
  tearDown();
}

void WaylandWindow::build() {
  if (!usable() || _surface || !_connection->mainOutput()) return;
  _surface.reset(wl_compositor_create_surface(_connection->compositor()));
  if (!_surface) return;
  _connection->addWindow(_surface.get(), *this);
  _layerSurface.reset(layer_shell::getLayerSurface(
      _connection->layerShell(), _surface.get(), _connection->mainOutput(),
      layer_shell::Layer::Overlay, program_invocation_short_name));
  if (!_layerSurface) return tearDown();
  static const layer_shell::SurfaceListener listener = {configured, closed};
  layer_shell::addListener(_layerSurface.get(), &listener, this);
  _output = _connection->screen().frame.size;
  _placement = LayerPlacement::of(_frame, _output);
  layer_shell::setAnchor(_layerSurface.get(), layer_shell::Top | layer_shell::Right);
  layer_shell::setSize(_layerSurface.get(), std::max(_placement.width, 1),
                       std::max(_placement.height, 1));
  layer_shell::setMargin(_layerSurface.get(), _placement.marginTop, _placement.marginRight, 0, 0);
  layer_shell::setExclusiveZone(_layerSurface.get(), 0);
  layer_shell::setKeyboardInteractivity(_layerSurface.get(), layer_shell::Keyboard::None);
  _buffers = std::make_unique<ShmFrames>(_connection->shm(), [this] { changed(); });
#ifdef APPKIT_HAS_FRACTIONAL_SCALE
  if (_connection->viewporter()) {
    _viewport.reset(wp_viewporter_get_viewport(_connection->viewporter(), _surface.get()));
    _fractionalScale.reset(wp_fractional_scale_manager_v1_get_fractional_scale(
        _connection->fractionalScales(), _surface.get()));
    static const wp_fractional_scale_v1_listener scaleListener = {preferredScale};
    wp_fractional_scale_v1_add_listener(_fractionalScale.get(), &scaleListener, this);
  }
#endif
  // The first commit carries no buffer: the compositor answers with a configure.
  wl_surface_commit(_surface.get());
}

void WaylandWindow::tearDown() {
  if (_surface) _connection->removeWindow(_surface.get());
  _firstFrame.reset();
#ifdef APPKIT_HAS_FRACTIONAL_SCALE
  _fractionalScale.reset();
  _viewport.reset();
#endif
  _viewportSized = false;
  _layerSurface.reset();
  _buffers.reset();
  _surface.reset();
  _configured = _ackPending = _shown = false;
}

void WaylandWindow::setOnScreen(bool onScreen) {
  if (_onScreen == onScreen) return;
  _onScreen = onScreen;
  _client.backendOnScreenChanged(onScreen);
}

void WaylandWindow::changed() {
  if (_surface && usable()) _connection->needsCommit(*this);
}

void WaylandWindow::configured(void* data, layer_shell::Surface*, std::uint32_t serial,
                               std::uint32_t, std::uint32_t) {
  auto& window = *static_cast<WaylandWindow*>(data);
  window._configured = true;
  window._configureSerial = serial;
  window._ackPending = true;
  window.changed();
}

void WaylandWindow::closed(void* data, layer_shell::Surface*) {
  // Its output went away: made again on the main output there is now, if any.
  auto& window = *static_cast<WaylandWindow*>(data);
  window.tearDown();
  window.setOnScreen(false);
  if (window._wanted) window.build();
}

void WaylandWindow::frameShown(void* data, wl_callback*, std::uint32_t) {
  auto& window = *static_cast<WaylandWindow*>(data);
  window._firstFrame.reset();
  if (window._wanted) window.setOnScreen(true);
}

#ifdef APPKIT_HAS_FRACTIONAL_SCALE
void WaylandWindow::preferredScale(void* data, wp_fractional_scale_v1*, std::uint32_t scale) {
  auto& window = *static_cast<WaylandWindow*>(data);
  // In 120ths.
  double preferred = scale / 120.0;
  if (!(preferred > 0)) return;
  window._connection->notePreferredScale(preferred);
  if (preferred != window._scale) window.scaleChanged();
}
#endif

void WaylandWindow::commitPending() {
  if (!usable() || !_layerSurface || !_configured) return;
  cairo_surface_t* frame = _lastFrame.get();
  if (!frame) return;
  const int pixelWidth = cairo_image_surface_get_width(frame);
  // The frame's own scale: a frame drawn before a change of scale still shows sharp at it.
  const double frameScale = pixelWidth / std::max(_frame.size.width, 1.0);
  const int wholeScale = std::max(1, int(std::lround(frameScale)));
  // A scale that is no whole number goes through the viewport, the buffer at scale 1.
  bool viewported = false;
#ifdef APPKIT_HAS_FRACTIONAL_SCALE
  viewported = _viewport && std::abs(frameScale - wholeScale) > 0.01;
#endif
  const double scale = viewported ? frameScale : wholeScale;
  const int bufferScale = viewported ? 1 : wholeScale;
  auto pixels = [scale](int points) { return int(std::lround(points * scale)); };
  LayerPlacement placement = LayerPlacement::of(_frame, _output);
  // Whole points within the frame's pixels: a buffer of a size the buffer scale does not divide
  // is refused by the compositor.
  const int pixelHeight = cairo_image_surface_get_height(frame);
  placement.width =
      std::min(placement.width, int((pixelWidth - pixels(placement.cropLeft)) / scale));
  placement.height =
      std::min(placement.height, int((pixelHeight - pixels(placement.cropTop)) / scale));
  wl_buffer* buffer = nullptr;
  if (placement.isEmpty()) {
    // Nothing of it on the output (the first step of a slide): one transparent point in the
    // corner keeps the surface mapped.
    placement = LayerPlacement{0, 0, 1, 1, 0, 0};
    buffer = _buffers->fill(frame, 0, 0, pixels(1), pixels(1), 0);
  } else {
    buffer = _buffers->fill(frame, pixels(placement.cropLeft), pixels(placement.cropTop),
                            pixels(placement.width), pixels(placement.height), _alpha);
  }
  // Both buffers held, the commit waits for one to come back.
  if (!buffer) return;
  wl_surface* surface = _surface.get();
  if (_ackPending) {
    layer_shell::ackConfigure(_layerSurface.get(), _configureSerial);
    _ackPending = false;
  }
  if (placement.width != _placement.width || placement.height != _placement.height || !_shown)
    layer_shell::setSize(_layerSurface.get(), std::uint32_t(placement.width),
                         std::uint32_t(placement.height));
  if (placement.marginTop != _placement.marginTop ||
      placement.marginRight != _placement.marginRight || !_shown)
    layer_shell::setMargin(_layerSurface.get(), placement.marginTop, placement.marginRight, 0, 0);
  _placement = placement;
  if (bufferScale != _bufferScale || !_shown) wl_surface_set_buffer_scale(surface, bufferScale);
  _bufferScale = bufferScale;
#ifdef APPKIT_HAS_FRACTIONAL_SCALE
  if (viewported) {
    wp_viewport_set_destination(_viewport.get(), placement.width, placement.height);
  } else if (_viewportSized) {
    wp_viewport_set_destination(_viewport.get(), -1, -1);
  }
#endif
  _viewportSized = viewported;
  wl_surface_attach(surface, buffer, 0, 0);
  if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(surface)) >= 4) {
    wl_surface_damage_buffer(surface, 0, 0, pixels(placement.width), pixels(placement.height));
  } else {
    wl_surface_damage(surface, 0, 0, placement.width, placement.height);
  }
  if (!_shown) {
    static const wl_callback_listener listener = {frameShown};
    _firstFrame.reset(wl_surface_frame(surface));
    wl_callback_add_listener(_firstFrame.get(), &listener, this);
  }
  wl_surface_commit(surface);
  _shown = true;
}

void WaylandWindow::setFrame(Rect frame) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (frame == _frame) return;
  _frame = frame;
  changed();
}

void WaylandWindow::orderFront() {
  APPKIT_ASSERT_MAIN_THREAD();
  _wanted = true;
  build();
}

void WaylandWindow::orderOut() {
  APPKIT_ASSERT_MAIN_THREAD();
  if (!_wanted) return;
  _wanted = false;
  tearDown();
  setOnScreen(false);
}

void WaylandWindow::setLevel(int) {
  // Every window of this backend is in the overlay layer; levels add nothing.
}

void WaylandWindow::setAlpha(double alpha) {
  APPKIT_ASSERT_MAIN_THREAD();
  alpha = std::clamp(alpha, 0.0, 1.0);
  if (alpha == _alpha) return;
  _alpha = alpha;
  changed();
}

void WaylandWindow::setCursor(Cursor::Kind kind) {
  APPKIT_ASSERT_MAIN_THREAD();
  _cursor = kind;
  if (usable()) _connection->setCursor(*this, kind);
}

void WaylandWindow::present(cairo_surface_t* frame, PixelRect) {
  APPKIT_ASSERT_MAIN_THREAD();
  if (!frame) return;
  if (frame != _lastFrame.get()) _lastFrame.reset(cairo_surface_reference(frame));
  changed();
}

void WaylandWindow::deliver(EventType type, double x, double y, int clickCount) {
  Event event;
  event.type = type;
  event.locationInWindow =
      Point{_placement.cropLeft + x, _frame.size.height - (_placement.cropTop + y)};
  event.clickCount = clickCount;
  _client.backendMouseEvent(event);
}

void WaylandWindow::scaleChanged() {
  if (!usable()) return;
  ScreenDescription screen = _connection->screen();
  Size output = screen.frame.size;
  // In points the output grew or shrank: the window keeps its distance to the nearer edge on
  // each axis (a pop-up at the top right stays there).
  auto keep = [](double start, double length, double before, double after) {
    double end = before - start - length;
    return end < start ? after - end - length : start;
  };
  Rect frame = Rect::make(keep(_frame.minX(), _frame.size.width, _output.width, output.width),
                          keep(_frame.minY(), _frame.size.height, _output.height, output.height),
                          _frame.size.width, _frame.size.height);
  _output = output;
  _scale = screen.backingScaleFactor;
  _frame = frame;
  changed();
  _client.backendScaleChanged(_scale, frame);
}

void WaylandWindow::connectionLost() { setOnScreen(false); }

}  // namespace appkit
