#include "appkit/wayland/WaylandConnection.h"

#include <linux/input-event-codes.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "appkit/wayland/WaylandWindow.h"
#include "dispatch/MainQueue.h"
#include "foundation/Log.h"

namespace appkit {
namespace {

constexpr std::uint32_t kCompositorVersion = 4;
constexpr std::uint32_t kSeatVersion = 5;
constexpr std::uint32_t kOutputVersion = 2;
constexpr int kCursorSize = 24;

template <typename T>
T* bind(wl_registry* registry, std::uint32_t name, const wl_interface* interface,
        std::uint32_t offered, std::uint32_t wanted) {
  return static_cast<T*>(wl_registry_bind(registry, name, interface, std::min(offered, wanted)));
}

void ignoreGeometry(void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                    std::int32_t, const char*, const char*, std::int32_t) {}
void ignoreSeatName(void*, wl_seat*, const char*) {}
void ignoreAxis(void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {}
void ignoreFrame(void*, wl_pointer*) {}
void ignoreAxisSource(void*, wl_pointer*, std::uint32_t) {}
void ignoreAxisStop(void*, wl_pointer*, std::uint32_t, std::uint32_t) {}
void ignoreAxisDiscrete(void*, wl_pointer*, std::uint32_t, std::int32_t) {}

}  // namespace

foundation::Result<void> WaylandConnection::probe(foundation::TimeInterval limit) {
  auto connection = connect(limit);
  if (!connection) return connection.error();
  return {};
}

foundation::Result<std::shared_ptr<WaylandConnection>> WaylandConnection::open(
    foundation::TimeInterval limit, std::function<void()> onLost) {
  auto connected = connect(limit);
  if (!connected) return connected.error();
  std::shared_ptr<WaylandConnection> connection = std::move(connected).value();
  WaylandConnection& w = *connection;
  w._onLost = std::move(onLost);
  std::weak_ptr<WaylandConnection> weak = connection;
  w._descriptorSource = RunLoop::main().addDescriptor(wl_display_get_fd(w._display.get()), [weak] {
    if (auto alive = weak.lock()) alive->readAndDispatch();
  });
  w._beforeWaitingSource = RunLoop::main().addBeforeWaiting([weak] {
    if (auto alive = weak.lock()) alive->beforeWaiting();
  });
  return connection;
}

foundation::Result<std::shared_ptr<WaylandConnection>> WaylandConnection::connect(
    foundation::TimeInterval limit) {
  std::shared_ptr<WaylandConnection> connection(new WaylandConnection());
  WaylandConnection& w = *connection;
  w._display.reset(wl_display_connect(nullptr));
  if (!w._display)
    return foundation::Error::fromErrno("wl_display_connect", "no Wayland compositor answers");
  static const wl_registry_listener registryListener = {global, globalRemove};
  w._registry.reset(wl_display_get_registry(w._display.get()));
  wl_registry_add_listener(w._registry.get(), &registryListener, &w);
  // The globals, then what the outputs and the seat say of themselves.
  if (!w.roundtrip(limit) || !w.roundtrip(limit))
    return foundation::Error{"the Wayland compositor does not answer"};
  if (!w._compositor || !w._shm)
    return foundation::Error{"the Wayland compositor offers no shared-memory surfaces", ENOTSUP,
                             "wl_registry"};
  if (!w._layerShell)
    return foundation::Error{"the Wayland compositor offers no layer shell", ENOTSUP,
                             "wl_registry"};
  return connection;
}

WaylandConnection::~WaylandConnection() {
  if (_descriptorSource) RunLoop::main().removeDescriptor(_descriptorSource);
  if (_beforeWaitingSource) RunLoop::main().removeBeforeWaiting(_beforeWaitingSource);
  if (_display && !_lost) wl_display_flush(_display.get());
}

bool WaylandConnection::roundtrip(foundation::TimeInterval limit) {
  wl_display* display = _display.get();
  bool done = false;
  static const wl_callback_listener listener = {
      [](void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; }};
  WaylandObject<wl_callback> sync(wl_display_sync(display));
  wl_callback_add_listener(sync.get(), &listener, &done);
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(limit.inSeconds());
  while (!done) {
    if (wl_display_dispatch_pending(display) < 0) return false;
    if (done) break;
    if (wl_display_flush(display) < 0 && errno != EAGAIN) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd descriptor{wl_display_get_fd(display), POLLIN, 0};
    if (wl_display_prepare_read(display) != 0) continue;
    int ready = poll(&descriptor, 1, int(left.count()));
    if (ready <= 0) {
      wl_display_cancel_read(display);
      if (ready < 0 && errno != EINTR) return false;
      continue;
    }
    if (wl_display_read_events(display) < 0) return false;
  }
  return true;
}

void WaylandConnection::readAndDispatch() {
  if (_lost) return;
  wl_display* display = _display.get();
  while (wl_display_prepare_read(display) != 0) {
    if (wl_display_dispatch_pending(display) < 0) return noteLoss();
  }
  // Called only when the descriptor polled readable (or hung up): the read does not block.
  if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0)
    return noteLoss();
}

void WaylandConnection::beforeWaiting() {
  if (_lost) return;
  wl_display* display = _display.get();
  if (wl_display_dispatch_pending(display) < 0) return noteLoss();
  std::vector<WaylandWindow*> windows = std::move(_toCommit);
  _toCommit.clear();
  for (WaylandWindow* window : windows) {
    // A window gone meanwhile has left the map.
    for (const auto& [surface, known] : _windows) {
      if (known == window) {
        window->commitPending();
        break;
      }
    }
  }
  // The one flush of everything asked since the loop last slept.
  if (wl_display_flush(display) < 0 && errno != EAGAIN) noteLoss();
}

void WaylandConnection::noteLoss() {
  if (!_lost) {
    _lost = true;
    int error = wl_display_get_error(_display.get());
    foundation::NSLog("appkit: the connection to the Wayland compositor was lost (%s)",
                      std::strerror(error ? error : EPIPE));
  }
  if (_lossReported) return;
  _lossReported = true;
  if (_descriptorSource) RunLoop::main().removeDescriptor(_descriptorSource);
  if (_beforeWaitingSource) RunLoop::main().removeBeforeWaiting(_beforeWaitingSource);
  _descriptorSource = _beforeWaitingSource = 0;
  notifyWindows(&WaylandWindow::connectionLost);
  if (_onLost) RunLoop::main().queue().async(_onLost);
}

void WaylandConnection::global(void* data, wl_registry* registry, std::uint32_t name,
                               const char* interface, std::uint32_t version) {
  auto& w = *static_cast<WaylandConnection*>(data);
  std::string_view kind = interface;
  if (kind == wl_compositor_interface.name) {
    w._compositor.reset(
        bind<wl_compositor>(registry, name, &wl_compositor_interface, version, kCompositorVersion));
  } else if (kind == wl_shm_interface.name) {
    w._shm.reset(bind<wl_shm>(registry, name, &wl_shm_interface, version, 1));
  } else if (kind == layer_shell::kShellInterface.name) {
    w._layerShell.reset(bind<layer_shell::Shell>(registry, name, &layer_shell::kShellInterface,
                                                 version, layer_shell::kVersion));
#ifdef APPKIT_HAS_FRACTIONAL_SCALE
  } else if (kind == wp_viewporter_interface.name) {
    w._viewporter.reset(bind<wp_viewporter>(registry, name, &wp_viewporter_interface, version, 1));
  } else if (kind == wp_fractional_scale_manager_v1_interface.name) {
    w._fractionalScales.reset(bind<wp_fractional_scale_manager_v1>(
        registry, name, &wp_fractional_scale_manager_v1_interface, version, 1));
#endif
  } else if (kind == wl_seat_interface.name && !w._seat && version >= kSeatVersion) {
    // One seat (the first): a pop-up has one pointer to follow.
    w._seat.reset(bind<wl_seat>(registry, name, &wl_seat_interface, version, kSeatVersion));
    static const wl_seat_listener listener = {seatCapabilities, ignoreSeatName};
    wl_seat_add_listener(w._seat.get(), &listener, &w);
  } else if (kind == wl_output_interface.name && version >= kOutputVersion) {
    auto output = std::make_unique<Output>();
    output->name = name;
    output->proxy.reset(
        bind<wl_output>(registry, name, &wl_output_interface, version, kOutputVersion));
    static const wl_output_listener listener = {ignoreGeometry, outputMode, outputDone,
                                                outputScale,    nullptr,    nullptr};
    wl_output_add_listener(output->proxy.get(), &listener, &w);
    w._outputs.push_back(std::move(output));
  }
}

void WaylandConnection::globalRemove(void* data, wl_registry*, std::uint32_t name) {
  auto& w = *static_cast<WaylandConnection*>(data);
  // The windows on a removed output hear of it from their layer surface (closed).
  std::erase_if(w._outputs, [name](const auto& output) { return output->name == name; });
  if (!w._outputs.empty() && w._outputs.front()->scale != w._mainScale) {
    w._mainScale = w._outputs.front()->scale;
    w.notifyWindows(&WaylandWindow::scaleChanged);
  }
}

void WaylandConnection::seatCapabilities(void* data, wl_seat* seat, std::uint32_t capabilities) {
  auto& w = *static_cast<WaylandConnection*>(data);
  bool pointer = capabilities & WL_SEAT_CAPABILITY_POINTER;
  if (pointer && !w._pointer) {
    w._pointer.reset(wl_seat_get_pointer(seat));
    static const wl_pointer_listener listener = {
        pointerEnter, pointerLeave,     pointerMotion,  pointerButton,      ignoreAxis,
        ignoreFrame,  ignoreAxisSource, ignoreAxisStop, ignoreAxisDiscrete, nullptr};
    wl_pointer_add_listener(w._pointer.get(), &listener, &w);
  } else if (!pointer && w._pointer) {
    w._pointer.reset();
    w._pointerWindow = nullptr;
    w._cursorShown.reset();
  }
}

void WaylandConnection::outputScale(void* data, wl_output* proxy, std::int32_t factor) {
  auto& w = *static_cast<WaylandConnection*>(data);
  for (auto& output : w._outputs) {
    if (output->proxy.get() == proxy) output->pendingScale = std::max(factor, 1);
  }
}

void WaylandConnection::outputMode(void* data, wl_output* proxy, std::uint32_t flags,
                                   std::int32_t width, std::int32_t height, std::int32_t refresh) {
  if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
  auto& w = *static_cast<WaylandConnection*>(data);
  for (auto& output : w._outputs) {
    if (output->proxy.get() != proxy) continue;
    output->width = width;
    output->height = height;
    output->refresh = refresh;
  }
}

void WaylandConnection::outputDone(void* data, wl_output* proxy) {
  auto& w = *static_cast<WaylandConnection*>(data);
  for (auto& output : w._outputs) {
    if (output->proxy.get() == proxy) output->scale = output->pendingScale;
  }
  if (w._outputs.empty() || w._outputs.front()->proxy.get() != proxy) return;
  double scale = w._outputs.front()->scale;
  if (scale == w._mainScale) return;
  w._mainScale = scale;
  // Where the compositor tells each surface its scale, that is followed instead.
  if (w._preferredScale) return;
  w.notifyWindows(&WaylandWindow::scaleChanged);
}

wl_output* WaylandConnection::mainOutput() const {
  return _outputs.empty() ? nullptr : _outputs.front()->proxy.get();
}

ScreenDescription WaylandConnection::screen() const {
  ScreenDescription screen;
  if (_outputs.empty()) return screen;
  const Output& main = *_outputs.front();
  screen.backingScaleFactor = _preferredScale.value_or(main.scale);
  screen.frame =
      Rect::make(0, 0, double(main.width) / main.scale, double(main.height) / main.scale);
  // Panels keep their room themselves: a layer surface is placed in what they leave free.
  screen.visibleFrame = screen.frame;
  return screen;
}

foundation::TimeInterval WaylandConnection::refreshInterval() const {
  int refresh = _outputs.empty() ? 0 : _outputs.front()->refresh;
  // Rates below 10 Hz are taken for unknown.
  return foundation::TimeInterval::seconds(refresh >= 10000 ? 1000.0 / refresh : 1.0 / 60);
}

void WaylandConnection::addWindow(wl_surface* surface, WaylandWindow& window) {
  _windows[surface] = &window;
}

void WaylandConnection::removeWindow(wl_surface* surface) {
  auto it = _windows.find(surface);
  if (it == _windows.end()) return;
  if (_pointerWindow == it->second) {
    _pointerWindow = nullptr;
    _buttonDown = false;
  }
  std::erase(_toCommit, it->second);
  _windows.erase(it);
}

void WaylandConnection::needsCommit(WaylandWindow& window) {
  if (std::find(_toCommit.begin(), _toCommit.end(), &window) == _toCommit.end())
    _toCommit.push_back(&window);
}

WaylandWindow* WaylandConnection::windowOf(wl_surface* surface) const {
  auto it = _windows.find(surface);
  return it == _windows.end() ? nullptr : it->second;
}

void WaylandConnection::notifyWindows(void (WaylandWindow::*change)()) {
  // By surface, looked up anew each time: a window may go, or make its surface again, while
  // another is told.
  std::vector<wl_surface*> surfaces;
  for (const auto& [surface, window] : _windows) surfaces.push_back(surface);
  for (wl_surface* surface : surfaces) {
    if (WaylandWindow* window = windowOf(surface)) (window->*change)();
  }
}

void WaylandConnection::setCursor(WaylandWindow& window, Cursor::Kind kind) {
  _cursor = kind;
  if (_pointerWindow == &window) showCursor();
}

void WaylandConnection::showCursor() {
  if (_lost || !_pointer || !_pointerWindow) return;
  int scale = std::max(1, int(std::lround(_mainScale)));
  if (_cursorShown == _cursor && _cursorScale == scale) return;
  if (!_cursorTheme || _cursorScale != scale) {
    const char* theme = std::getenv("XCURSOR_THEME");
    int size = kCursorSize;
    if (const char* value = std::getenv("XCURSOR_SIZE"); value && std::atoi(value) > 0)
      size = std::atoi(value);
    _cursorTheme.reset(wl_cursor_theme_load(theme, size * scale, _shm.get()));
    _cursorScale = scale;
  }
  if (!_cursorSurface) _cursorSurface.reset(wl_compositor_create_surface(_compositor.get()));
  if (!_cursorTheme || !_cursorSurface) return;
  const char* const hand[] = {"pointer", "hand2", "hand1", "hand"};
  const char* const arrow[] = {"default", "left_ptr"};
  wl_cursor* cursor = nullptr;
  if (_cursor == Cursor::Kind::PointingHand) {
    for (const char* name : hand)
      cursor = cursor ? cursor : wl_cursor_theme_get_cursor(_cursorTheme.get(), name);
  }
  for (const char* name : arrow)
    cursor = cursor ? cursor : wl_cursor_theme_get_cursor(_cursorTheme.get(), name);
  if (!cursor || cursor->image_count == 0) return;
  wl_cursor_image* image = cursor->images[0];
  wl_buffer* buffer = wl_cursor_image_get_buffer(image);
  if (!buffer) return;
  wl_surface* surface = _cursorSurface.get();
  wl_surface_set_buffer_scale(surface, scale);
  wl_surface_attach(surface, buffer, 0, 0);
  wl_surface_damage(surface, 0, 0, std::int32_t(image->width), std::int32_t(image->height));
  wl_surface_commit(surface);
  wl_pointer_set_cursor(_pointer.get(), _enterSerial, surface,
                        std::int32_t(image->hotspot_x) / scale,
                        std::int32_t(image->hotspot_y) / scale);
  _cursorShown = _cursor;
}

void WaylandConnection::pointerEnter(void* data, wl_pointer*, std::uint32_t serial,
                                     wl_surface* surface, wl_fixed_t x, wl_fixed_t y) {
  auto& w = *static_cast<WaylandConnection*>(data);
  w._pointerWindow = w.windowOf(surface);
  w._enterSerial = serial;
  w._buttonDown = false;
  w._cursorShown.reset();
  w._pointerX = wl_fixed_to_double(x);
  w._pointerY = wl_fixed_to_double(y);
  if (!w._pointerWindow) return;
  w.showCursor();
  w._pointerWindow->deliver(EventType::MouseEntered, w._pointerX, w._pointerY, 0);
}

void WaylandConnection::pointerLeave(void* data, wl_pointer*, std::uint32_t, wl_surface*) {
  auto& w = *static_cast<WaylandConnection*>(data);
  WaylandWindow* window = std::exchange(w._pointerWindow, nullptr);
  w._buttonDown = false;
  if (window) window->deliver(EventType::MouseExited, w._pointerX, w._pointerY, 0);
}

void WaylandConnection::pointerMotion(void* data, wl_pointer*, std::uint32_t, wl_fixed_t x,
                                      wl_fixed_t y) {
  auto& w = *static_cast<WaylandConnection*>(data);
  w._pointerX = wl_fixed_to_double(x);
  w._pointerY = wl_fixed_to_double(y);
  if (w._pointerWindow)
    w._pointerWindow->deliver(w._buttonDown ? EventType::LeftMouseDragged : EventType::MouseMoved,
                              w._pointerX, w._pointerY, 0);
}

void WaylandConnection::pointerButton(void* data, wl_pointer*, std::uint32_t, std::uint32_t,
                                      std::uint32_t button, std::uint32_t state) {
  auto& w = *static_cast<WaylandConnection*>(data);
  if (button != BTN_LEFT || !w._pointerWindow) return;
  bool pressed = state == WL_POINTER_BUTTON_STATE_PRESSED;
  w._buttonDown = pressed;
  w._pointerWindow->deliver(pressed ? EventType::LeftMouseDown : EventType::LeftMouseUp,
                            w._pointerX, w._pointerY, 1);
}

}  // namespace appkit
