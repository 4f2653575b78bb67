#include <gtest/gtest.h>
#include <signal.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "BundleRun.h"
#include "appkit/GraphicsHandles.h"
#include "support/Deadline.h"
#include "support/Subprocess.h"
#include "support/TestHome.h"

using testing_support::Deadline;
using testing_support::readFile;

namespace {

struct Mode {
  const char* argument;
  int shownEvent;
};
void PrintTo(const Mode& mode, std::ostream* out) { *out << mode.argument; }

// A debug mode of the built bundle, off-screen with snapshots, in a sandbox home.
class PopupModes : public testing_support::HomeTest, public ::testing::WithParamInterface<Mode> {
 protected:
  // The first snapshot, once it is written whole; null after `seconds` without one.
  static appkit::CairoSurface awaitSnapshot(const std::string& path, double seconds) {
    Deadline deadline(seconds);
    while (!deadline.passed()) {
      if (std::filesystem::exists(path)) {
        appkit::CairoSurface image(cairo_image_surface_create_from_png(path.c_str()));
        if (cairo_surface_status(image.get()) == CAIRO_STATUS_SUCCESS) return image;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return {};
  }
  // Whether the file comes to hold `text` within `seconds`.
  static bool awaitText(const std::string& path, const std::string& text, double seconds) {
    Deadline deadline(seconds);
    while (!deadline.passed()) {
      if (readFile(path).value_or("").find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  e2e::OffScreen offScreen;
};

struct Pixel {
  int red, green, blue, alpha;  // premultiplied
};

Pixel pixelAt(cairo_surface_t* image, int x, int y) {
  const unsigned char* row =
      cairo_image_surface_get_data(image) + y * cairo_image_surface_get_stride(image);
  std::uint32_t v = reinterpret_cast<const std::uint32_t*>(row)[x];
  return {int(v >> 16 & 0xFF), int(v >> 8 & 0xFF), int(v & 0xFF), int(v >> 24)};
}

}  // namespace

TEST_P(PopupModes, ShowsThePopUpAtOnceAndReportsIt) {
  const std::string snapshots = sandbox.inHome("snapshots");
  std::filesystem::create_directories(snapshots);
  testing_support::Subprocess agent({MENDKIT_AGENT_EXECUTABLE, GetParam().argument},
                                    {.environment = {"PLATFORM_SNAPSHOT_DIR=" + snapshots}});
  ASSERT_GT(agent.pid(), 0);

  appkit::CairoSurface snapshot = awaitSnapshot(snapshots + "/1.png", 10);
  ASSERT_TRUE(snapshot) << "no snapshot after the slide-in";
  cairo_surface_t* image = snapshot.get();
  EXPECT_EQ(cairo_image_surface_get_width(image), 360);
  EXPECT_EQ(cairo_image_surface_get_height(image), 180);
  // Rows count from the top. The panel is opaque and near white, its corners are cut away.
  EXPECT_EQ(pixelAt(image, 0, 0).alpha, 0);
  EXPECT_EQ(pixelAt(image, 359, 179).alpha, 0);
  Pixel panel = pixelAt(image, 300, 110);
  EXPECT_EQ(panel.alpha, 255);
  EXPECT_GT(panel.red, 215);
  EXPECT_EQ(panel.red, panel.blue);
  // The accept button, at the bottom right, is filled blue.
  Pixel accept = pixelAt(image, 228, 158);
  EXPECT_LT(accept.red, 40);
  EXPECT_GT(accept.blue, 200);
  // The message names the problem in red.
  int red = 0;
  for (int y = 10; y < 100; ++y) {
    for (int x = 16; x < 344; ++x) {
      Pixel p = pixelAt(image, x, y);
      red += p.red > 150 && p.green < 90 && p.blue < 90;
    }
  }
  EXPECT_GT(red, 20) << "no red words in the message";

  const std::string spool =
      sandbox.inHome("Library/Application Support/Mendkit/UsageLog/events.jsonl");
  EXPECT_TRUE(awaitText(spool, "\"event\":" + std::to_string(GetParam().shownEvent), 10))
      << readFile(spool).value_or("<no spool>");

  // The mode idles after the pop-up: it ends when told to.
  kill(agent.pid(), SIGTERM);
  testing_support::ChildResult ended = agent.wait(5);
  EXPECT_TRUE(ended.finished) << ended.err;
}

INSTANTIATE_TEST_SUITE_P(DebugModes, PopupModes,
                         ::testing::Values(Mode{"-debug1", 10210}, Mode{"-debug0", 10211}),
                         [](const auto& info) { return std::string(info.param.argument + 1); });
