#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "ToolsTest.h"
#include "appkit/GraphicsHandles.h"
#include "support/Subprocess.h"

// Last: its macros (None, Bool, Status) clash with names in the headers above.
#include <X11/Xlib.h>

namespace tools_tests {
namespace {

using testing_support::ChildOutput;
using testing_support::ChildResult;
using testing_support::Subprocess;

constexpr const char* kXvfb = "/usr/bin/Xvfb";

// The 0xRRGGBB colour of one pixel of a PNG file; nullopt when it cannot be read.
std::optional<std::uint32_t> pixelOf(const std::string& png, int x, int y, int* width,
                                     int* height) {
  appkit::CairoSurface image(cairo_image_surface_create_from_png(png.c_str()));
  std::optional<std::uint32_t> pixel;
  if (cairo_surface_status(image.get()) == CAIRO_STATUS_SUCCESS) {
    *width = cairo_image_surface_get_width(image.get());
    *height = cairo_image_surface_get_height(image.get());
    const unsigned char* row =
        cairo_image_surface_get_data(image.get()) + y * cairo_image_surface_get_stride(image.get());
    pixel = reinterpret_cast<const std::uint32_t*>(row)[x] & 0xffffff;
  }
  return pixel;
}

// The image of a display whose root is painted red with a green block at (10, 5), 8 by 4 pixels:
// colours and places come through as the screen shows them.
TEST(ScreencaptureTest, SavesTheRootWindowPixelForPixel) {
  if (::access(kXvfb, X_OK) != 0) GTEST_SKIP() << "no " << kXvfb;
  testing_support::TestHome sandbox;
  Fifo displayNumber(sandbox.base() + "/display");
  Subprocess server(
      {"/bin/sh", "-c",
       std::string("exec ") + kXvfb + " -displayfd 3 -screen 0 64x48x24 -nolisten tcp 3>" +
           shellWord(displayNumber.path())},
      {.output = ChildOutput::Discarded});
  auto record = displayNumber.readRecord(30);
  ASSERT_TRUE(record && record->size() == 1) << "Xvfb did not start";
  std::string display = ":" + record->front();

  Display* connection = XOpenDisplay(display.c_str());
  ASSERT_NE(connection, nullptr);
  Window root = DefaultRootWindow(connection);
  XSetWindowBackground(connection, root, 0xff0000);
  XClearWindow(connection, root);
  GC gc = XCreateGC(connection, root, 0, nullptr);
  XSetForeground(connection, gc, 0x00ff00);
  XFillRectangle(connection, root, gc, 10, 5, 8, 4);
  XFreeGC(connection, gc);
  XSync(connection, False);

  std::string png = sandbox.base() + "/shot.png";
  ChildResult saved = testing_support::runChild({SCREENCAPTURE_PATH, "-x", png},
                                                {.environment = {"DISPLAY=" + display}});
  ASSERT_EQ(saved.exitStatus, 0) << saved.err;
  int width = 0, height = 0;
  EXPECT_EQ(pixelOf(png, 0, 0, &width, &height), 0xff0000u);
  EXPECT_EQ(width, 64);
  EXPECT_EQ(height, 48);
  EXPECT_EQ(pixelOf(png, 10, 5, &width, &height), 0x00ff00u);
  EXPECT_EQ(pixelOf(png, 17, 8, &width, &height), 0x00ff00u);
  EXPECT_EQ(pixelOf(png, 18, 8, &width, &height), 0xff0000u);
  EXPECT_EQ(pixelOf(png, 17, 9, &width, &height), 0xff0000u);

  // Whatever waits at the old predictable temporary name (".NAME.pid", the pid kept by exec) is
  // neither followed nor opened.
  std::string victim = sandbox.base() + "/victim";
  testing_support::writeFile(victim, "kept");
  for (const char* plant : {"ln -s \"$1\" \"$2.$$\"", "mkfifo \"$2.$$\""}) {
    ChildResult planted = testing_support::runChild(
        {"/bin/sh", "-c", std::string(plant) + " && exec \"$3\" -x \"$4\"", "sh", victim,
         sandbox.base() + "/.planted.png", SCREENCAPTURE_PATH, sandbox.base() + "/planted.png"},
        {.environment = {"DISPLAY=" + display}}, 10);
    EXPECT_EQ(planted.exitStatus, 0) << plant << ": " << planted.err;
    EXPECT_EQ(pixelOf(sandbox.base() + "/planted.png", 0, 0, &width, &height), 0xff0000u);
    std::remove((sandbox.base() + "/planted.png").c_str());
  }
  EXPECT_EQ(testing_support::readFile(victim), "kept");

  ChildResult noDisplay =
      testing_support::runChild({SCREENCAPTURE_PATH, "-x", sandbox.base() + "/none.png"},
                                {.environment = {"DISPLAY=" + display + "9"}});
  EXPECT_EQ(noDisplay.exitStatus, 1);
  EXPECT_NE(noDisplay.err.find("cannot open the display"), std::string::npos) << noDisplay.err;
  EXPECT_FALSE(testing_support::readFile(sandbox.base() + "/none.png"));
  XCloseDisplay(connection);
}

}  // namespace
}  // namespace tools_tests
