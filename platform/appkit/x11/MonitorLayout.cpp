#include "appkit/x11/MonitorLayout.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

namespace appkit {
namespace {

constexpr double kMaxScale = 8;
// X's limit on a window's side.
constexpr long long kMaxSide = 32767;

std::optional<double> parseNumber(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
    text.remove_suffix(1);
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

// The value of `name` in X resource text ("name:\tvalue" lines), if any.
std::optional<std::string_view> resource(std::string_view text, std::string_view name) {
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view key = line.substr(0, colon);
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.remove_suffix(1);
    if (key == name) return line.substr(colon + 1);
  }
  return std::nullopt;
}

}  // namespace

MonitorLayout MonitorLayout::choose(const std::vector<Monitor>& monitors, int displayWidth,
                                    int displayHeight, double scale) {
  MonitorLayout layout;
  layout._scale = scale > 0 && std::isfinite(scale) ? scale : 1;
  const Monitor* chosen = nullptr;
  for (const Monitor& monitor : monitors) {
    if (monitor.width <= 0 || monitor.height <= 0) continue;
    if (monitor.primary) {
      chosen = &monitor;
      break;
    }
    if (!chosen) chosen = &monitor;
  }
  if (chosen) {
    layout._main = *chosen;
  } else {
    layout._main = Monitor{0, 0, std::max(displayWidth, 1), std::max(displayHeight, 1), false};
  }
  layout._work = RootRect{layout._main.x, layout._main.y, layout._main.width, layout._main.height};
  return layout;
}

double MonitorLayout::scaleFrom(const char* gdkScale, std::optional<double> settingsScale,
                                const char* resources) {
  if (gdkScale && *gdkScale) {
    std::optional<double> value = parseNumber(gdkScale);
    if (value && *value >= 1 && *value == std::floor(*value)) return std::min(*value, kMaxScale);
  }
  if (settingsScale && std::isfinite(*settingsScale) && *settingsScale > 0)
    return std::clamp(*settingsScale, 1.0, kMaxScale);
  if (resources) {
    if (std::optional<std::string_view> dpi = resource(resources, "Xft.dpi")) {
      if (std::optional<double> value = parseNumber(*dpi); value && *value > 0)
        return std::clamp(*value / 96, 1.0, kMaxScale);
    }
  }
  return 1;
}

void MonitorLayout::reserve(std::optional<RootRect> workArea, const std::vector<Strut>& struts,
                            int displayWidth, int displayHeight) {
  long left = _main.x, top = _main.y;
  long right = left + _main.width, bottom = top + _main.height;
  if (workArea) {
    long areaRight = long(workArea->x) + workArea->width;
    long areaBottom = long(workArea->y) + workArea->height;
    // An area that misses the monitor says nothing about it.
    if (workArea->x < right && areaRight > left && workArea->y < bottom && areaBottom > top) {
      left = std::max<long>(left, workArea->x);
      top = std::max<long>(top, workArea->y);
      right = std::min(right, areaRight);
      bottom = std::min(bottom, areaBottom);
    }
  }
  // A strut counts for this monitor when the stretch it covers overlaps the monitor's side and
  // its band reaches inside the monitor.
  auto overlaps = [](long start, long end, long low, long high) {
    return start <= end && start < high && end >= low;
  };
  for (const Strut& strut : struts) {
    // Each edge moves in, never past the opposite one, by the band of a strut along it.
    if (overlaps(strut.topStartX, strut.topEndX, left, right))
      top = std::clamp(strut.top, top, bottom);
    if (strut.bottom > 0 && overlaps(strut.bottomStartX, strut.bottomEndX, left, right))
      bottom = std::clamp(long(displayHeight) - strut.bottom, top, bottom);
    if (overlaps(strut.leftStartY, strut.leftEndY, top, bottom))
      left = std::clamp(strut.left, left, right);
    if (strut.right > 0 && overlaps(strut.rightStartY, strut.rightEndY, top, bottom))
      right = std::clamp(long(displayWidth) - strut.right, left, right);
  }
  _work = RootRect{int(left), int(top), int(right - left), int(bottom - top)};
}

ScreenDescription MonitorLayout::screen() const {
  Rect frame = Rect::make(0, 0, _main.width / _scale, _main.height / _scale);
  // Screen points grow upwards from the main monitor's bottom edge.
  double bottom = double(_main.y + _main.height - (_work.y + _work.height));
  Rect visible = Rect::make((_work.x - _main.x) / _scale, bottom / _scale, _work.width / _scale,
                            _work.height / _scale);
  return ScreenDescription{frame, visible, _scale};
}

RootRect MonitorLayout::toRoot(Rect frame) const {
  // The size is rounded on its own, as the window's surface is, so that the two always agree.
  auto pixels = [this](double points) { return std::llround(points * _scale); };
  auto clamped = [](long long value, long long low, long long high) {
    return static_cast<int>(std::clamp(value, low, high));
  };
  constexpr long long kFar = 1LL << 30;
  int width = clamped(pixels(frame.size.width), 1, kMaxSide);
  int height = clamped(pixels(frame.size.height), 1, kMaxSide);
  int left = clamped(_main.x + pixels(frame.minX()), -kFar, kFar);
  int top = clamped(_main.y + _main.height - pixels(frame.maxY()), -kFar, kFar);
  return RootRect{left, top, width, height};
}

}  // namespace appkit
