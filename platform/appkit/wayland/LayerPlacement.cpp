#include "appkit/wayland/LayerPlacement.h"

#include <algorithm>
#include <cmath>

namespace appkit {

LayerPlacement LayerPlacement::of(Rect frame, Size output) {
  const long outputWidth = std::lround(output.width), outputHeight = std::lround(output.height);
  const long left = std::lround(frame.minX());
  const long top = std::lround(output.height - frame.maxY());
  const long width = std::lround(frame.size.width), height = std::lround(frame.size.height);
  const long visibleLeft = std::max(left, 0L), visibleRight = std::min(left + width, outputWidth);
  const long visibleTop = std::max(top, 0L), visibleBottom = std::min(top + height, outputHeight);
  LayerPlacement placement;
  if (visibleRight <= visibleLeft || visibleBottom <= visibleTop) return placement;
  placement.marginTop = int(visibleTop);
  placement.marginRight = int(outputWidth - visibleRight);
  placement.width = int(visibleRight - visibleLeft);
  placement.height = int(visibleBottom - visibleTop);
  placement.cropLeft = int(visibleLeft - left);
  placement.cropTop = int(visibleTop - top);
  return placement;
}

}  // namespace appkit
