#pragma once

typedef struct _cairo_surface cairo_surface_t;

namespace appkit {

class View;

// Pictures of windows at rest, a diagnostic of the platform for people and tests. When the
// environment's PLATFORM_SNAPSHOT_DIR names a folder, each snapshot is written there as <n>.png
// (the window's pixels with its alpha applied, RGBA, device pixels), n counting 1, 2, … for the
// whole process, and beside it <n>.txt, the text of the window's shown text fields at that
// moment, one field a line, back to front. The text is written first and the picture renamed into
// place, so that a reader who sees <n>.png finds both whole. The first failure is logged, later
// ones are not. Main thread only.
class Snapshot {
 public:
  // Whether PLATFORM_SNAPSHOT_DIR asks for snapshots.
  static bool enabled();
  // Writes the next snapshot, when enabled: `pixels` (an ARGB32 image surface) shown at `alpha`,
  // and the text fields of the hierarchy of `content` (may be null).
  static void write(cairo_surface_t* pixels, double alpha, const View* content);
};

}  // namespace appkit
