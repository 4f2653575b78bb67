#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

typedef struct _XDisplay Display;
typedef struct _cairo_surface cairo_surface_t;

namespace testing_support {

class Subprocess;

// A private X server for one test: Xvfb on a free display number, 1440×900 at depth 24, with
// openbox as its window manager when asked, and a connection of the test's own to it. Both
// programs are killed and reaped when the object is destroyed. Use from one thread.
class VirtualDisplay {
 public:
  struct Options {
    bool windowManager = false;
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
  // What the screen shows now, as a new RGB24 image surface that the caller destroys.
  cairo_surface_t* screenshot() const;
  // A pixel of an RGB24 or ARGB32 image as 0xRRGGBB.
  static std::uint32_t rgbAt(cairo_surface_t* image, int x, int y);
  // Ends the server at once, as when the session ends; the test's connection closes first, and
  // available() is false from then on.
  void killServer();
  // Stops the server (SIGSTOP): it still accepts connections but answers none, as a hung or
  // stale display does; the test must not use its connection until continueServer().
  void stopServer();
  void continueServer();

 private:
  std::string _name;
  std::string _why;
  pid_t _server = -1;
  bool _stopped = false;
  std::unique_ptr<Subprocess> _windowManager;
  Display* _connection = nullptr;
};

}  // namespace testing_support
