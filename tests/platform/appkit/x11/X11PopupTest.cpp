#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "appkit/GraphicsHandles.h"
#include "foundation/PropertyList.h"
#include "support/Deadline.h"
#include "support/LayoutFrame.h"
#include "support/Subprocess.h"
#include "support/TestHome.h"
#include "support/VirtualDisplay.h"

// Last: its macros (None, Bool) clash with names above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using testing_support::ChildOptions;
using testing_support::ChildOutput;
using testing_support::Deadline;
using testing_support::eventually;
using testing_support::readFile;
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

std::uint32_t pixelOn(const VirtualDisplay& display, int x, int y) {
  appkit::CairoSurface shot = display.screenshot();
  std::uint32_t value = VirtualDisplay::rgbAt(shot.get(), x, y);
  return value;
}

// Runs xdotool with `arguments` on `display`; fails the test unless it succeeds.
void runXdotool(const VirtualDisplay& display, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), kXdotool);
  auto done =
      testing_support::runChild(arguments, {.environment = {"DISPLAY=" + display.name()}}, 10);
  ASSERT_TRUE(done.exited && done.exitStatus == 0) << done.err;
}

bool popUpAtRest(cairo_surface_t* shot) {
  return isPanel(VirtualDisplay::rgbAt(shot, kLeft + 2, 90));
}

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
        ChildOptions{.environment = {"DISPLAY=" + displayName, "WAYLAND_DISPLAY="},
                     .output = ChildOutput::Interleaved});
  }

  bool awaitScreen(const std::function<bool(cairo_surface_t*)>& holds, double seconds = 10) {
    return display.awaitScreen(holds, seconds);
  }

  std::uint32_t pixel(int x, int y) { return pixelOn(display, x, y); }

  void xdotool(std::vector<std::string> arguments) { runXdotool(display, std::move(arguments)); }

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
  ASSERT_TRUE(awaitScreen(popUpAtRest)) << "no pop-up at the top right";
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

  // A window no window manager stacks (a menu, another pop-up) stays over the pop-up: it never
  // rises above those.
  const int coveredX = kLeft + 220, coveredY = 90;
  Display* test = display.connection();
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixel = 0xFF0000;
  ::Window cover = XCreateWindow(test, DefaultRootWindow(test), coveredX - 50, coveredY - 30, 100,
                                 60, 0, CopyFromParent, InputOutput, CopyFromParent,
                                 CWOverrideRedirect | CWBackPixel, &attributes);
  XMapRaised(test, cover);
  XSync(test, False);
  EXPECT_FALSE(awaitScreen(
      [&](cairo_surface_t* shot) {
        return VirtualDisplay::rgbAt(shot, coveredX, coveredY) != 0xFF0000;
      },
      1))
      << "the pop-up rose over a menu";
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
       {std::pair{display.name(), "windows go to the X11 backend"},
        {std::string(), "no window can show: DISPLAY is not set"}}) {
    auto agent = startAgent(displayName);
    EXPECT_TRUE(agent->awaitOutput(said, 10)) << "DISPLAY=" << displayName;
    kill(agent->pid(), SIGTERM);
    std::string log = agent->wait(5).out;
    std::size_t first = log.find(said);
    EXPECT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find(said, first + 1), std::string::npos) << log;
  }
}

TEST_F(X11PopUp, ALostDisplayEndsTheAgentCleanly) {
  auto agent = startAgent(display.name());
  ASSERT_TRUE(awaitScreen(popUpAtRest));
  display.killServer();
  testing_support::ChildResult ended = agent->wait(10);
  EXPECT_TRUE(ended.exited) << "signal " << ended.signal << "\n" << ended.out;
  EXPECT_EQ(ended.exitStatus, 0) << ended.out;
  EXPECT_NE(ended.out.find("connection to the X display was lost"), std::string::npos) << ended.out;
}

std::optional<testing_support::LayoutFrame> layoutFrame(const std::string& id) {
  return testing_support::layoutFrame(MENDKIT_AGENT_BUNDLE, id);
}

// The debug pop-up of the built bundle answered with real clicks. The cases share one private X
// server with a window manager; each has its own sandbox, where the sample Mendkit (a program that
// notes each opening and its arguments in ~/mendkit-opened.log) is installed in /Applications.
class X11PopUpClicks : public testing_support::HomeTest {
 protected:
  static void SetUpTestSuite() { s_display = new VirtualDisplay({.windowManager = true}); }
  static void TearDownTestSuite() {
    delete s_display;
    s_display = nullptr;
  }

  void SetUp() override {
    if (!s_display->available()) GTEST_SKIP() << s_display->why();
    if (access(kXdotool, X_OK) != 0) GTEST_SKIP() << "xdotool is not installed";
    s_display->setDesktopColor(kDesktop);
    std::filesystem::create_directories(sandbox.inRoot("Applications"));
    std::filesystem::copy(MENDKIT_SAMPLE_BUNDLE, sandbox.inRoot("Applications/Mendkit.app"),
                          std::filesystem::copy_options::recursive);
    _agent = std::make_unique<Subprocess>(
        std::vector<std::string>{MENDKIT_AGENT_EXECUTABLE, "-debug1"},
        ChildOptions{
            .environment = {"DISPLAY=" + s_display->name(), "GDK_SCALE=1", "WAYLAND_DISPLAY="},
            .output = ChildOutput::Discarded});
    ASSERT_TRUE(s_display->awaitScreen(popUpAtRest)) << "no pop-up at rest";
  }

  // Clicks the middle of the layout object `id`, the pop-up resting at the screen's top right.
  void click(const std::string& id) {
    std::optional<testing_support::LayoutFrame> window = layoutFrame("popup"),
                                                control = layoutFrame(id);
    ASSERT_TRUE(window && control) << "the layout has no frame for " << id;
    const int x = 1440 - int(window->width) + int(control->x + control->width / 2);
    const int y = int(window->height - (control->y + control->height / 2));
    runXdotool(*s_display, {"mousemove", std::to_string(x), std::to_string(y), "click", "1"});
  }

  bool popUpGone() {
    return s_display->awaitScreen([](cairo_surface_t* shot) {
      return VirtualDisplay::rgbAt(shot, kLeft + 20, 120) == kDesktop;
    });
  }

  // Whether the statistics spool comes to hold `event` within a few seconds.
  bool spoolGets(int event) {
    const std::string spool =
        sandbox.inHome("Library/Application Support/Mendkit/UsageLog/events.jsonl");
    const std::string entry = "\"event\":" + std::to_string(event);
    return eventually([&] { return readFile(spool).value_or("").find(entry) != std::string::npos; },
                      10);
  }

  std::string spool() const {
    return readFile(sandbox.inHome("Library/Application Support/Mendkit/UsageLog/events.jsonl"))
        .value_or("<no spool>");
  }

  std::optional<bool> neverPopDialog() const {
    auto defaults = foundation::readPropertyListFile(
        sandbox.inHome("Library/Preferences/com.kelvanoria.Mendkit.agent.plist"));
    const foundation::PlistValue* flag =
        defaults ? defaults->objectForKey("NeverPopDialog") : nullptr;
    return flag ? flag->boolValue() : std::nullopt;
  }

  static VirtualDisplay* s_display;
  std::unique_ptr<Subprocess> _agent;
};

VirtualDisplay* X11PopUpClicks::s_display = nullptr;

TEST_F(X11PopUpClicks, AcceptOpensMendkitWithItsArgumentAndIsReported) {
  const std::string opened = sandbox.inHome("mendkit-opened.log");
  click("accept");
  EXPECT_TRUE(eventually([&] { return std::filesystem::exists(opened); }, 10))
      << "Mendkit was not opened";
  EXPECT_TRUE(readFile(opened).value_or("").ends_with("arguments: 10216\n"))
      << readFile(opened).value_or("");
  EXPECT_TRUE(spoolGets(10212)) << spool();
  EXPECT_TRUE(popUpGone()) << "the pop-up stays after accepting";
}

TEST_F(X11PopUpClicks, DismissIsReportedAndOpensNothing) {
  click("dismiss");
  EXPECT_TRUE(spoolGets(10214)) << spool();
  EXPECT_TRUE(popUpGone()) << "the pop-up stays after dismissing";
  EXPECT_EQ(spool().find("\"event\":10212"), std::string::npos) << spool();
  EXPECT_FALSE(std::filesystem::exists(sandbox.inHome("mendkit-opened.log")));
}

// Given the keyboard (as an assistive tool gives it), the pop-up rings the check box, Tab moves
// the ring to "Not Now", and Space presses it.
TEST_F(X11PopUpClicks, TabAndSpacePressTheDismissButton) {
  auto found = testing_support::runChild({kXdotool, "search", "--classname", "MendkitAgent"},
                                         {.environment = {"DISPLAY=" + s_display->name()}}, 10);
  ASSERT_EQ(found.exitStatus, 0) << "no pop-up window: " << found.err;
  std::string window = found.out.substr(0, found.out.find('\n'));
  // Just left of a control's frame, halfway up: where its ring runs.
  auto ringBeside = [](const char* id) {
    std::optional<testing_support::LayoutFrame> control = layoutFrame(id);
    return std::make_pair(kLeft + int(control->x) - 3,
                          kBottom + 1 - int(control->y + control->height / 2));
  };
  auto [boxX, boxY] = ringBeside("neverShow");
  auto [dismissX, dismissY] = ringBeside("dismiss");
  EXPECT_FALSE(isBlue(pixelOn(*s_display, boxX, boxY))) << "a ring without the keyboard focus";

  runXdotool(*s_display, {"windowfocus", "--sync", window});
  EXPECT_TRUE(eventually([&] { return isBlue(pixelOn(*s_display, boxX, boxY)); }, 5))
      << "no ring around the check box";
  runXdotool(*s_display, {"key", "Tab"});
  EXPECT_TRUE(eventually([&] { return isBlue(pixelOn(*s_display, dismissX, dismissY)); }, 5))
      << "Tab did not ring the dismiss button";
  EXPECT_FALSE(isBlue(pixelOn(*s_display, boxX, boxY)));
  runXdotool(*s_display, {"key", "space"});
  EXPECT_TRUE(spoolGets(10214)) << spool();
  EXPECT_TRUE(popUpGone());
  EXPECT_NE(neverPopDialog(), true) << "Space reached the check box";
}

TEST_F(X11PopUpClicks, TheCheckBoxStoresNeverShowAgainAtOnceAndKeepsThePopUp) {
  click("neverShow");
  EXPECT_TRUE(eventually([&] { return neverPopDialog() == true; }, 10))
      << "NeverPopDialog is not stored";
  EXPECT_TRUE(isPanel(pixelOn(*s_display, kLeft + 2, 90))) << "the check box hid the pop-up";
  click("dismiss");
  EXPECT_TRUE(spoolGets(10214)) << spool();
  EXPECT_TRUE(popUpGone());
  EXPECT_EQ(neverPopDialog(), true);
}

}  // namespace
