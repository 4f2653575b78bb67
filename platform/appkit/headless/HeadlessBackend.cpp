#include "appkit/headless/HeadlessBackend.h"

#include <cairo.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <map>

#include "appkit/MainThreadCheck.h"
#include "appkit/RunLoop.h"
#include "dispatch/MainQueue.h"
#include "foundation/Log.h"

namespace appkit {

// The windows of one backend by serial number, so that a queued event finds out whether its
// window still exists. Shared with the windows, which may outlive the backend.
struct HeadlessWindow::Registry {
  std::uint64_t nextSerial = 1;
  std::map<std::uint64_t, HeadlessWindow*> windows;

  HeadlessWindow* find(std::uint64_t serial) const {
    auto it = windows.find(serial);
    return it == windows.end() ? nullptr : it->second;
  }
};

namespace {

constexpr Size kDefaultScreen{1440, 900};
constexpr long kMaxScreenSide = 100000;

ScreenDescription screenFromEnvironment() {
  Size size = kDefaultScreen;
  if (const char* value = std::getenv("PLATFORM_SCREEN")) {
    if (std::optional<Size> parsed = HeadlessBackend::parseScreenSize(value)) {
      size = *parsed;
    } else {
      foundation::NSLog("appkit: PLATFORM_SCREEN=%s is not WIDTHxHEIGHT; using %gx%g", value,
                        size.width, size.height);
    }
  }
  double scale = 1;
  if (const char* value = std::getenv("PLATFORM_SCALE")) {
    if (std::strcmp(value, "2") == 0) {
      scale = 2;
    } else if (std::strcmp(value, "1") != 0) {
      foundation::NSLog("appkit: PLATFORM_SCALE=%s is neither 1 nor 2; using 1", value);
    }
  }
  Rect frame{{0, 0}, size};
  return ScreenDescription{frame, frame, scale};
}

std::optional<long> parseSide(std::string_view text) {
  long value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty() || text[0] == '+')
    return std::nullopt;
  if (value <= 0 || value > kMaxScreenSide) return std::nullopt;
  return value;
}

}  // namespace

HeadlessWindow::HeadlessWindow(std::shared_ptr<Registry> registry, Rect frame, double scale,
                               BackendWindowClient& client)
    : _registry(std::move(registry)),
      _serial(_registry->nextSerial++),
      _client(client),
      _frame(frame),
      _scale(scale) {
  _registry->windows.emplace(_serial, this);
}

HeadlessWindow::~HeadlessWindow() { _registry->windows.erase(_serial); }

void HeadlessWindow::setFrame(Rect frame) {
  APPKIT_ASSERT_MAIN_THREAD();
  _frame = frame;
}

void HeadlessWindow::orderFront() {
  APPKIT_ASSERT_MAIN_THREAD();
  if (_visible) return;
  _visible = true;
  // Nothing can hold an off-screen window back: it counts as on the screen at once.
  _client.backendOnScreenChanged(true);
}

void HeadlessWindow::orderOut() {
  APPKIT_ASSERT_MAIN_THREAD();
  if (!_visible) return;
  _visible = false;
  _client.backendOnScreenChanged(false);
}

void HeadlessWindow::setLevel(int level) {
  APPKIT_ASSERT_MAIN_THREAD();
  _level = level;
}

void HeadlessWindow::setAlpha(double alpha) {
  APPKIT_ASSERT_MAIN_THREAD();
  _alpha = alpha;
}

void HeadlessWindow::setCursor(Cursor::Kind kind) {
  APPKIT_ASSERT_MAIN_THREAD();
  _cursor = kind;
}

void HeadlessWindow::present(cairo_surface_t* frame, PixelRect damage) {
  APPKIT_ASSERT_MAIN_THREAD();
  cairo_surface_flush(frame);
  int width = cairo_image_surface_get_width(frame);
  int height = cairo_image_surface_get_height(frame);
  if (!_lastFrame || cairo_image_surface_get_width(_lastFrame.get()) != width ||
      cairo_image_surface_get_height(_lastFrame.get()) != height) {
    _lastFrame.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
  }
  // Copies the whole frame: the windows are small, and a test sees exactly what was presented.
  cairo_surface_flush(_lastFrame.get());
  const unsigned char* from = cairo_image_surface_get_data(frame);
  unsigned char* to = cairo_image_surface_get_data(_lastFrame.get());
  int fromStride = cairo_image_surface_get_stride(frame);
  int toStride = cairo_image_surface_get_stride(_lastFrame.get());
  if (from && to) {
    for (int row = 0; row < height; ++row) {
      std::memcpy(to + row * toStride, from + row * fromStride, std::size_t(width) * 4);
    }
  }
  cairo_surface_mark_dirty(_lastFrame.get());
  ++_presentCount;
  _lastDamage = damage;
}

std::uint32_t HeadlessWindow::pixel(int x, int y) const {
  if (!_lastFrame) return 0;
  int width = cairo_image_surface_get_width(_lastFrame.get());
  int height = cairo_image_surface_get_height(_lastFrame.get());
  if (x < 0 || y < 0 || x >= width || y >= height) return 0;
  const unsigned char* row = cairo_image_surface_get_data(_lastFrame.get()) +
                             y * cairo_image_surface_get_stride(_lastFrame.get());
  std::uint32_t value;
  std::memcpy(&value, row + x * 4, sizeof value);
  return value;
}

HeadlessBackend::HeadlessBackend() : HeadlessBackend(screenFromEnvironment()) {}

HeadlessBackend::HeadlessBackend(ScreenDescription screen)
    : _screen(screen), _registry(std::make_shared<HeadlessWindow::Registry>()) {}

HeadlessBackend::~HeadlessBackend() = default;

std::optional<Size> HeadlessBackend::parseScreenSize(std::string_view text) {
  std::size_t x = text.find('x');
  if (x == std::string_view::npos) return std::nullopt;
  std::optional<long> width = parseSide(text.substr(0, x));
  std::optional<long> height = parseSide(text.substr(x + 1));
  if (!width || !height) return std::nullopt;
  return Size{double(*width), double(*height)};
}

foundation::TimeInterval HeadlessBackend::refreshInterval() const {
  return foundation::TimeInterval::seconds(1.0 / 60);
}

std::unique_ptr<BackendWindow> HeadlessBackend::createWindow(Rect frame, double scale,
                                                             BackendWindowClient& client) {
  APPKIT_ASSERT_MAIN_THREAD();
  return std::unique_ptr<BackendWindow>(new HeadlessWindow(_registry, frame, scale, client));
}

std::vector<HeadlessWindow*> HeadlessBackend::windows() const {
  std::vector<HeadlessWindow*> result;
  for (const auto& [serial, window] : _registry->windows) result.push_back(window);
  return result;
}

void HeadlessBackend::sendMouse(HeadlessWindow& window, EventType type, Point location,
                                int clickCount) {
  APPKIT_ASSERT_MAIN_THREAD();
  Event event;
  event.type = type;
  event.locationInWindow = location;
  event.clickCount = clickCount;
  std::weak_ptr<HeadlessWindow::Registry> registry = _registry;
  RunLoop::main().queue().async([registry, serial = window._serial, event] {
    auto alive = registry.lock();
    if (HeadlessWindow* target = alive ? alive->find(serial) : nullptr) {
      target->_client.backendMouseEvent(event);
    }
  });
}

void HeadlessBackend::expose(HeadlessWindow& window, Rect rect) {
  APPKIT_ASSERT_MAIN_THREAD();
  std::weak_ptr<HeadlessWindow::Registry> registry = _registry;
  RunLoop::main().queue().async([registry, serial = window._serial, rect] {
    auto alive = registry.lock();
    if (HeadlessWindow* target = alive ? alive->find(serial) : nullptr) {
      target->_client.backendExpose(rect);
    }
  });
}

}  // namespace appkit
