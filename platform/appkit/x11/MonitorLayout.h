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

// A dock's _NET_WM_STRUT_PARTIAL: the space it reserves along each edge of the whole display
// (pixels from that edge) and the stretch of that edge it covers, in the property's order.
struct Strut {
  long left = 0, right = 0, top = 0, bottom = 0;
  long leftStartY = 0, leftEndY = 0, rightStartY = 0, rightEndY = 0;
  long topStartX = 0, topEndX = 0, bottomStartX = 0, bottomEndX = 0;
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

  // The scale from a GDK_SCALE value (a positive whole number wins when set), else from the
  // settings manager's scale (XSettings::scale()), else from the X resource database's text (its
  // Xft.dpi divided by 96); never below 1 nor above 8. Any may be null or absent.
  static double scaleFrom(const char* gdkScale, std::optional<double> settingsScale,
                          const char* resources);

  // Leaves panels and docks their space: the main monitor cut to the window manager's work area
  // (when it publishes one that meets the monitor) and then clear of each strut that reaches
  // into it. `displayWidth` and `displayHeight` place the right and bottom struts.
  void reserve(std::optional<RootRect> workArea, const std::vector<Strut>& struts, int displayWidth,
               int displayHeight);

  // The main monitor's pixels.
  const Monitor& main() const { return _main; }
  // The part of the main monitor free of panels (the whole monitor unless reserve() cut it).
  const RootRect& workArea() const { return _work; }
  double scale() const { return _scale; }
  ScreenDescription screen() const;
  // The pixels of `frame` (screen points): its left and top edges and its size each rounded to
  // the nearest pixel; at least one pixel wide and high.
  RootRect toRoot(Rect frame) const;

 private:
  Monitor _main{0, 0, 1, 1, false};
  RootRect _work{0, 0, 1, 1};
  double _scale = 1;
};

}  // namespace appkit
