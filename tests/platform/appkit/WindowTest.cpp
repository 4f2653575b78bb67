#include "appkit/Window.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "appkit/AnimationContext.h"
#include "appkit/Application.h"
#include "appkit/GraphicsContext.h"
#include "appkit/GraphicsHandles.h"
#include "appkit/Layout.h"
#include "appkit/RunLoop.h"
#include "appkit/Screen.h"
#include "appkit/TextField.h"
#include "appkit/TextLayout.h"
#include "appkit/headless/HeadlessBackend.h"
#include "dispatch/MainQueue.h"
#include "foundation/Clock.h"
#include "support/TestHome.h"

namespace {

using appkit::Color;
using appkit::Event;
using appkit::EventType;
using appkit::HeadlessBackend;
using appkit::HeadlessWindow;
using appkit::Point;
using appkit::Rect;
using appkit::View;
using appkit::Window;

Rect R(double x, double y, double w, double h) { return Rect::make(x, y, w, h); }

// A view that fills its bounds with one colour and records the events it gets.
class Probe : public View {
 public:
  explicit Probe(Rect frame, Color color = Color::redColor()) : View(frame), _color(color) {}

  void drawRect(Rect) override {
    ++draws;
    appkit::GraphicsContext* context = appkit::GraphicsContext::current();
    context->useColor(_color);
    cairo_rectangle(context->cairo(), 0, 0, frame().size.width, frame().size.height);
    cairo_fill(context->cairo());
  }
  void mouseDown(const Event&) override { log.push_back("down"); }
  void mouseDragged(const Event&) override { log.push_back("dragged"); }
  void mouseUp(const Event&) override { log.push_back("up"); }
  void mouseEntered(const Event& event) override {
    log.push_back("entered " + std::to_string(event.trackingAreaId));
  }
  void mouseExited(const Event& event) override {
    log.push_back("exited " + std::to_string(event.trackingAreaId));
  }
  std::vector<std::string> take() { return std::exchange(log, {}); }

  int draws = 0;
  std::vector<std::string> log;

 private:
  Color _color;
};

int track(View& view) {
  appkit::TrackingArea area;
  area.owner = &view;
  return view.addTrackingArea(area);
}

// Premultiplied 0xAARRGGBB at column x, row y counted from the top.
std::uint32_t pixel(cairo_surface_t* surface, int x, int y) {
  cairo_surface_flush(surface);
  const unsigned char* row =
      cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
  return reinterpret_cast<const std::uint32_t*>(row)[x];
}

constexpr std::uint32_t kRed = 0xFFFF0000;

class WindowTest : public ::testing::Test {
 protected:
  WindowTest() { useScreen(1); }
  ~WindowTest() override {
    drain();
    appkit::WindowBackend::setSharedForTesting(nullptr);
  }

  void useScreen(double scale) {
    auto made = std::make_unique<HeadlessBackend>(
        appkit::ScreenDescription{R(0, 0, 1440, 900), R(0, 0, 1440, 900), scale});
    backend = made.get();
    appkit::WindowBackend::setSharedForTesting(std::move(made));
  }
  static HeadlessWindow& headless(Window& window) {
    return dynamic_cast<HeadlessWindow&>(*window.backendWindow());
  }
  static void drain() {
    while (appkit::RunLoop::main().runOnce()) {
    }
  }
  // Advances the clock by one refresh interval (and a hair, so that sums of rounded sixtieths never
  // fall short of a frame's deadline) and runs a pass.
  void frameStep() {
    clock.advance(1.0 / 60 + 1e-7);
    appkit::RunLoop::main().runOnce();
  }
  void mouse(Window& window, EventType type, Point at) {
    backend->sendMouse(headless(window), type, at, type == EventType::LeftMouseDown ? 1 : 0);
    drain();
  }

  foundation::ManualClock clock;
  foundation::ScopedClock scopedClock{clock};
  HeadlessBackend* backend = nullptr;
};

TEST_F(WindowTest, DrawsViewsYUpAtTheScreenScaleAndLeavesAClearBackgroundTransparent) {
  for (double scale : {1.0, 2.0}) {
    SCOPED_TRACE(scale);
    useScreen(scale);
    Window window(R(100, 100, 40, 30));
    window.setOpaque(false);
    window.setBackgroundColor(Color::clearColor());
    View content;
    Probe bottomLeft(R(0, 0, 10, 5));
    content.addSubview(&bottomLeft);
    window.setContentView(&content);
    EXPECT_EQ(content.frame(), R(0, 0, 40, 30));
    window.display();

    cairo_surface_t* surface = window.surface();
    ASSERT_NE(surface, nullptr);
    int s = int(scale);
    int height = 30 * s;
    ASSERT_EQ(cairo_image_surface_get_width(surface), 40 * s);
    ASSERT_EQ(height, cairo_image_surface_get_height(surface));
    // The view at the window's bottom paints the last rows of the image, its whole area and no
    // more.
    EXPECT_EQ(pixel(surface, 0, height - 1), kRed);
    EXPECT_EQ(pixel(surface, 10 * s - 1, height - 5 * s), kRed);
    EXPECT_EQ(pixel(surface, 10 * s, height - 1), 0u);
    EXPECT_EQ(pixel(surface, 0, height - 5 * s - 1), 0u);
    EXPECT_EQ(pixel(surface, 0, 0), 0u);
    EXPECT_EQ(headless(window).pixel(0, height - 1), kRed);
    EXPECT_EQ(headless(window).pixel(39 * s, 0), 0u);

    window.setOpaque(true);
    window.setBackgroundColor(Color::whiteColor());
    window.display();
    EXPECT_EQ(pixel(surface, 39 * s, 0), 0xFFFFFFFFu);
    EXPECT_EQ(pixel(surface, 0, height - 1), kRed);
  }
}

// A tick asks from its own queue while the main thread may be drawing text: the set-up runs once,
// on the main thread, never on the asking one.
TEST_F(WindowTest, PreparingAskedForFromAnotherThreadRunsOnceOnTheMainThread) {
  const appkit::AttributedString text("Don’t show again");
  const double width = [&] {
    appkit::TextLayout layout;
    layout.setText(text);
    return layout.size().width;
  }();
  std::thread ahead([] { Window::prepareSoon(); });
  for (int i = 0; i < 20; ++i) {
    appkit::TextLayout layout;
    layout.setText(text);
    EXPECT_EQ(layout.size().width, width);
  }
  ahead.join();
  EXPECT_EQ(dispatch::MainQueue::shared().runPending(), 1u);
  Window::prepareSoon();
  EXPECT_EQ(dispatch::MainQueue::shared().runPending(), 0u);
}

TEST_F(WindowTest, ManyNeedsDisplayMarksMakeOneFrameOnTheNextPass) {
  Window window(R(0, 0, 100, 100));
  View content;
  Probe a(R(0, 0, 10, 10)), b(R(50, 50, 10, 10));
  content.addSubview(&a);
  content.addSubview(&b);
  window.setContentView(&content);
  window.orderFront();
  drain();
  HeadlessWindow& shown = headless(window);
  int presents = shown.presentCount();
  int drawsA = a.draws, drawsB = b.draws;

  for (int i = 0; i < 50; ++i) {
    a.setNeedsDisplay(true);
    b.setNeedsDisplayInRect(R(0, 0, 5, 5));
  }
  EXPECT_EQ(shown.presentCount(), presents);
  drain();
  EXPECT_EQ(shown.presentCount(), presents + 1);
  EXPECT_EQ(a.draws, drawsA + 1);
  EXPECT_EQ(b.draws, drawsB + 1);
  EXPECT_EQ(shown.lastDamage(), (appkit::PixelRect{0, 0, 55, 55}));

  // A hidden window draws nothing until it is shown again.
  window.orderOut();
  a.setNeedsDisplay(true);
  drain();
  EXPECT_EQ(shown.presentCount(), presents + 1);
  EXPECT_FALSE(shown.isVisible());
}

TEST_F(WindowTest, AnimationGroupMovesByTheClockEndsExactlyAndCompletesOnce) {
  Window window(R(1440, 720, 360, 180));
  window.orderFront();
  drain();
  int completions = 0;
  appkit::AnimationContext::runAnimationGroup(
      [&](appkit::AnimationContext& context) {
        EXPECT_EQ(appkit::AnimationContext::current(), &context);
        context.setDuration(foundation::TimeInterval::seconds(0.8));
        window.animator().setFrame(R(1080, 720, 360, 180), true);
        window.animator().setAlphaValue(0.3);
      },
      [&] { ++completions; });
  EXPECT_EQ(appkit::AnimationContext::current(), nullptr);
  EXPECT_EQ(window.frame(), R(1440, 720, 360, 180));

  int presents = headless(window).presentCount();
  // The first step comes at once, without waiting for a refresh.
  appkit::RunLoop::main().runOnce();
  EXPECT_LT(window.frame().origin.x, 1440);
  EXPECT_EQ(headless(window).presentCount(), presents + 1);
  std::vector<double> xs, alphas;
  for (int step = 1; step <= 24; ++step) {  // 0.4 s
    frameStep();
    xs.push_back(window.frame().origin.x);
    alphas.push_back(window.alphaValue());
  }
  // Ease in: the first step moves less than a linear one would; every step moves left. Each frame
  // shows the animation half a refresh ahead, when it will be seen: the middle of the way lies
  // halfway between the frames of 23 and 24 refreshes.
  EXPECT_GT(xs.front(), 1440 - 360.0 / 48);
  EXPECT_NEAR((xs[22] + xs[23]) / 2, 1260, 0.5);
  EXPECT_NEAR((alphas[22] + alphas[23]) / 2, 0.65, 0.001);
  for (std::size_t i = 1; i < xs.size(); ++i) EXPECT_LT(xs[i], xs[i - 1]);
  EXPECT_EQ(headless(window).frame(), window.frame());
  EXPECT_EQ(headless(window).presentCount(), presents + 25);  // one frame per step
  EXPECT_EQ(completions, 0);

  for (int step = 0; step < 30; ++step) frameStep();
  EXPECT_EQ(window.frame(), R(1080, 720, 360, 180));
  EXPECT_EQ(headless(window).frame(), R(1080, 720, 360, 180));
  EXPECT_EQ(window.alphaValue(), 0.3);
  EXPECT_EQ(headless(window).alpha(), 0.3);
  EXPECT_EQ(completions, 1);
  presents = headless(window).presentCount();
  clock.advance(5);
  drain();
  EXPECT_EQ(completions, 1);
  EXPECT_EQ(headless(window).presentCount(), presents);

  // Outside a group the animator changes at once; a group that animates nothing completes on the
  // next pass.
  window.animator().setFrame(R(0, 0, 360, 180), false);
  EXPECT_EQ(window.frame(), R(0, 0, 360, 180));
  appkit::AnimationContext::runAnimationGroup([](appkit::AnimationContext&) {},
                                              [&] { ++completions; });
  EXPECT_EQ(completions, 1);
  appkit::RunLoop::main().runOnce();
  EXPECT_EQ(completions, 2);
}

TEST_F(WindowTest, ANewAnimationOfAPropertyReplacesTheRunningOne) {
  Window window(R(0, 0, 100, 100));
  std::vector<std::string> completed;
  auto slide = [&](double x, double seconds, std::string name) {
    appkit::AnimationContext::runAnimationGroup(
        [&](appkit::AnimationContext& context) {
          context.setDuration(foundation::TimeInterval::seconds(seconds));
          window.animator().setFrame(R(x, 0, 100, 100), false);
        },
        [&completed, name] { completed.push_back(name); });
  };
  slide(800, 0.8, "first");
  for (int i = 0; i < 12; ++i) frameStep();
  double stoppedAt = window.frame().origin.x;
  slide(-200, 0.4, "second");
  std::vector<double> xs;
  for (int i = 0; i < 60; ++i) {
    frameStep();
    xs.push_back(window.frame().origin.x);
  }
  // Never back towards the first target: only the second animation moves the window.
  EXPECT_LE(xs.front(), stoppedAt);
  for (std::size_t i = 1; i < xs.size(); ++i) EXPECT_LE(xs[i], xs[i - 1]);
  EXPECT_EQ(window.frame().origin.x, -200);
  EXPECT_EQ(completed, (std::vector<std::string>{"first", "second"}));

  // A direct change stops an animation too.
  slide(500, 0.8, "third");
  frameStep();
  window.setFrame(R(7, 7, 100, 100), false);
  for (int i = 0; i < 60; ++i) frameStep();
  EXPECT_EQ(window.frame(), R(7, 7, 100, 100));
  EXPECT_EQ(completed.back(), "third");
}

TEST_F(WindowTest, PressDragReleaseAndTrackingAreasIncludingLeavingTheWindow) {
  Window window(R(0, 0, 100, 100));
  Probe content(R(0, 0, 0, 0));
  Probe button(R(10, 10, 30, 20));
  Probe other(R(60, 60, 20, 20));
  View plainChild(R(0, 0, 5, 5));
  content.addSubview(&button);
  content.addSubview(&other);
  button.addSubview(&plainChild);
  window.setContentView(&content);
  window.orderFront();
  drain();
  int buttonArea = track(button);
  int otherArea = track(other);
  std::string enterButton = "entered " + std::to_string(buttonArea);
  std::string exitButton = "exited " + std::to_string(buttonArea);
  std::string enterOther = "entered " + std::to_string(otherArea);
  std::string exitOther = "exited " + std::to_string(otherArea);

  mouse(window, EventType::MouseMoved, {15, 15});
  EXPECT_EQ(button.take(), (std::vector<std::string>{enterButton}));
  appkit::Cursor::pointingHandCursor().set();
  EXPECT_EQ(headless(window).cursor(), appkit::Cursor::Kind::PointingHand);

  mouse(window, EventType::LeftMouseDown, {15, 15});
  mouse(window, EventType::LeftMouseDragged, {70, 70});
  mouse(window, EventType::LeftMouseDragged, {150, 150});
  mouse(window, EventType::LeftMouseUp, {150, 150});
  EXPECT_EQ(button.take(),
            (std::vector<std::string>{"down", exitButton, "dragged", "dragged", "up"}));
  EXPECT_EQ(other.take(), (std::vector<std::string>{enterOther, exitOther}));
  EXPECT_TRUE(content.take().empty());

  // The cursor is this window's only while the pointer is over it.
  appkit::Cursor::arrowCursor().set();
  appkit::Cursor::pointingHandCursor().set();
  EXPECT_EQ(headless(window).cursor(), appkit::Cursor::Kind::PointingHand);
  mouse(window, EventType::MouseMoved, {15, 15});
  EXPECT_EQ(headless(window).cursor(), appkit::Cursor::Kind::PointingHand);
  appkit::Cursor::arrowCursor().set();
  EXPECT_EQ(headless(window).cursor(), appkit::Cursor::Kind::Arrow);

  // A press on a view that does not handle it goes up the responder chain.
  mouse(window, EventType::LeftMouseDown, {12, 12});
  mouse(window, EventType::LeftMouseUp, {12, 12});
  EXPECT_EQ(button.take(), (std::vector<std::string>{enterButton, "down", "up"}));

  // An area appearing under the still pointer is entered; the pointer leaving the window exits
  // every area it is in.
  int contentArea = track(content);
  drain();
  EXPECT_EQ(content.take(), (std::vector<std::string>{"entered " + std::to_string(contentArea)}));
  mouse(window, EventType::MouseExited, {-1, 15});
  EXPECT_EQ(button.take(), (std::vector<std::string>{exitButton}));
  EXPECT_EQ(content.take(), (std::vector<std::string>{"exited " + std::to_string(contentArea)}));
  appkit::Cursor::pointingHandCursor().set();
  EXPECT_EQ(headless(window).cursor(), appkit::Cursor::Kind::Arrow);
}

TEST_F(WindowTest, AViewDestroyedWhilePressedOrHoveredIsForgotten) {
  Window window(R(0, 0, 100, 100));
  auto content = std::make_unique<Probe>(R(0, 0, 0, 0));
  auto pressed = std::make_unique<Probe>(R(0, 0, 50, 50));
  auto hovered = std::make_unique<Probe>(R(50, 50, 50, 50));
  content->addSubview(pressed.get());
  content->addSubview(hovered.get());
  window.setContentView(content.get());
  track(*pressed);
  track(*hovered);

  window.sendEvent(Event{EventType::LeftMouseDown, {10, 10}, 1, 0});
  pressed.reset();
  window.sendEvent(Event{EventType::LeftMouseDragged, {60, 60}, 0, 0});
  window.sendEvent(Event{EventType::LeftMouseUp, {60, 60}, 1, 0});
  EXPECT_EQ(hovered->take().size(), 1u);  // entered
  hovered.reset();
  window.sendEvent(Event{EventType::MouseMoved, {10, 10}, 0, 0});
  window.sendEvent(Event{EventType::MouseExited, {-5, 10}, 0, 0});
  // The content view goes too: the window draws its background only.
  content.reset();
  EXPECT_EQ(window.contentView(), nullptr);
  window.display();
  drain();
}

class WindowSnapshotTest : public WindowTest {
 protected:
  WindowSnapshotTest() { setenv("PLATFORM_SNAPSHOT_DIR", sandbox.base().c_str(), 1); }
  ~WindowSnapshotTest() override { unsetenv("PLATFORM_SNAPSHOT_DIR"); }

  std::vector<int> snapshots() const {
    std::vector<int> numbers;
    for (const auto& entry : std::filesystem::directory_iterator(sandbox.base())) {
      std::string name = entry.path().filename().string();
      if (entry.path().extension() == ".png" && name[0] != '.') numbers.push_back(std::stoi(name));
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
  }

  testing_support::TestHome sandbox;
};

TEST_F(WindowSnapshotTest, WritesNumberedSnapshotsOnlyWhenTheWindowComesToRest) {
  useScreen(2);
  Window window(R(1440, 720, 60, 40));
  window.setOpaque(false);
  window.setBackgroundColor(Color::clearColor());
  View content;
  Probe red(R(0, 0, 30, 20));
  content.addSubview(&red);
  window.setContentView(&content);

  window.orderFront();
  EXPECT_TRUE(snapshots().empty());
  drain();
  std::vector<int> written = snapshots();
  ASSERT_EQ(written.size(), 1u);

  auto slide = [&](double x) {
    appkit::AnimationContext::runAnimationGroup(
        [&](appkit::AnimationContext& context) {
          context.setDuration(foundation::TimeInterval::seconds(0.5));
          window.animator().setFrame(R(x, 720, 60, 40), true);
        },
        nullptr);
  };
  slide(1380);
  for (int i = 0; i < 29; ++i) frameStep();
  EXPECT_EQ(snapshots().size(), 1u);
  frameStep();
  ASSERT_EQ(snapshots(), (std::vector<int>{written[0], written[0] + 1}));

  // Shown and animated in the same turn: one snapshot, at the end.
  window.orderOut();
  window.orderFront();
  slide(1300);
  for (int i = 0; i < 40; ++i) frameStep();
  ASSERT_EQ(snapshots(), (std::vector<int>{written[0], written[0] + 1, written[0] + 2}));

  std::string last = sandbox.base() + "/" + std::to_string(written[0] + 2) + ".png";
  appkit::CairoSurface png(cairo_image_surface_create_from_png(last.c_str()));
  ASSERT_EQ(cairo_surface_status(png.get()), CAIRO_STATUS_SUCCESS);
  EXPECT_EQ(cairo_image_surface_get_width(png.get()), 120);
  EXPECT_EQ(cairo_image_surface_get_height(png.get()), 80);
  EXPECT_EQ(pixel(png.get(), 0, 79), kRed);
  EXPECT_EQ(pixel(png.get(), 119, 0), 0u);
}

TEST_F(WindowSnapshotTest, TheTextOfTheShownFieldsLiesBesideEachSnapshot) {
  Window window(R(100, 100, 200, 100));
  View content, group;
  appkit::TextField message(R(0, 50, 200, 40)), hidden(R(0, 0, 100, 20)), nested(R(0, 0, 100, 20));
  message.setStringValue("Your iPod could not be restored.");
  hidden.setStringValue("never shown");
  hidden.setHidden(true);
  nested.setStringValue("inside a group");
  group.addSubview(&nested);
  content.addSubview(&message);
  content.addSubview(&hidden);
  content.addSubview(&group);
  window.setContentView(&content);

  window.orderFront();
  drain();
  std::vector<int> written = snapshots();
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(testing_support::readFile(sandbox.base() + "/" + std::to_string(written[0]) + ".txt"),
            "Your iPod could not be restored.\ninside a group\n");
}

TEST_F(WindowTest, OffScreenBackendTakesTheScreenFromTheEnvironment) {
  EXPECT_EQ(HeadlessBackend::parseScreenSize("1280x800"), (appkit::Size{1280, 800}));
  for (const char* bad : {"", "x", "1280", "1280x", "0x800", "-5x800", "1280x800x2", "+1x1",
                          "1280.5x800", "999999x1"}) {
    EXPECT_EQ(HeadlessBackend::parseScreenSize(bad), std::nullopt) << bad;
  }
  setenv("PLATFORM_SCREEN", "800x600", 1);
  setenv("PLATFORM_SCALE", "2", 1);
  appkit::ScreenDescription chosen = HeadlessBackend().mainScreen();
  EXPECT_EQ(chosen.frame, R(0, 0, 800, 600));
  EXPECT_EQ(chosen.backingScaleFactor, 2);
  setenv("PLATFORM_SCREEN", "wide", 1);
  setenv("PLATFORM_SCALE", "1.5", 1);
  chosen = HeadlessBackend().mainScreen();
  EXPECT_EQ(chosen.frame, R(0, 0, 1440, 900));
  EXPECT_EQ(chosen.backingScaleFactor, 1);
  unsetenv("PLATFORM_SCREEN");
  unsetenv("PLATFORM_SCALE");

  appkit::Screen* screen = appkit::Screen::mainScreen();
  ASSERT_NE(screen, nullptr);
  EXPECT_EQ(screen->frame(), R(0, 0, 1440, 900));
  EXPECT_EQ(screen->backingScaleFactor(), 1);
}

constexpr const char* kWindowLayout = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
	<key>Objects</key>
	<array>
		<dict>
			<key>id</key><string>popup</string>
			<key>class</key><string>NSWindow</string>
			<key>properties</key>
			<dict>
				<key>frame</key><array><integer>10</integer><integer>20</integer><real>360</real><integer>180</integer></array>
				<key>level</key><integer>25</integer>
				<key>opaque</key><false/>
				<key>backgroundColor</key><dict><key>white</key><real>1</real><key>alpha</key><real>0</real></dict>
				<key>alphaValue</key><real>0.5</real>
				<key>visibleAtLaunch</key><false/>
			</dict>
			<key>outlets</key><dict><key>contentView</key><string>background</string></dict>
		</dict>
		<dict>
			<key>id</key><string>shown</string>
			<key>class</key><string>NSWindow</string>
		</dict>
		<dict>
			<key>id</key><string>background</string>
			<key>class</key><string>NSView</string>
			<key>properties</key>
			<dict>
				<key>frame</key><array><integer>0</integer><integer>0</integer><integer>1</integer><integer>1</integer></array>
				<key>hidden</key><true/>
			</dict>
		</dict>
	</array>
</dict>
</plist>
)";

TEST_F(WindowTest, ALayoutMakesWindowsAndLaunchingShowsThoseVisibleAtLaunch) {
  testing_support::TestHome home;
  std::string path = home.inHome("Main.layout");
  testing_support::writeFile(path, kWindowLayout);
  dispatch::MainQueue queue;
  appkit::RunLoop loop{queue};
  appkit::Application application{loop, [](int) {}};
  foundation::Result<void> launched = application.finishLaunching(path);
  ASSERT_TRUE(launched) << launched.error().message;

  auto* popup = dynamic_cast<Window*>(application.layout()->objectWithId("popup"));
  auto* shown = dynamic_cast<Window*>(application.layout()->objectWithId("shown"));
  auto* background = dynamic_cast<View*>(application.layout()->objectWithId("background"));
  ASSERT_TRUE(popup && shown && background);
  EXPECT_EQ(popup->frame(), R(10, 20, 360, 180));
  EXPECT_EQ(popup->level(), Window::StatusWindowLevel);
  EXPECT_EQ(headless(*popup).level(), 25);
  EXPECT_FALSE(popup->isOpaque());
  EXPECT_EQ(popup->backgroundColor(), Color::colorWithCalibratedWhite(1, 0));
  EXPECT_EQ(popup->alphaValue(), 0.5);
  EXPECT_EQ(popup->contentView(), background);
  EXPECT_EQ(background->frame(), R(0, 0, 360, 180));
  EXPECT_TRUE(background->isHidden());
  EXPECT_FALSE(popup->isVisible());
  EXPECT_TRUE(shown->isVisible());
  EXPECT_TRUE(headless(*shown).isVisible());
}

}  // namespace
