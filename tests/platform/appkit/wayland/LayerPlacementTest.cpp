#include "appkit/wayland/LayerPlacement.h"

#include <gtest/gtest.h>

namespace appkit {
namespace {

constexpr Size kOutput{1440, 900};

TEST(LayerPlacement, CutsAwayWhatLiesOffTheOutputAndShowsTheRest) {
  // At rest at the top right.
  EXPECT_EQ(LayerPlacement::of(Rect::make(1080, 720, 360, 180), kOutput),
            (LayerPlacement{0, 0, 360, 180, 0, 0}));
  // Sliding in: its left 100 points are on the output, flush with the right edge.
  EXPECT_EQ(LayerPlacement::of(Rect::make(1340, 720, 360, 180), kOutput),
            (LayerPlacement{0, 0, 100, 180, 0, 0}));
  // Below a top panel and away from the right edge, at a fractional step of a slide.
  EXPECT_EQ(LayerPlacement::of(Rect::make(1000.4, 690, 360, 180), kOutput),
            (LayerPlacement{30, 80, 360, 180, 0, 0}));
  // Over the top and left edges: the surface shows the frame's lower right part.
  EXPECT_EQ(LayerPlacement::of(Rect::make(-40, 750, 360, 180), kOutput),
            (LayerPlacement{0, 1120, 320, 150, 40, 30}));
  // Wholly off the output (the first step of a slide in, the last of a slide out).
  EXPECT_TRUE(LayerPlacement::of(Rect::make(1440, 720, 360, 180), kOutput).isEmpty());
  EXPECT_TRUE(LayerPlacement::of(Rect::make(1080, 900, 360, 180), kOutput).isEmpty());
}

}  // namespace
}  // namespace appkit
