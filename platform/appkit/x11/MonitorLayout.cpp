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
  return layout;
}

double MonitorLayout::scaleFrom(const char* gdkScale, const char* resources) {
  if (gdkScale && *gdkScale) {
    std::optional<double> value = parseNumber(gdkScale);
    if (value && *value >= 1 && *value == std::floor(*value)) return std::min(*value, kMaxScale);
  }
  if (resources) {
    if (std::optional<std::string_view> dpi = resource(resources, "Xft.dpi")) {
      if (std::optional<double> value = parseNumber(*dpi); value && *value > 0)
        return std::clamp(*value / 96, 1.0, kMaxScale);
    }
  }
  return 1;
}

ScreenDescription MonitorLayout::screen() const {
  Rect frame = Rect::make(0, 0, _main.width / _scale, _main.height / _scale);
  return ScreenDescription{frame, frame, _scale};
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
