// The built agent's debug pop-up on desktops as people run them: a window manager with a window
// under the pop-up, a compositor coming and going, a screen locker, several monitors, a settings
// manager's scale.

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "appkit/GraphicsHandles.h"
#include "support/Deadline.h"
#include "support/Subprocess.h"
#include "support/TestHome.h"
#include "support/VirtualDisplay.h"

// Last: its macros (None, Bool) clash with names above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

using testing_support::ChildOutput;
using testing_support::eventually;
using testing_support::Subprocess;
using testing_support::VirtualDisplay;

namespace {

constexpr std::uint32_t kDesktop = 0x2080C0;
constexpr std::uint32_t kLocker = 0x203040;

bool isPanel(std::uint32_t rgb) {
  int red = rgb >> 16 & 0xFF, green = rgb >> 8 & 0xFF, blue = rgb & 0xFF;
  return red > 215 && red == green && green == blue;
}

// The CPU time of all threads of `pid` so far, in seconds.
double cpuSeconds(pid_t pid) {
  std::string folder = "/proc/" + std::to_string(pid) + "/task";
  double total = 0;
  DIR* tasks = opendir(folder.c_str());
  if (!tasks) return 0;
  while (dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream stat(folder + "/" + entry->d_name + "/schedstat");
    double nanoseconds = 0;
    if (stat >> nanoseconds) total += nanoseconds / 1e9;
  }
  closedir(tasks);
  return total;
}

// The agent's debug pop-up (style 1) on a private X server.
class X11Desktop : public testing_support::HomeTest {
 protected:
  // Starts the server, with openbox when `windowManager`; skips the test when it cannot.
  bool startDisplay(int width, int height, bool windowManager) {
    display = std::make_unique<VirtualDisplay>(
        VirtualDisplay::Options{.windowManager = windowManager, .width = width, .height = height});
    if (!display->available()) return false;
    display->setDesktopColor(kDesktop);
    return true;
  }

  std::unique_ptr<Subprocess> startAgent(std::vector<std::string> environment = {}) {
    environment.push_back("DISPLAY=" + display->name());
    environment.push_back("GDK_SCALE=");
    // An X11 desktop even where the tests run in a Wayland session.
    environment.push_back("WAYLAND_DISPLAY=");
    return std::make_unique<Subprocess>(
        std::vector<std::string>{MENDKIT_AGENT_EXECUTABLE, "-debug1"},
        testing_support::ChildOptions{.environment = environment,
                                      .output = ChildOutput::Discarded});
  }

  // How many "shown" events the statistics spool holds.
  int shownEvents() const {
    std::string spool =
        testing_support::readFile(
            sandbox.inHome("Library/Application Support/Mendkit/UsageLog/events.jsonl"))
            .value_or("");
    int count = 0;
    for (std::size_t at = spool.find("\"event\":10210"); at != std::string::npos;
         at = spool.find("\"event\":10210", at + 1))
      ++count;
    return count;
  }

  // Keeps `shot` as NAME.png in MENDKIT_SCREENSHOT_DIR when that is set, for a person to look at.
  static void keep(cairo_surface_t* shot, const std::string& name) {
    if (const char* folder = std::getenv("MENDKIT_SCREENSHOT_DIR"))
      cairo_surface_write_to_png(shot, (std::string(folder) + "/" + name + ".png").c_str());
  }

  std::unique_ptr<VirtualDisplay> display;
};

TEST_F(X11Desktop, CornersShowTheWindowBelowWithAndWithoutACompositorAndAcrossAChange) {
  if (!startDisplay(1440, 900, true)) GTEST_SKIP() << display->why();
  Subprocess below(
      {"/usr/bin/xmessage", "-name", "below", "-geometry", "1440x900+0+0", "-bg", "#585a5d", "-fg",
       "#585a5d", "x"},
      {.environment = {"DISPLAY=" + display->name()}, .output = ChildOutput::Discarded});
  const std::vector<std::pair<int, int>> corners = {{1080, 0}, {1439, 0}, {1080, 179}, {1439, 179}};
  ASSERT_TRUE(display->awaitScreen([](cairo_surface_t* shot) {
    return VirtualDisplay::rgbAt(shot, 1200, 90) == 0x585a5d;
  })) << "the window below never showed";
  std::vector<std::uint32_t> before;
  appkit::CairoSurface empty = display->screenshot();
  for (auto [x, y] : corners) before.push_back(VirtualDisplay::rgbAt(empty.get(), x, y));

  auto cornersShowBelow = [&](cairo_surface_t* shot) {
    if (!isPanel(VirtualDisplay::rgbAt(shot, 1082, 90))) return false;
    for (std::size_t i = 0; i < corners.size(); ++i) {
      if (VirtualDisplay::rgbAt(shot, corners[i].first, corners[i].second) != before[i])
        return false;
    }
    return true;
  };
  auto agent = startAgent();
  EXPECT_TRUE(display->awaitScreen(cornersShowBelow)) << "without a compositor";
  // The window below comes up again under the pop-up's corners and draws itself anew there.
  for (const char* step : {"windowunmap", "windowmap"}) {
    auto done = testing_support::runChild(
        {"/usr/bin/xdotool", "search", "--classname", "below", step, "--sync"},
        {.environment = {"DISPLAY=" + display->name()}}, 10);
    ASSERT_TRUE(done.exited && done.exitStatus == 0) << done.err;
  }
  EXPECT_TRUE(display->awaitScreen(cornersShowBelow, 2)) << "once the window below came again";
  appkit::CairoSurface shot = display->screenshot();
  keep(shot.get(), "corners-plain");

  ASSERT_TRUE(display->startCompositor()) << display->why();
  EXPECT_TRUE(display->awaitScreen(cornersShowBelow, 2)) << "once a compositor started";
  shot = display->screenshot();
  keep(shot.get(), "corners-composited");
  display->stopCompositor();
  EXPECT_TRUE(display->awaitScreen(cornersShowBelow, 2)) << "once the compositor ended";
}

TEST_F(X11Desktop, ALockedScreenHoldsThePopUpBackAtNoCostAndItSlidesInOnceAfter) {
  if (!startDisplay(1440, 900, true)) GTEST_SKIP() << display->why();
  if (!display->lock(kLocker)) GTEST_SKIP() << display->why();
  auto agent = startAgent();
  std::this_thread::sleep_for(std::chrono::seconds(1));  // start-up
  double cpuBefore = cpuSeconds(agent->pid());
  int lockerShots = 0, shots = 0;
  testing_support::Deadline fiveSeconds(5);
  while (!fiveSeconds.passed()) {
    appkit::CairoSurface shot = display->screenshot(1080, 0, 360, 180);
    ++shots;
    lockerShots += VirtualDisplay::rgbAt(shot.get(), 180, 90) == kLocker;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  double cpu = cpuSeconds(agent->pid()) - cpuBefore;
  EXPECT_EQ(lockerShots, shots) << "the pop-up showed over the locker";
  EXPECT_LT(cpu, 0.05) << "agent CPU while the screen is locked";
  EXPECT_EQ(shownEvents(), 0) << "a showing nobody saw was counted";

  display->unlock();
  auto atRest = [](cairo_surface_t* shot) {
    return isPanel(VirtualDisplay::rgbAt(shot, 1082, 90));
  };
  bool slid = false;
  EXPECT_TRUE(display->awaitScreen([&](cairo_surface_t* shot) {
    // On its way in: only its left part is on the screen yet.
    std::uint32_t rgb = VirtualDisplay::rgbAt(shot, 1430, 90);
    slid |= isPanel(rgb) && !atRest(shot);
    return atRest(shot);
  })) << "no pop-up after the lock ended";
  EXPECT_TRUE(slid) << "the pop-up did not slide in";
  EXPECT_TRUE(eventually([&] { return shownEvents() == 1; }, 10));

  // A lock while it shows takes it away, and it comes back once the lock ends.
  ASSERT_TRUE(display->lock(kLocker)) << display->why();
  EXPECT_FALSE(display->awaitScreen(
      [](cairo_surface_t* shot) { return VirtualDisplay::rgbAt(shot, 1200, 90) != kLocker; }, 1))
      << "the pop-up showed over the locker";
  display->unlock();
  EXPECT_TRUE(display->awaitScreen(atRest)) << "no pop-up after the second lock";
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(shownEvents(), 1) << "the showing was counted again";
}

TEST_F(X11Desktop, TheSlideStaysOnThePrimaryMonitorInEveryLayout) {
  if (!startDisplay(2880, 1800, false)) GTEST_SKIP() << display->why();
  using Placement = VirtualDisplay::MonitorPlacement;
  struct Layout {
    const char* name;
    Placement primary, neighbour;
  } layouts[] = {
      {"neighbour on the right", {0, 0, 1440, 900, true}, {1440, 0, 1440, 900, false}},
      {"primary on the right", {1440, 0, 1440, 900, true}, {0, 0, 1440, 900, false}},
      {"stacked", {0, 0, 1440, 900, true}, {0, 900, 1440, 900, false}},
  };
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(layout.name);
    ASSERT_TRUE(display->setMonitors({layout.neighbour, layout.primary})) << display->why();
    const Placement& primary = layout.primary;
    const int restLeft = primary.x + primary.width - 360;
    auto agent = startAgent();
    int frames = 0, partial = 0, outside = 0;
    bool atRest = eventually(
        [&] {
          appkit::CairoSurface strip = display->screenshot(0, 0, 2880, 200);
          ++frames;
          bool rest = isPanel(VirtualDisplay::rgbAt(strip.get(), restLeft + 2, 90));
          bool some = false;
          for (int y = 0; y < 200; y += 3) {
            for (int x = 0; x < 2880; ++x) {
              std::uint32_t rgb = VirtualDisplay::rgbAt(strip.get(), x, y);
              bool onPrimary = x >= primary.x && x < primary.x + primary.width;
              if (!onPrimary && rgb != kDesktop) ++outside;
              some |= onPrimary && rgb != kDesktop;
            }
          }
          partial += some && !rest;
          return rest;
        },
        10);
    EXPECT_TRUE(atRest) << "no pop-up at the primary monitor's top right";
    EXPECT_GT(partial, 0) << "no frame of the slide was sampled (" << frames << " frames)";
    EXPECT_EQ(outside, 0) << "pixels off the primary monitor in " << frames << " frames";
    agent.reset();
    ASSERT_TRUE(display->awaitScreen([&](cairo_surface_t* shot) {
      return VirtualDisplay::rgbAt(shot, restLeft + 2, 90) == kDesktop;
    }));
  }
}

// A display of 16 bits a pixel takes no frame as it is: the pop-up's pixels are converted.
TEST_F(X11Desktop, OnASixteenBitDisplayThePopUpShowsInItsColours) {
  display = std::make_unique<VirtualDisplay>(VirtualDisplay::Options{.depth = 16});
  if (!display->available()) GTEST_SKIP() << display->why();
  display->setDesktopColor(0);
  auto agent = startAgent();
  EXPECT_TRUE(display->awaitScreen([](cairo_surface_t* shot) {
    std::uint32_t rgb = VirtualDisplay::rgbAt(shot, 1440 - 360 + 2, 90);
    int red = rgb >> 16 & 0xFF, green = rgb >> 8 & 0xFF, blue = rgb & 0xFF;
    return red > 215 && std::abs(red - green) < 8 && std::abs(green - blue) < 8;
  })) << "no pop-up at the top right";
}

// Without a window manager the panels' struts are read from the top-level windows themselves.
TEST_F(X11Desktop, APanelAtTheTopKeepsThePopUpBelowIt) {
  if (!startDisplay(1440, 900, false)) GTEST_SKIP() << display->why();
  Display* test = display->connection();
  XSetWindowAttributes attributes{};
  attributes.background_pixel = 0xFF0000;
  ::Window panel = XCreateWindow(test, DefaultRootWindow(test), 0, 0, 1440, 40, 0, CopyFromParent,
                                 InputOutput, CopyFromParent, CWBackPixel, &attributes);
  const long strut[12] = {0, 0, 40, 0, 0, 0, 0, 0, 0, 1439, 0, 0};  // top: 40, across the screen
  XChangeProperty(test, panel, XInternAtom(test, "_NET_WM_STRUT_PARTIAL", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(strut), 12);
  XMapWindow(test, panel);
  XSync(test, False);
  auto agent = startAgent();
  EXPECT_TRUE(display->awaitScreen([](cairo_surface_t* shot) {
    return isPanel(VirtualDisplay::rgbAt(shot, 1440 - 360 + 2, 40 + 90));
  })) << "no pop-up below the panel";
  EXPECT_EQ(VirtualDisplay::rgbAt(display->screenshot().get(), 1440 - 200, 20), 0xFF0000u)
      << "the pop-up covers the panel";
}

TEST_F(X11Desktop, AtTheSettingsManagersScaleTwoThePopUpIsDrawnAtTwiceItsSizeAndFollowsAChange) {
  if (!startDisplay(2880, 1800, false)) GTEST_SKIP() << display->why();
  display->publishScale(2);
  const std::string snapshots = sandbox.inHome("snapshots");
  std::filesystem::create_directories(snapshots);
  auto agent = startAgent({"PLATFORM_SNAPSHOT_DIR=" + snapshots});
  const std::string snapshot = snapshots + "/1.png";
  ASSERT_TRUE(eventually([&] { return std::filesystem::exists(snapshot); }, 10));
  ASSERT_TRUE(display->awaitScreen([](cairo_surface_t* shot) {
    return isPanel(VirtualDisplay::rgbAt(shot, 2880 - 716, 180));
  })) << "no pop-up at rest";
  appkit::CairoSurface shot = display->screenshot(2880 - 720, 0, 720, 360);
  keep(shot.get(), "scale-2");
  // The window is 720×360 pixels at the top right, and shows the agent's own drawing at scale 2
  // pixel for pixel (not a drawing at scale 1 blown up).
  appkit::CairoSurface drawn(cairo_image_surface_create_from_png(snapshot.c_str()));
  ASSERT_EQ(cairo_image_surface_get_width(drawn.get()), 720);
  ASSERT_EQ(cairo_image_surface_get_height(drawn.get()), 360);
  int differing = 0;
  for (int y = 16; y < 344; ++y) {
    for (int x = 16; x < 704; ++x)
      differing +=
          VirtualDisplay::rgbAt(shot.get(), x, y) != VirtualDisplay::rgbAt(drawn.get(), x, y);
  }
  EXPECT_EQ(differing, 0);
  auto pixel = [&](int x, int y) {
    appkit::CairoSurface one = display->screenshot(x, y, 1, 1);
    std::uint32_t rgb = VirtualDisplay::rgbAt(one.get(), 0, 0);
    return rgb;
  };
  EXPECT_EQ(pixel(2880 - 721, 180), kDesktop);
  EXPECT_EQ(pixel(1440, 360), kDesktop);

  // Back to scale 1 while it shows: 360×180 pixels, still at the top right.
  display->publishScale(1);
  EXPECT_TRUE(display->awaitScreen(
      [](cairo_surface_t* shot) {
        return isPanel(VirtualDisplay::rgbAt(shot, 2880 - 358, 90)) &&
               VirtualDisplay::rgbAt(shot, 2880 - 361, 90) == kDesktop &&
               VirtualDisplay::rgbAt(shot, 2880 - 200, 181) == kDesktop;
      },
      3));
}

}  // namespace
