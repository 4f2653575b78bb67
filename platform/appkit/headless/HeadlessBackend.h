#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "appkit/GraphicsHandles.h"
#include "appkit/WindowBackend.h"

namespace appkit {

class HeadlessBackend;

// A window of the off-screen backend: it shows nothing (yet tells its client it is on the screen
// from orderFront to orderOut), and keeps what it was last told (frame,
// visibility, level, alpha, cursor) and a copy of the last frame presented, for tests to read.
// Main thread only.
class HeadlessWindow final : public BackendWindow {
 public:
  ~HeadlessWindow() override;

  void setFrame(Rect frame) override;
  void orderFront() override;
  void orderOut() override;
  void setLevel(int level) override;
  void setAlpha(double alpha) override;
  void setCursor(Cursor::Kind kind) override;
  void present(cairo_surface_t* frame, PixelRect damage) override;

  Rect frame() const { return _frame; }
  double scale() const { return _scale; }
  bool isVisible() const { return _visible; }
  int level() const { return _level; }
  double alpha() const { return _alpha; }
  Cursor::Kind cursor() const { return _cursor; }
  // How many frames were presented, and the damage of the last one.
  int presentCount() const { return _presentCount; }
  PixelRect lastDamage() const { return _lastDamage; }
  // A copy of the last frame presented (an ARGB32 image surface owned by this window), or null
  // before the first.
  cairo_surface_t* lastFrame() const { return _lastFrame.get(); }
  // The last frame's pixel at column `x` and row `y` counted from the top, as premultiplied
  // 0xAARRGGBB; 0 outside the frame or before the first.
  std::uint32_t pixel(int x, int y) const;

 private:
  friend class HeadlessBackend;
  struct Registry;
  HeadlessWindow(std::shared_ptr<Registry> registry, Rect frame, double scale,
                 BackendWindowClient& client);

  std::shared_ptr<Registry> _registry;
  std::uint64_t _serial;
  BackendWindowClient& _client;
  Rect _frame;
  double _scale;
  bool _visible = false;
  int _level = 0;
  double _alpha = 1;
  Cursor::Kind _cursor = Cursor::Kind::Arrow;
  int _presentCount = 0;
  PixelRect _lastDamage;
  CairoSurface _lastFrame;
};

// The off-screen backend: windows that draw into memory only. The main screen is 1440×900 points
// unless the environment's PLATFORM_SCREEN says WxH (positive whole numbers), at the scale 1
// unless PLATFORM_SCALE is 2; other values are logged and the defaults kept. Frames come every
// 1/60 s.
//
// Pointer events and exposure reach a window's client from the main run loop: sendMouse() and
// expose() queue them on the main queue. Main thread only.
class HeadlessBackend final : public WindowBackend {
 public:
  // The screen and scale from the environment.
  HeadlessBackend();
  // The given screen (tests).
  explicit HeadlessBackend(ScreenDescription screen);
  ~HeadlessBackend() override;

  // The screen size of a PLATFORM_SCREEN value ("1280x800"), or nullopt when it is not two
  // positive whole numbers of at most 100000 joined by an 'x'.
  static std::optional<Size> parseScreenSize(std::string_view text);

  std::string name() const override { return "off-screen"; }
  ScreenDescription mainScreen() const override { return _screen; }
  foundation::TimeInterval refreshInterval() const override;
  std::unique_ptr<BackendWindow> createWindow(Rect frame, double scale,
                                              BackendWindowClient& client) override;

  // The windows alive now, in the order they were made (of this backend only).
  std::vector<HeadlessWindow*> windows() const;

  // Queues a pointer event for `window`'s client on the main queue; it arrives from the main run
  // loop, unless the window is gone by then. `location` is in the window's points.
  void sendMouse(HeadlessWindow& window, EventType type, Point location, int clickCount = 0);
  // Queues an exposure of `rect` (window points) the same way.
  void expose(HeadlessWindow& window, Rect rect);

 private:
  ScreenDescription _screen;
  std::shared_ptr<HeadlessWindow::Registry> _registry;
};

}  // namespace appkit
