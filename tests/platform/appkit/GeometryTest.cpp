#include "appkit/Geometry.h"

#include <gtest/gtest.h>

using appkit::PixelRect;
using appkit::Point;
using appkit::Rect;

TEST(Rect, InsetPastEmptyCollapsesAtTheCentreInsteadOfGoingNegative) {
  Rect rect = Rect::make(10, 20, 8, 40);
  Rect inset = rect.insetBy(5, 4);  // 8 - 10 would be -2 wide; 40 - 8 fits
  EXPECT_EQ(inset, Rect::make(14, 24, 0, 32));
  EXPECT_TRUE(inset.isEmpty());
  EXPECT_EQ(inset.midX(), rect.midX());

  EXPECT_EQ(rect.insetBy(-1, -2), Rect::make(9, 18, 10, 44)) << "a negative inset grows the rect";
  EXPECT_EQ(rect.insetBy(4, 20), Rect::make(14, 40, 0, 0)) << "exactly empty on both sides";
}

TEST(Rect, ContainsItsMinimumEdgesButNotItsMaximumOnes) {
  Rect rect = Rect::make(0, 0, 10, 5);
  EXPECT_TRUE(rect.contains(Point{0, 0}));
  EXPECT_TRUE(rect.contains(Point{9.999, 4.999}));
  EXPECT_FALSE(rect.contains(Point{10, 2}));
  EXPECT_FALSE(rect.contains(Point{5, 5}));
  EXPECT_FALSE(rect.contains(Point{-0.001, 2}));
  // Two rects side by side claim their shared edge once.
  Rect right = rect.offsetBy(10, 0);
  EXPECT_TRUE(right.contains(Point{10, 2}));
  EXPECT_FALSE(Rect::make(3, 3, 0, 4).contains(Point{3, 4})) << "an empty rect contains nothing";
}

TEST(Rect, RectsThatOnlyTouchDoNotIntersect) {
  Rect a = Rect::make(0, 0, 10, 10);
  EXPECT_FALSE(a.intersects(Rect::make(10, 0, 5, 5)));
  EXPECT_EQ(a.intersection(Rect::make(10, 0, 5, 5)), Rect{});
  EXPECT_EQ(a.intersection(Rect::make(-5, 8, 8, 20)), Rect::make(0, 8, 3, 2));
  EXPECT_FALSE(a.intersects(Rect::make(2, 2, 0, 5))) << "an empty rect intersects nothing";
}

TEST(Rect, PixelRectRoundsOutwardsToWholePixels) {
  // At scale 2: x 0.25..10.75 -> 0.5..21.5 px, y 0.75..4.05 -> 1.5..8.1 px.
  EXPECT_EQ(Rect::make(0.25, 0.75, 10.5, 3.3).pixelRect(2), (PixelRect{0, 1, 22, 8}));
  EXPECT_EQ(Rect::make(-0.75, 1, 1, 1).pixelRect(2), (PixelRect{-2, 2, 3, 2}));
  EXPECT_EQ(Rect::make(1, 1, 2, 3).pixelRect(2), (PixelRect{2, 2, 4, 6})) << "whole points";
  // 0.1 + 0.2 is 0.30000000000000004 in binary: ten times that is 3 pixels, not 4.
  EXPECT_EQ(Rect::make(0.1, 0, 0.2, 1).pixelRect(10), (PixelRect{1, 0, 2, 10}));
  EXPECT_EQ(Rect::make(1.25, 1.75, 0, 4).pixelRect(2), (PixelRect{2, 3, 0, 0}));
}
