#include "appkit/x11/MonitorLayout.h"

#include <cstdint>
#include <string>
#include <vector>

#include "appkit/x11/XSettings.h"

#include <gtest/gtest.h>

using appkit::Monitor;
using appkit::MonitorLayout;
using appkit::Rect;
using appkit::RootRect;
using appkit::Strut;
using appkit::XSettings;

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
  EXPECT_EQ(MonitorLayout::scaleFrom("3", std::nullopt, resources), 3);
  EXPECT_EQ(MonitorLayout::scaleFrom(nullptr, std::nullopt, resources), 2);
  EXPECT_EQ(MonitorLayout::scaleFrom(nullptr, std::nullopt, "Xft.dpi: 144\n"), 1.5);
  // Not a positive whole number: the resource decides.
  EXPECT_EQ(MonitorLayout::scaleFrom("1.5", std::nullopt, resources), 2);
  EXPECT_EQ(MonitorLayout::scaleFrom("0", std::nullopt, resources), 2);
  EXPECT_EQ(MonitorLayout::scaleFrom("", std::nullopt, nullptr), 1);
  // Never below 1, nor absurdly high; a similar name is not the resource.
  EXPECT_EQ(MonitorLayout::scaleFrom(nullptr, std::nullopt, "Xft.dpi:\t72\n"), 1);
  EXPECT_EQ(MonitorLayout::scaleFrom(nullptr, std::nullopt, "Xft.dpi:\t96000\n"), 8);
  EXPECT_EQ(MonitorLayout::scaleFrom(nullptr, std::nullopt, "MyXft.dpi:\t192\nXft.dpi:\tlots\n"),
            1);
}

TEST(MonitorLayoutScale, TheSettingsManagerComesBetweenGdkScaleAndXftDpi) {
  const char* resources = "Xft.dpi:\t192\n";
  EXPECT_EQ(MonitorLayout::scaleFrom("3", 2.0, resources), 3);
  EXPECT_EQ(MonitorLayout::scaleFrom(nullptr, 1.5, resources), 1.5);
  EXPECT_EQ(MonitorLayout::scaleFrom(nullptr, 0.5, resources), 1);
  EXPECT_EQ(MonitorLayout::scaleFrom(nullptr, std::nullopt, resources), 2);
}

TEST(MonitorLayoutWorkArea, PanelsOnTheMainMonitorMoveItsVisibleFrameAndOthersDoNot) {
  // The primary monitor on the right of a 1280-pixel one; the work area spans both.
  MonitorLayout layout =
      MonitorLayout::choose({{0, 0, 1280, 1024, false}, {1280, 0, 1440, 900, true}}, 2720, 1024, 1);
  Strut topPanel{.top = 30, .topStartX = 1280, .topEndX = 2719};
  Strut leftMonitorsDock{.left = 48, .leftStartY = 0, .leftEndY = 1023};
  Strut bottomOfTheTallerMonitor{.bottom = 40, .bottomStartX = 0, .bottomEndX = 1279};
  layout.reserve(RootRect{0, 24, 2720, 1000},
                 {topPanel, leftMonitorsDock, bottomOfTheTallerMonitor}, 2720, 1024);
  EXPECT_EQ(layout.workArea(), (RootRect{1280, 30, 1440, 870}));
  // Points from the main monitor's bottom left: the pop-up's top right is 30 pixels lower.
  EXPECT_EQ(layout.screen().visibleFrame, Rect::make(0, 0, 1440, 870));
  EXPECT_EQ(layout.screen().frame, Rect::make(0, 0, 1440, 900));

  MonitorLayout right = MonitorLayout::choose({{0, 0, 1440, 900, true}}, 1440, 900, 2);
  right.reserve(std::nullopt, {Strut{.right = 100, .rightStartY = 0, .rightEndY = 899}}, 1440, 900);
  EXPECT_EQ(right.screen().visibleFrame, Rect::make(0, 0, 670, 450));
}

namespace {

// An XSETTINGS property in little-endian order with the integer settings `values`.
std::vector<unsigned char> settingsProperty(
    const std::vector<std::pair<std::string, std::int32_t>>& values, bool withString) {
  std::vector<unsigned char> bytes = {'l', 0, 0, 0};
  auto card32 = [&](std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
  };
  auto name = [&](int type, const std::string& text) {
    bytes.push_back(static_cast<unsigned char>(type));
    bytes.push_back(0);
    bytes.push_back(static_cast<unsigned char>(text.size()));
    bytes.push_back(static_cast<unsigned char>(text.size() >> 8));
    bytes.insert(bytes.end(), text.begin(), text.end());
    while (bytes.size() % 4) bytes.push_back(0);
    card32(7);  // last change serial
  };
  card32(1);
  card32(std::uint32_t(values.size() + (withString ? 1 : 0)));
  if (withString) {
    name(1, "Net/ThemeName");
    card32(5);
    for (char c : std::string("Adw\0\0\0\0\0", 8)) bytes.push_back(static_cast<unsigned char>(c));
  }
  for (const auto& [key, value] : values) {
    name(0, key);
    card32(std::uint32_t(value));
  }
  return bytes;
}

}  // namespace

TEST(XSettingsScale, WindowScalingFactorAndDpiAreReadPastOtherSettings) {
  auto twice = settingsProperty({{"Gdk/WindowScalingFactor", 2}, {"Xft/DPI", 96 * 1024}}, true);
  XSettings settings = XSettings::parse(twice.data(), twice.size());
  EXPECT_EQ(settings.windowScalingFactor(), 2);
  EXPECT_EQ(settings.dpi(), 96);
  EXPECT_EQ(settings.scale(), 2);

  auto fractional = settingsProperty({{"Xft/DPI", 144 * 1024}}, false);
  EXPECT_EQ(XSettings::parse(fractional.data(), fractional.size()).scale(), 1.5);

  // Cut short inside the second setting: the first stays, nothing is read past the end.
  auto cut = settingsProperty({{"Gdk/WindowScalingFactor", 3}, {"Xft/DPI", 288 * 1024}}, false);
  cut.resize(cut.size() - 2);
  XSettings partial = XSettings::parse(cut.data(), cut.size());
  EXPECT_EQ(partial.windowScalingFactor(), 3);
  EXPECT_EQ(partial.dpi(), std::nullopt);
  EXPECT_EQ(XSettings::parse(cut.data(), 5).scale(), std::nullopt);
}
