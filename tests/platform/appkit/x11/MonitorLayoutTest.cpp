#include "appkit/x11/MonitorLayout.h"

#include <gtest/gtest.h>

using appkit::Monitor;
using appkit::MonitorLayout;
using appkit::Rect;
using appkit::RootRect;

namespace {

// A 360×180-point pop-up at the top right of the main screen, as the portable side places it.
RootRect topRightPopUp(const MonitorLayout& layout) {
  Rect screen = layout.screen().frame;
  return layout.toRoot(Rect::make(screen.maxX() - 360, screen.maxY() - 180, 360, 180));
}

}  // namespace

TEST(MonitorLayoutChoice, ThePrimaryMonitorWinsWhereverItIsListed) {
  // A laptop panel on the left, the primary monitor to its right and lower on the root window.
  MonitorLayout layout = MonitorLayout::choose(
      {{0, 0, 1280, 800, false}, {1280, 200, 1920, 1080, true}}, 3200, 1280, 1);
  EXPECT_EQ(layout.screen().frame, Rect::make(0, 0, 1920, 1080));
  EXPECT_EQ(topRightPopUp(layout), (RootRect{1280 + 1920 - 360, 200, 360, 180}));
}

TEST(MonitorLayoutChoice, WithoutAPrimaryTheFirstMonitorIsTheMainScreen) {
  MonitorLayout layout = MonitorLayout::choose(
      {{0, 0, 0, 0, false}, {1440, 0, 1024, 768, false}, {0, 0, 1440, 900, false}}, 2464, 900, 1);
  EXPECT_EQ(layout.main().x, 1440) << "a monitor of no area is passed over";
  EXPECT_EQ(layout.screen().frame, Rect::make(0, 0, 1024, 768));
  EXPECT_EQ(topRightPopUp(layout), (RootRect{1440 + 1024 - 360, 0, 360, 180}));
}

TEST(MonitorLayoutChoice, WithoutMonitorsTheWholeDisplayIsTheMainScreen) {
  MonitorLayout layout = MonitorLayout::choose({}, 1440, 900, 1);
  EXPECT_EQ(layout.screen().frame, Rect::make(0, 0, 1440, 900));
  // Bottom-left points turn into top-left pixels.
  EXPECT_EQ(layout.toRoot(Rect::make(0, 0, 100, 50)), (RootRect{0, 850, 100, 50}));
}

TEST(MonitorLayoutChoice, AtScaleTwoPointsStayPointsAndPixelsDouble) {
  MonitorLayout layout = MonitorLayout::choose({{0, 0, 2880, 1800, true}}, 2880, 1800, 2);
  EXPECT_EQ(layout.screen().frame, Rect::make(0, 0, 1440, 900));
  EXPECT_EQ(layout.screen().backingScaleFactor, 2);
  EXPECT_EQ(topRightPopUp(layout), (RootRect{2880 - 720, 0, 720, 360}));
  // A frame between pixels keeps the size in pixels its window's surface has.
  EXPECT_EQ(layout.toRoot(Rect::make(10.3, 0, 100.4, 50)), (RootRect{21, 1700, 201, 100}));
}

TEST(MonitorLayoutScale, GdkScaleWinsThenXftDpiOverNinetySix) {
  const char* resources = "Xft.antialias:\t1\nXft.dpi:\t192\nXft.hinting:\t1\n";
  EXPECT_EQ(MonitorLayout::scaleFrom("3", resources), 3);
  EXPECT_EQ(MonitorLayout::scaleFrom(nullptr, resources), 2);
  EXPECT_EQ(MonitorLayout::scaleFrom(nullptr, "Xft.dpi: 144\n"), 1.5);
  // Not a positive whole number: the resource decides.
  EXPECT_EQ(MonitorLayout::scaleFrom("1.5", resources), 2);
  EXPECT_EQ(MonitorLayout::scaleFrom("0", resources), 2);
  EXPECT_EQ(MonitorLayout::scaleFrom("", nullptr), 1);
  // Never below 1, nor absurdly high; a similar name is not the resource.
  EXPECT_EQ(MonitorLayout::scaleFrom(nullptr, "Xft.dpi:\t72\n"), 1);
  EXPECT_EQ(MonitorLayout::scaleFrom(nullptr, "Xft.dpi:\t96000\n"), 8);
  EXPECT_EQ(MonitorLayout::scaleFrom(nullptr, "MyXft.dpi:\t192\nXft.dpi:\tlots\n"), 1);
}
