#include <cairo.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "support/Deadline.h"
#include "support/Subprocess.h"
#include "support/TestHome.h"
#include "support/VirtualDisplay.h"

// Last: its macros (None, Bool) clash with names above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using testing_support::ChildOptions;
using testing_support::ChildOutput;
using testing_support::Deadline;
using testing_support::Subprocess;
using testing_support::VirtualDisplay;

namespace {

constexpr std::uint32_t kDesktop = 0x2080C0;
constexpr const char* kXdotool = "/usr/bin/xdotool";
// The pop-up is 360×180 pixels; at rest its top-right corner is the screen's (1440×900).
constexpr int kLeft = 1440 - 360;
constexpr int kBottom = 179;

bool isPanel(std::uint32_t rgb) {
  int red = rgb >> 16 & 0xFF, green = rgb >> 8 & 0xFF, blue = rgb & 0xFF;
  return red > 215 && red == green && green == blue;
}

bool isBlue(std::uint32_t rgb) { return (rgb >> 16 & 0xFF) < 60 && (rgb & 0xFF) > 200; }

// The debug pop-up of the built bundle on a private X server with a window manager.
class X11PopUp : public testing_support::HomeTest {
 protected:
  void SetUp() override {
    if (!display.available()) GTEST_SKIP() << display.why();
    if (access(kXdotool, X_OK) != 0) GTEST_SKIP() << "xdotool is not installed";
    display.setDesktopColor(kDesktop);
  }

  std::vector<std::string> environment() const { return {"DISPLAY=" + display.name()}; }

  // Starts `MendkitAgent -debug1` on the display, its log lines in its output.
  std::unique_ptr<Subprocess> startAgent(const std::string& displayName) {
    return std::make_unique<Subprocess>(
        std::vector<std::string>{MENDKIT_AGENT_EXECUTABLE, "-debug1"},
        ChildOptions{.environment = {"DISPLAY=" + displayName},
                     .output = ChildOutput::Interleaved});
  }

  // Whether `holds` becomes true of a screenshot within `seconds`.
  bool awaitScreen(const std::function<bool(cairo_surface_t*)>& holds, double seconds = 10) {
    Deadline deadline(seconds);
    while (true) {
      cairo_surface_t* shot = display.screenshot();
      bool held = holds(shot);
      cairo_surface_destroy(shot);
      if (held) return true;
      if (deadline.passed()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  std::uint32_t pixel(int x, int y) {
    cairo_surface_t* shot = display.screenshot();
    std::uint32_t value = VirtualDisplay::rgbAt(shot, x, y);
    cairo_surface_destroy(shot);
    return value;
  }

  void xdotool(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), kXdotool);
    auto done = testing_support::runChild(arguments, {.environment = environment()}, 10);
    ASSERT_TRUE(done.exited && done.exitStatus == 0) << done.err;
  }

  // The window with the keyboard focus, once it is a window named `windowName` (its resource
  // name, xmessage's -name).
  ::Window awaitFocusOn(const std::string& windowName) {
    Deadline deadline(10);
    while (!deadline.passed()) {
      ::Window focus = focusedWindow();
      XClassHint hint{};
      if (focus != None && focus != PointerRoot &&
          XGetClassHint(display.connection(), focus, &hint)) {
        bool matches = hint.res_name && windowName == hint.res_name;
        XFree(hint.res_name);
        XFree(hint.res_class);
        if (matches) return focus;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return None;
  }

  ::Window focusedWindow() {
    ::Window focus = None;
    int revert = 0;
    XGetInputFocus(display.connection(), &focus, &revert);
    return focus;
  }

  VirtualDisplay display{{.windowManager = true}};
};

TEST_F(X11PopUp, SlidesToTheTopRightWithTheDesktopInItsCornersAndLeavesTheFocusAlone) {
  Subprocess other({"/usr/bin/xmessage", "-name", "other", "-center", "another application"},
                   {.environment = environment(), .output = ChildOutput::Discarded});
  ::Window focused = awaitFocusOn("other");
  ASSERT_NE(focused, ::Window(None)) << "xmessage never took the focus";

  auto agent = startAgent(display.name());
  // The panel's left edge reaches the screen's last 360 pixels only at the end of the slide.
  ASSERT_TRUE(awaitScreen([](cairo_surface_t* shot) {
    return isPanel(VirtualDisplay::rgbAt(shot, kLeft + 2, 90));
  })) << "no pop-up at the top right";
  EXPECT_EQ(pixel(kLeft - 1, 90), kDesktop) << "the pop-up is not flush with the right edge";
  EXPECT_EQ(pixel(kLeft, kBottom + 1), kDesktop) << "the pop-up is not at the top";
  // Its rounded corners show the desktop through.
  for (auto [x, y] : {std::pair{kLeft, 0}, {1439, 0}, {kLeft, kBottom}, {1439, kBottom}}) {
    EXPECT_EQ(pixel(x, y), kDesktop) << "corner " << x << "," << y;
  }
  EXPECT_EQ(focusedWindow(), focused) << "the pop-up took the focus";

  // Hovering the accept button lights it up.
  const int buttonX = kLeft + 230, buttonY = 142;
  std::uint32_t resting = pixel(buttonX, buttonY);
  ASSERT_TRUE(isBlue(resting)) << std::hex << resting;
  xdotool({"mousemove", std::to_string(kLeft + 280), "150"});
  EXPECT_TRUE(awaitScreen(
      [&](cairo_surface_t* shot) {
        std::uint32_t now = VirtualDisplay::rgbAt(shot, buttonX, buttonY);
        return now != resting && isBlue(now);
      },
      5))
      << "the button does not change under the pointer";
  EXPECT_EQ(focusedWindow(), focused) << "hovering the pop-up took the focus";

  // A window shown over the pop-up (one no window manager stacks: another pop-up, a tooltip)
  // goes below it.
  const int coveredX = kLeft + 220, coveredY = 90;
  std::uint32_t panel = pixel(coveredX, coveredY);
  Display* test = display.connection();
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixel = 0xFF0000;
  ::Window cover = XCreateWindow(test, DefaultRootWindow(test), coveredX - 50, coveredY - 30, 100,
                                 60, 0, CopyFromParent, InputOutput, CopyFromParent,
                                 CWOverrideRedirect | CWBackPixel, &attributes);
  XMapRaised(test, cover);
  XSync(test, False);
  EXPECT_TRUE(awaitScreen(
      [&](cairo_surface_t* shot) {
        return VirtualDisplay::rgbAt(shot, coveredX, coveredY) == panel;
      },
      2))
      << "the pop-up stays covered";
  XDestroyWindow(test, cover);
  XSync(test, False);

  // A click on the dismiss button ends the pop-up.
  xdotool({"mousemove", std::to_string(kLeft + 155), "150", "click", "1"});
  EXPECT_TRUE(awaitScreen([](cairo_surface_t* shot) {
    return VirtualDisplay::rgbAt(shot, kLeft + 20, 120) == kDesktop;
  })) << "the pop-up stays after its dismiss button was clicked";
}

TEST_F(X11PopUp, TheBackendIsChosenByTheDisplayAndSaidOnce) {
  for (const auto& [displayName, said] :
       {std::pair{display.name(), "the X11 backend"}, {std::string(), "the off-screen backend"}}) {
    auto agent = startAgent(displayName);
    EXPECT_TRUE(agent->awaitOutput(said, 10)) << "DISPLAY=" << displayName;
    kill(agent->pid(), SIGTERM);
    std::string log = agent->wait(5).out;
    std::size_t first = log.find("windows go to");
    EXPECT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find("windows go to", first + 1), std::string::npos) << log;
  }
}

TEST_F(X11PopUp, ALostDisplayEndsTheAgentCleanly) {
  auto agent = startAgent(display.name());
  ASSERT_TRUE(awaitScreen(
      [](cairo_surface_t* shot) { return isPanel(VirtualDisplay::rgbAt(shot, kLeft + 2, 90)); }));
  display.killServer();
  testing_support::ChildResult ended = agent->wait(10);
  EXPECT_TRUE(ended.exited) << "signal " << ended.signal << "\n" << ended.out;
  EXPECT_EQ(ended.exitStatus, 0) << ended.out;
  EXPECT_NE(ended.out.find("connection to the X display was lost"), std::string::npos) << ended.out;
}

}  // namespace
