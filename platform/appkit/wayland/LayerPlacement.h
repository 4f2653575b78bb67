#pragma once

#include "appkit/Geometry.h"

namespace appkit {

// Where a window's layer surface goes on its output, anchored at the top right: the part of the
// window's frame that lies on the output (nothing is shown on a neighbour) in whole points, the
// margins that put it there, and the part of the window's own frame it shows.
struct LayerPlacement {
  int marginTop = 0, marginRight = 0;  // from the output's top and right edges, points
  int width = 0, height = 0;           // of the surface, points; 0 when nothing is on the output
  int cropLeft = 0, cropTop = 0;  // the surface's origin in the frame, points from its top left

  bool isEmpty() const { return width <= 0 || height <= 0; }
  bool operator==(const LayerPlacement&) const = default;

  // The placement of `frame` (screen points, origin at the bottom left of an output of `output`
  // points).
  static LayerPlacement of(Rect frame, Size output);
};

}  // namespace appkit
