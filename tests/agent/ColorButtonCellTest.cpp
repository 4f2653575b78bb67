#include "ColorButtonCell.h"

#include <gtest/gtest.h>

#include <string>

#include "PopupLayoutFixture.h"
#include "appkit/Cursor.h"

namespace {

using appkit::Color;
using appkit::EventType;
using testing_support::PopupLayoutFixture;

// A button on the panel with a ColorButtonCell; `cellProperties` is XML of the cell's properties.
std::string button(const std::string& id, const char* frame, const std::string& title,
                   const std::string& cellProperties = "") {
  return "<dict><key>id</key><string>" + id +
         "</string><key>class</key><string>NSButton</string>"
         "<key>properties</key><dict><key>frame</key>" +
         frame + "</dict><key>outlets</key><dict><key>cell</key><string>" + id +
         "Cell</string></dict></dict>"
         "<dict><key>id</key><string>" +
         id +
         "Cell</string><key>class</key><string>ColorButtonCell</string>"
         "<key>properties</key><dict><key>title</key><string>" +
         title + "</string>" + cellProperties + "</dict></dict>";
}

const char* kRight =
    "<array><integer>200</integer><integer>20</integer><integer>140</integer>"
    "<integer>30</integer></array>";
const char* kLeft =
    "<array><integer>40</integer><integer>20</integer><integer>140</integer>"
    "<integer>30</integer></array>";
const char* kOn = "<true/>";

std::string flag(const char* key) { return std::string("<key>") + key + "</key>" + kOn; }

class ColorButtonCellTest : public PopupLayoutFixture {
 protected:
  // Whether `pixel` is, within 2 of 255, the blue (2, 154, 229) drawn at `alpha` over `under`.
  static bool isBlueOver(Rgba pixel, Rgba under, double alpha) {
    auto mix = [alpha](int blue, int base) { return blue * alpha + base * (1 - alpha); };
    return std::abs(pixel.red - mix(2, under.red)) <= 2 &&
           std::abs(pixel.green - mix(154, under.green)) <= 2 &&
           std::abs(pixel.blue - mix(229, under.blue)) <= 2;
  }
  static bool isPanel(Rgba pixel) {
    return pixel.alpha == 255 && pixel.red > 225 && pixel.red == pixel.blue;
  }
  // The strongest blue-over-red and red-over-blue ink inside the rect, as (b - r) and (r - b).
  std::pair<int, int> strongestInk(double x0, double y0, double x1, double y1) const {
    int blueInk = -255, redInk = -255;
    for (double y = y0; y < y1; y += 1 / scale()) {
      for (double x = x0; x < x1; x += 1 / scale()) {
        Rgba p = at(x, y);
        blueInk = std::max(blueInk, p.blue - p.red);
        redInk = std::max(redInk, p.red - p.blue);
      }
    }
    return {blueInk, redInk};
  }
};

TEST_P(ColorButtonCellTest, AButtonWithoutSettingsIsFlatBlueAndItsColourFollowsTheMouse) {
  ASSERT_TRUE(show(button("ok", kRight, "OK"), "<string>ok</string>"));
  auto* cell = object<ColorButtonCell>("okCell");
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(cell->bezelStyle(), appkit::BezelStyle::RoundRect);
  EXPECT_FALSE(cell->hasBorderStyle());
  EXPECT_FALSE(cell->roundedCorner());

  const Rgba panel = at(190, 35);
  ASSERT_TRUE(isPanel(panel));
  EXPECT_TRUE(isBlueOver(at(205, 35), panel, 1.0));
  EXPECT_TRUE(isBlueOver(at(200, 20), panel, 1.0)) << "square corners";
  // The title is white.
  bool white = false;
  for (double x = 250; x < 290 && !white; x += 0.5) {
    for (double y = 25; y < 45 && !white; y += 0.5) {
      Rgba p = at(x, y);
      white = p.red > 245 && p.green > 245 && p.blue > 245;
    }
  }
  EXPECT_TRUE(white);

  mouse(EventType::MouseMoved, {205, 35});
  EXPECT_TRUE(isBlueOver(at(205, 35), panel, 0.9));
  EXPECT_EQ(appkit::Cursor::currentKind(), appkit::Cursor::Kind::PointingHand);

  mouse(EventType::LeftMouseDown, {205, 35});
  EXPECT_TRUE(isBlueOver(at(205, 35), panel, 0.8));

  // Released inside: the resting colour, not the hover colour, although the mouse is still there.
  mouse(EventType::LeftMouseUp, {205, 35});
  EXPECT_TRUE(isBlueOver(at(205, 35), panel, 1.0));
  EXPECT_EQ(appkit::Cursor::currentKind(), appkit::Cursor::Kind::PointingHand);

  mouse(EventType::MouseMoved, {100, 120});
  EXPECT_TRUE(isBlueOver(at(205, 35), panel, 1.0));
  EXPECT_EQ(appkit::Cursor::currentKind(), appkit::Cursor::Kind::Arrow);
  writePng("color-button");
}

TEST_P(ColorButtonCellTest, RoundedCornersAreHalfTheHeightAndTheOutlineLiesOneInside) {
  ASSERT_TRUE(show(button("pill", kRight, "", flag("roundedCorner")) +
                       button("outline", kLeft, "", flag("roundedCorner") + flag("borderStyle")),
                   "<string>pill</string><string>outline</string>"));
  const Rgba panel = at(190, 35);

  // Filled, 30 points high: radius 15.
  EXPECT_TRUE(isPanel(at(200, 20)));
  EXPECT_TRUE(isPanel(at(201.5, 24))) << "outside a radius of 15, inside one of 8";
  EXPECT_TRUE(isBlueOver(at(202.5, 28), panel, 1.0));
  EXPECT_TRUE(isBlueOver(at(270, 35), panel, 1.0));

  // Outline: a 1-point line on the frame inset by 1 (x 40.5 … 41.5), radius 14; not filled.
  Rgba line = at(41, 35);
  EXPECT_GT(line.blue - line.red, 60);
  EXPECT_TRUE(isPanel(at(43, 35)));
  EXPECT_TRUE(isPanel(at(110, 35)));
  EXPECT_TRUE(isPanel(at(41.5, 21.5))) << "outside the outline's rounded corner";
  writePng("color-button-shapes");
}

TEST_P(ColorButtonCellTest, ADisabledCellIsGreyInBothStyles) {
  const std::string off = "<key>enabled</key><false/>";
  ASSERT_TRUE(show(
      button("filled", kRight, "", off) + button("outline", kLeft, "", off + flag("borderStyle")),
      "<string>filled</string><string>outline</string>"));
  for (double x : {205.0, 50.0, 110.0}) {
    Rgba p = at(x, 35);
    EXPECT_EQ(p.red, 232) << x;
    EXPECT_EQ(p.green, 232) << x;
    EXPECT_EQ(p.blue, 232) << x;
  }
}

TEST_P(ColorButtonCellTest, ABorderStyleTitleTakesTheCurrentColourOrElseTheRestingOne) {
  const std::string big = "<key>fontSize</key><integer>24</integer>";
  ASSERT_TRUE(show(button("outline", kLeft, "HHHH", flag("borderStyle") + big),
                   "<string>outline</string>"));
  auto [blueInk, redInk] = strongestInk(45, 22, 175, 48);
  EXPECT_GT(blueInk, 120);
  EXPECT_LT(redInk, 10);

  auto* cell = object<ColorButtonCell>("outlineCell");
  cell->setNorColor(Color::redColor());
  cell->setBackgroundColor(std::nullopt);
  drain();
  std::tie(blueInk, redInk) = strongestInk(45, 24, 175, 46);
  EXPECT_GT(redInk, 120);
  writePng("color-button-title");
}

INSTANTIATE_TEST_SUITE_P(Scales, ColorButtonCellTest, ::testing::Values(1.0, 2.0));

TEST(ColorButtonCellColours, StateColoursTakeTheBaseRgbWithFixedAlphas) {
  ColorButtonCell cell;
  cell.setBkColor(Color::colorWithCalibratedWhite(0.5, 0.5));
  ASSERT_TRUE(cell.bkColor() && cell.hotColor() && cell.pushColor() && cell.norColor());
  EXPECT_EQ(cell.bkColor()->colorSpace(), Color::Space::CalibratedRGB);
  EXPECT_EQ(*cell.norColor(), *cell.bkColor());
  EXPECT_EQ(*cell.backgroundColor(), *cell.bkColor());
  EXPECT_EQ(*cell.hotColor(), Color::colorWithCalibratedRed(0.5, 0.5, 0.5, 0.9));
  EXPECT_EQ(*cell.pushColor(), Color::colorWithCalibratedRed(0.5, 0.5, 0.5, 0.8));

  // Setting a state colour directly leaves the colour shown alone.
  cell.setHotColor(Color::redColor());
  EXPECT_EQ(*cell.backgroundColor(), *cell.bkColor());
}

}  // namespace
