#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "appkit/GraphicsHandles.h"

typedef struct _XDisplay Display;

namespace testing_support {

class Subprocess;

// A private X server for one test: Xvfb on a free display number, 1440×900 at depth 24 unless
// asked otherwise, with openbox as its window manager when asked, and a connection of the test's
// own to it. On it a test can start and stop a compositor (xcompmgr) and a screen locker
// (i3lock -n), split the screen into monitors, and publish a scale as a settings manager of its
// own. Every program is killed and reaped when the object is destroyed. Use from one thread.
class VirtualDisplay {
 public:
  struct Options {
    bool windowManager = false;
    int width = 1440;
    int height = 900;
    int depth = 24;  // 16: a display of 5-6-5 bits a pixel
  };
  // A monitor of xrandr --setmonitor, in pixels of the root window.
  struct MonitorPlacement {
    int x = 0, y = 0, width = 0, height = 0;
    bool primary = false;
  };
  // Starts the server (and openbox, waiting until it manages the screen). When Xvfb is missing
  // or does not start, available() is false and why() says why: the test should skip.
  explicit VirtualDisplay(Options options);
  VirtualDisplay() : VirtualDisplay(Options{}) {}
  ~VirtualDisplay();
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  bool available() const { return _connection != nullptr; }
  const std::string& why() const { return _why; }
  // ":N", for DISPLAY.
  const std::string& name() const { return _name; }
  // The test's connection (owned here).
  Display* connection() const { return _connection; }

  // Paints the desktop (the root window) in the colour 0xRRGGBB.
  void setDesktopColor(std::uint32_t rgb);
  // What the screen shows now, as a new RGB24 image surface.
  appkit::CairoSurface screenshot() const;
  // Whether `holds` becomes true of a screenshot within `seconds` of real time.
  bool awaitScreen(const std::function<bool(cairo_surface_t*)>& holds, double seconds = 10) const;
  // A pixel of an RGB24 or ARGB32 image as 0xRRGGBB.
  static std::uint32_t rgbAt(cairo_surface_t* image, int x, int y);
  // What the screen shows in the rectangle given, as above.
  appkit::CairoSurface screenshot(int x, int y, int width, int height) const;
  // Ends the server at once, as when the session ends; the test's connection closes first, and
  // available() is false from then on.
  void killServer();
  // Stops the server (SIGSTOP): it still accepts connections but answers none, as a hung or
  // stale display does; the test must not use its connection until continueServer().
  void stopServer();
  void continueServer();

  // Starts a compositing manager and waits until it owns the screen's compositor selection;
  // false (with why()) when it cannot. stopCompositor() kills it and waits until the selection
  // is free.
  bool startCompositor();
  void stopCompositor();
  // Starts `i3lock -n` in the colour 0xRRGGBB and waits until its window covers the screen;
  // false (with why()) when it cannot. unlock() ends it and waits until its window is gone.
  bool lock(std::uint32_t rgb);
  void unlock();
  // Replaces the user-defined monitors with `monitors` (xrandr --setmonitor); false on failure.
  bool setMonitors(const std::vector<MonitorPlacement>& monitors);
  // Publishes Gdk/WindowScalingFactor `factor` and Xft/DPI 96 × `factor` as the screen's
  // XSETTINGS manager (a window of the test's connection), becoming the manager at the first call.
  void publishScale(int factor);

 private:
  std::string _name;
  std::string _why;
  pid_t _server = -1;
  bool _stopped = false;
  std::unique_ptr<Subprocess> _windowManager;
  std::unique_ptr<Subprocess> _compositor;
  std::unique_ptr<Subprocess> _locker;
  std::vector<std::string> _monitorNames;
  unsigned long _settingsWindow = 0;
  std::uint32_t _settingsSerial = 0;
  Display* _connection = nullptr;
};

}  // namespace testing_support
