#include "NSBackgroudView.h"

#include <gtest/gtest.h>

#include "PopupLayoutFixture.h"

namespace {

using appkit::EventType;
using testing_support::PopupLayoutFixture;

class NSBackgroudViewTest : public PopupLayoutFixture {};

TEST_P(NSBackgroudViewTest, APanelWithClearCornersShadingFromWhiteTo92Percent) {
  ASSERT_TRUE(show("", ""));
  for (auto [x, y] : {std::pair{0.0, 0.0},
                      {359.5, 0.0},
                      {0.0, 179.5},
                      {359.5, 179.5},
                      {1.0, 1.0},
                      {358.0, 178.0}}) {
    EXPECT_EQ(at(x, y).alpha, 0) << x << "," << y;
  }
  Rgba top = at(180, 179.9);
  EXPECT_EQ(top.alpha, 255);
  EXPECT_EQ(top.red, 255);
  Rgba bottom = at(180, 0);
  EXPECT_EQ(bottom.alpha, 255);
  EXPECT_NEAR(bottom.red, 0.92 * 255, 1.5);
  EXPECT_EQ(bottom.red, bottom.blue);
  EXPECT_NEAR(at(180, 90).red, 0.96 * 255, 2);
  // Opaque next to the corner arcs.
  EXPECT_EQ(at(8, 0).alpha, 255);
  EXPECT_EQ(at(0, 8).alpha, 255);
  writePng("background");
}

// Records the presses that reach it.
class PressRecorder : public appkit::View {
 public:
  using View::View;
  void mouseDown(const appkit::Event&) override { ++presses; }
  int presses = 0;
};

TEST_P(NSBackgroudViewTest, APressOnThePanelGoesNoFurther) {
  ASSERT_TRUE(show("", ""));
  PressRecorder parent(appkit::Rect::make(0, 0, 360, 180));
  NSBackgroudView panel;
  panel.setFrame(appkit::Rect::make(20, 20, 100, 100));
  parent.addSubview(&panel);
  window().setContentView(&parent);
  drain();

  mouse(EventType::LeftMouseDown, {50, 50});
  mouse(EventType::LeftMouseUp, {50, 50});
  EXPECT_EQ(parent.presses, 0);
  mouse(EventType::LeftMouseDown, {200, 150});
  mouse(EventType::LeftMouseUp, {200, 150});
  EXPECT_EQ(parent.presses, 1);
  window().setContentView(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Scales, NSBackgroudViewTest, ::testing::Values(1.0, 2.0));

}  // namespace
