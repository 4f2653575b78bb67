#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "appkit/Geometry.h"
#include "appkit/WindowBackend.h"

namespace appkit {

// A monitor as the X server lays it out: device pixels, origin at the top left of the root window.
struct Monitor {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool primary = false;
};

// A window's place in root-window pixels (origin top left, y down).
struct RootRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const RootRect&) const = default;
};

// How screen points map to the X display's pixels. The main screen is the primary monitor, else
// the first one listed, else the whole display; its bottom-left corner is the origin of screen
// points and y grows upwards, so a frame at the main screen's top right lands there whatever the
// monitor's place on the root window. A plain value.
class MonitorLayout {
 public:
  MonitorLayout() = default;
  // The layout for `monitors` (in the server's order) on a display of `displayWidth` ×
  // `displayHeight` pixels, at `scale` device pixels per point (> 0). Monitors of no area are
  // passed over.
  static MonitorLayout choose(const std::vector<Monitor>& monitors, int displayWidth,
                              int displayHeight, double scale);

  // The scale from a GDK_SCALE value (a positive whole number wins when set) or else from the
  // X resource database's text (its Xft.dpi divided by 96), never below 1 nor above 8. Either
  // may be null.
  static double scaleFrom(const char* gdkScale, const char* resources);

  // The main monitor's pixels.
  const Monitor& main() const { return _main; }
  double scale() const { return _scale; }
  ScreenDescription screen() const;
  // The pixels of `frame` (screen points): its left and top edges and its size each rounded to
  // the nearest pixel; at least one pixel wide and high.
  RootRect toRoot(Rect frame) const;

 private:
  Monitor _main{0, 0, 1, 1, false};
  double _scale = 1;
};

}  // namespace appkit
