#include <gtest/gtest.h>

#include "Canvas.h"
#include "appkit/BezierPath.h"
#include "appkit/Gradient.h"

using appkit::BezierPath;
using appkit::Color;
using appkit::Gradient;
using appkit::Point;
using appkit::Rect;
using testing_support::Canvas;

TEST(BezierPath, RoundedRectAtScaleTwoLeavesItsCornersClearAndFillsTheRest) {
  Rect rect = Rect::make(0, 0, 40, 30);
  {
    Canvas canvas(40, 30, 2, false);
    Color::redColor().setFill();
    BezierPath::bezierPathWithRoundedRect(rect, 8, 8).fill();
    for (auto [x, y] : {std::pair{0, 0}, {79, 0}, {0, 59}, {79, 59}, {2, 2}, {77, 57}}) {
      EXPECT_EQ(canvas.at(x, y).alpha, 0) << x << "," << y;
    }
    for (auto [x, y] : {std::pair{40, 30}, {40, 0}, {0, 30}, {79, 30}, {40, 59}}) {
      EXPECT_EQ(canvas.at(x, y).alpha, 255) << x << "," << y;
      EXPECT_EQ(canvas.at(x, y).red, 255) << x << "," << y;
    }
  }
  {
    // Radii beyond half the sides are clamped: the path is the ellipse inscribed in the rect.
    BezierPath oval = BezierPath::bezierPathWithRoundedRect(rect, 100, 100);
    EXPECT_EQ(oval.bounds(), rect);
    Canvas canvas(40, 30, 2, false);
    Color::redColor().setFill();
    oval.fill();
    EXPECT_EQ(canvas.at(40, 1).alpha, 255);
    EXPECT_EQ(canvas.at(1, 30).alpha, 255);
    EXPECT_EQ(canvas.at(10, 6).alpha, 0);
  }
}

TEST(BezierPath, AOnePointLineAtAFractionalScaleCoversWholePixels) {
  // At 1.5 a line on a whole point would straddle pixels and show as two half-tone ones.
  Canvas canvas(40, 40, 1.5, false);
  Color::blackColor().setStroke();
  BezierPath path = BezierPath::bezierPathWithRect(Rect::make(5, 5, 30, 30));
  path.setLineWidth(1);
  path.stroke();
  int partial = 0, inked = 0;
  for (int x = 0; x < 60; ++x) {
    int alpha = canvas.at(x, 30).alpha;
    partial += alpha > 0 && alpha < 255;
    inked += alpha == 255;
  }
  EXPECT_EQ(partial, 0);
  EXPECT_EQ(inked, 4) << "1.5 pixels rounded to two on each side";
}

TEST(BezierPath, BoundsFollowTheCurveNotItsControlPoints) {
  BezierPath path;
  path.moveToPoint(Point{0, 0});
  path.curveToPoint(Point{10, 0}, Point{0, 10}, Point{10, 10});  // peaks at y = 7.5
  Rect bounds = path.bounds();
  EXPECT_DOUBLE_EQ(bounds.size.width, 10);
  EXPECT_NEAR(bounds.size.height, 7.5, 1e-9);
  EXPECT_EQ(BezierPath().bounds(), Rect{});
}

TEST(Gradient, RunsAlongTheAngleInTheViewsCoordinatesAndRestoresTheClip) {
  Color red = Color::redColor();
  Color blue = Color::colorWithCalibratedRed(0, 0, 1, 1);
  Gradient gradient(red, blue);
  Rect rect = Rect::make(0, 0, 20, 50);
  auto expectRedThenBlue = [](Canvas::Pixel first, Canvas::Pixel last) {
    EXPECT_GE(first.red, 245);
    EXPECT_LE(first.blue, 10);
    EXPECT_LE(last.red, 10);
    EXPECT_GE(last.blue, 245);
  };
  {
    Canvas canvas(20, 50, 1, false);
    gradient.drawInRect(rect, 270);
    expectRedThenBlue(canvas.at(10, 0), canvas.at(10, 49));  // top row, bottom row
  }
  {
    // In a flipped view 90 points down the screen.
    Canvas canvas(20, 50, 2, true);
    gradient.drawInRect(rect, 90);
    expectRedThenBlue(canvas.at(20, 0), canvas.at(20, 99));
  }
  {
    Rect wide = Rect::make(0, 0, 200, 50);
    Canvas canvas(200, 50, 1, false);
    gradient.drawInBezierPath(BezierPath::bezierPathWithOvalInRect(wide), 0);
    expectRedThenBlue(canvas.at(2, 25), canvas.at(197, 25));
    EXPECT_EQ(canvas.at(0, 0).alpha, 0) << "nothing outside the path";
    Color::whiteColor().setFill();
    BezierPath::bezierPathWithRect(wide).fill();
    EXPECT_EQ(canvas.at(0, 0).alpha, 255) << "the path's clip is gone after drawing";
  }
}
