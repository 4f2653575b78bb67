#include "appkit/KeyboardFocus.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "appkit/Button.h"
#include "appkit/RunLoop.h"
#include "appkit/TextField.h"
#include "appkit/View.h"
#include "appkit/Window.h"
#include "appkit/headless/HeadlessBackend.h"
#include "dispatch/MainQueue.h"

namespace {

using appkit::Button;
using appkit::ButtonType;
using appkit::HeadlessBackend;
using appkit::HeadlessWindow;
using appkit::Key;
using appkit::Rect;
using appkit::View;

// A pop-up of a message, a check box and two buttons, shown off-screen; each control's action
// is noted in `clicks`.
class KeyboardFocusTest : public ::testing::Test {
 protected:
  KeyboardFocusTest() {
    auto made = std::make_unique<HeadlessBackend>(
        appkit::ScreenDescription{Rect::make(0, 0, 1440, 900), Rect::make(0, 0, 1440, 900), 1});
    backend = made.get();
    appkit::WindowBackend::setSharedForTesting(std::move(made));
    window.setContentView(&content);
    for (View* view : std::vector<View*>{&message, &box, &dismiss, &accept})
      content.addSubview(view);
    box.setButtonType(ButtonType::Switch);
    box.setTitle("Don't show again");
    dismiss.setKeyEquivalent(Key::Escape);
    accept.setKeyEquivalent(Key::Return);
    for (Button* button : {&box, &dismiss, &accept}) {
      button->setAction([this, button](appkit::Object*) { clicks.push_back(button); });
    }
    window.orderFront();
    drain();
  }
  ~KeyboardFocusTest() override {
    window.orderOut();
    drain();
    appkit::WindowBackend::setSharedForTesting(nullptr);
  }

  static void drain() {
    while (appkit::RunLoop::main().runOnce()) {
    }
  }
  HeadlessWindow& headless() { return dynamic_cast<HeadlessWindow&>(*window.backendWindow()); }
  void focus(bool focused) {
    backend->setKeyFocus(headless(), focused);
    drain();
  }
  void press(Key key, bool shift = false) {
    backend->sendKey(headless(), key, shift);
    drain();
  }
  View* focused() const { return window.keyboard().focusedView(); }
  // Whether the window's last frame shows the ring's blue at (x, y), window points from the
  // bottom left.
  bool ringAt(int x, int y) {
    cairo_surface_t* frame = headless().lastFrame();
    cairo_surface_flush(frame);
    int row = cairo_image_surface_get_height(frame) - 1 - y;
    const unsigned char* data =
        cairo_image_surface_get_data(frame) + row * cairo_image_surface_get_stride(frame);
    std::uint32_t pixel = reinterpret_cast<const std::uint32_t*>(data)[x];
    return pixel == 0xFF3584E4u;
  }

  HeadlessBackend* backend = nullptr;
  appkit::Window window{Rect::make(1080, 720, 360, 180)};
  View content;
  appkit::TextField message{Rect::make(18, 80, 324, 84)};
  Button box{Rect::make(20, 54, 320, 18)};
  Button dismiss{Rect::make(100, 16, 112, 28)};
  Button accept{Rect::make(224, 16, 116, 28)};
  std::vector<Button*> clicks;
};

TEST_F(KeyboardFocusTest, TabCyclesTheControlsOnlyWhileTheWindowHasTheKeyboard) {
  press(Key::Tab);
  press(Key::Space);
  press(Key::Return);
  EXPECT_EQ(focused(), nullptr) << "keys reached a window without the keyboard focus";
  EXPECT_TRUE(clicks.empty());

  focus(true);
  EXPECT_EQ(focused(), &box) << "the focus starts on the first control; the message takes none";
  press(Key::Tab);
  EXPECT_EQ(focused(), &dismiss);
  press(Key::Tab);
  EXPECT_EQ(focused(), &accept);
  press(Key::Tab);
  EXPECT_EQ(focused(), &box) << "Tab wraps around";
  press(Key::Tab, true);
  EXPECT_EQ(focused(), &accept) << "Shift-Tab goes back";

  dismiss.setHidden(true);
  box.setEnabled(false);
  press(Key::Tab);
  EXPECT_EQ(focused(), &accept) << "a hidden or disabled control took the focus";
  EXPECT_TRUE(clicks.empty());
}

TEST_F(KeyboardFocusTest, SpaceClicksTheFocusedControlAndReturnAndEscapeTheirButtons) {
  focus(true);
  press(Key::Space);
  EXPECT_EQ(box.state(), appkit::Cell::On) << "Space did not toggle the check box";
  press(Key::Return);
  press(Key::Escape);
  EXPECT_EQ(clicks, (std::vector<Button*>{&box, &accept, &dismiss}));

  accept.setEnabled(false);
  press(Key::Return);
  EXPECT_EQ(clicks.size(), 3u) << "Return clicked a disabled button";
}

// The ring runs 2 to 4 points outside the focused control, only while the window has the focus;
// around a check box it ends after the title.
TEST_F(KeyboardFocusTest, TheRingFollowsTheFocusAndGoesWithIt) {
  EXPECT_FALSE(ringAt(17, 63));
  focus(true);
  EXPECT_TRUE(ringAt(17, 63)) << "no ring left of the check box";
  EXPECT_FALSE(ringAt(342, 63)) << "the check box's ring runs past its title";
  press(Key::Tab);
  EXPECT_FALSE(ringAt(17, 63));
  EXPECT_TRUE(ringAt(97, 30)) << "no ring left of the dismiss button";
  focus(false);
  EXPECT_FALSE(ringAt(97, 30)) << "the ring stays without the keyboard focus";
}

}  // namespace
