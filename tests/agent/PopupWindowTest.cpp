#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "AppDelegate.h"
#include "ProductLogManager.h"
#include "ServiceConfig.h"
#include "appkit/Button.h"
#include "appkit/Layout.h"
#include "appkit/RunLoop.h"
#include "appkit/Window.h"
#include "appkit/headless/HeadlessBackend.h"
#include "foundation/Clock.h"
#include "foundation/PropertyList.h"
#include "foundation/UserDefaults.h"
#include "support/RecordingExportObj.h"
#include "support/TestHome.h"

namespace {

using appkit::EventType;
using appkit::Rect;
using testing_support::readFile;
using testing_support::writeFile;

// The application's own window layout, loaded off-screen on a 1440×900 screen with a manual clock;
// usage events go to a recording export object.
class PopupWindowTest : public testing_support::HomeTest {
 protected:
  void SetUp() override {
    auto backend = std::make_unique<appkit::HeadlessBackend>(
        appkit::ScreenDescription{Rect::make(0, 0, 1440, 900), Rect::make(0, 0, 1440, 900), 1});
    _backend = backend.get();
    appkit::WindowBackend::setSharedForTesting(std::move(backend));
    _previous = ProductLogManager::setLibrariesForTesting({&_events});
    // The first send's wait for the library moves the clock: over before anything is timed.
    KVLogManager->syncSendLog(0);
    _events.takeCodes();
  }
  void TearDown() override {
    _layout.reset();
    drain();
    appkit::WindowBackend::setSharedForTesting(nullptr);
    ProductLogManager::setLibrariesForTesting(_previous);
    ProductLogManager::rearmReadinessWaitForTesting();
  }

  // Loads the layout; fails the test when it does not load.
  void load() {
    appkit::LayoutResult loaded = appkit::Layout::load(MENDKIT_MAIN_LAYOUT);
    ASSERT_TRUE(loaded) << loaded.error().message;
    _layout = std::move(loaded).value();
    delegate = dynamic_cast<AppDelegate*>(_layout->applicationDelegate());
    ASSERT_NE(delegate, nullptr);
    ASSERT_NE(delegate->window, nullptr);
    window = delegate->window;
  }
  template <class T>
  T* object(const char* id) const {
    return dynamic_cast<T*>(_layout->objectWithId(id));
  }

  static void drain() {
    while (appkit::RunLoop::main().runOnce()) {
    }
  }
  // Runs the frames of `seconds` of animation, a hair over one refresh interval each.
  void run(double seconds) {
    for (double t = 0; t < seconds; t += 1.0 / 60) {
      clock.advance(1.0 / 60 + 1e-7);
      appkit::RunLoop::main().runOnce();
    }
  }
  // The events sent so far, once every queued send is over.
  std::vector<int32_t> events() {
    ProductLogManager::setLibrariesForTesting({&_events});
    return _events.takeCodes();
  }
  void click(Rect inWindow) {
    auto& headless = dynamic_cast<appkit::HeadlessWindow&>(*window->backendWindow());
    appkit::Point at{inWindow.origin.x + inWindow.size.width / 2,
                     inWindow.origin.y + inWindow.size.height / 2};
    _backend->sendMouse(headless, EventType::LeftMouseDown, at, 1);
    _backend->sendMouse(headless, EventType::LeftMouseUp, at, 1);
    drain();
  }

  foundation::ManualClock clock;
  foundation::ScopedClock scopedClock{clock};
  AppDelegate* delegate = nullptr;
  appkit::Window* window = nullptr;

 private:
  appkit::HeadlessBackend* _backend = nullptr;
  testing_support::RecordingExportObj _events;
  ProductLogManager::Libraries _previous;
  std::unique_ptr<appkit::Layout> _layout;
};

}  // namespace

TEST_F(PopupWindowTest, TheLayoutMakesAHiddenWindowWhoseCaptionsFollowTheDefaults) {
  foundation::UserDefaults::standard().setString("Not_Now", "Später");
  ServiceConfig::setNeverPopDialog(true);
  ASSERT_NO_FATAL_FAILURE(load());
  EXPECT_EQ(window->frame().size, (appkit::Size{360, 180}));
  EXPECT_FALSE(window->isVisibleAtLaunch());
  EXPECT_FALSE(window->isOpaque());
  // A caption bound to a key the defaults hold shows it, in the button's own cell; the others keep
  // the layout's English titles.
  EXPECT_EQ(object<appkit::Button>("dismiss")->title(), "Später");
  EXPECT_EQ(object<appkit::Button>("accept")->title(), "Open Mendkit");
  auto* box = object<appkit::Button>("neverShow");
  EXPECT_EQ(box->title(), "Don’t show again");
  foundation::UserDefaults::standard().setString("Never_Show_Again", "Ne plus afficher");
  EXPECT_EQ(box->title(), "Ne plus afficher");
  // The box follows the flag that start-up loads.
  EXPECT_EQ(box->state(), 0);
  delegate->setNeverPopFlag(ServiceConfig::isNeverPopDialog());
  EXPECT_EQ(box->state(), 1);
}

TEST_F(PopupWindowTest, ShowingSlidesInFromTheRightEdgeAndHidingSlidesOutFadingBeforeTheDate) {
  ASSERT_NO_FATAL_FAILURE(load());
  window->setAlphaValue(0.3);  // as an earlier pop-up of the run left it
  delegate->needPopDialog(0);
  EXPECT_TRUE(delegate->windowShow.load());
  EXPECT_EQ(delegate->windowPopStyle, 0);
  EXPECT_EQ(window->frame(), Rect::make(1440, 720, 360, 180));
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->level(), appkit::Window::StatusWindowLevel);
  EXPECT_FALSE(window->isOpaque());
  EXPECT_EQ(window->backgroundColor().alphaComponent(), 0);
  EXPECT_EQ(window->backgroundColor().whiteComponent(), 1);
  EXPECT_EQ(window->alphaValue(), 1) << "a second pop-up starts from full opacity";
  EXPECT_EQ(events(), std::vector<int32_t>{10210});

  run(0.4);
  EXPECT_GT(window->frame().origin.x, 1080);
  EXPECT_LT(window->frame().origin.x, 1440);
  run(0.42);
  EXPECT_EQ(window->frame(), Rect::make(1080, 720, 360, 180));

  clock.setNow(foundation::Date{1'900'000'000.3});
  delegate->onCancelBtn(nullptr);
  EXPECT_FALSE(delegate->windowShow.load()) << "hiding begins at once";
  EXPECT_EQ(events(), std::vector<int32_t>{10214});
  run(0.4);
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(ServiceConfig::getPopDialogTime()) << "stored only when the slide is over";
  run(0.42);
  drain();
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->frame(), Rect::make(1440, 720, 360, 180));
  EXPECT_DOUBLE_EQ(window->alphaValue(), 0.3);
  ASSERT_TRUE(ServiceConfig::getPopDialogTime());
  EXPECT_NEAR(ServiceConfig::getPopDialogTime()->timeIntervalSince1970, 1'900'000'001.1, 0.02);

  // A device-error pop-up counts with the next codes. The layout goes while it slides out.
  delegate->needPopDialog(1);
  run(0.82);
  delegate->onCancelBtn(nullptr);
  EXPECT_EQ(events(), (std::vector<int32_t>{10211, 10215}));
}

TEST_F(PopupWindowTest, APopUpShownWhileTheLastOneSlidesOutStays) {
  ASSERT_NO_FATAL_FAILURE(load());
  delegate->needPopDialog(1);
  run(0.82);
  delegate->onCancelBtn(nullptr);
  run(0.3);
  delegate->needPopDialog(1);
  run(0.82);
  drain();
  EXPECT_TRUE(delegate->windowShow.load());
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->frame(), Rect::make(1080, 720, 360, 180));
  EXPECT_EQ(window->alphaValue(), 1);
}

TEST_F(PopupWindowTest, AcceptOpensMendkitWithItsPathAsOneWordAndSendsItsEventBeforeSliding) {
  // Mendkit found through its configuration, at a path the shell would otherwise take apart.
  const std::string path = sandbox.inHome("Apps/a \"b\" $HOME `id` \\n\nc.app");
  ASSERT_EQ(mkdir(sandbox.inHome("Apps").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
  foundation::PlistDictionary config;
  config["MendkitBundlePath"] = foundation::PlistValue(path);
  writeFile(sandbox.inHome("Library/Application Support/Mendkit/config.plist"),
            foundation::propertyListXml(foundation::PlistValue(config)).valueOr(""));
  writeFile(sandbox.inRoot("usr/bin/open"),
            "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done >> \"$HOME/opened\"\n");
  ASSERT_EQ(chmod(sandbox.inRoot("usr/bin/open").c_str(), 0755), 0);

  ASSERT_NO_FATAL_FAILURE(load());
  delegate->needPopDialog(1);
  run(0.82);
  EXPECT_EQ(events(), std::vector<int32_t>{10211});
  delegate->onOkBtn(nullptr);
  EXPECT_EQ(readFile(sandbox.inHome("opened")), "[" + path + "][--args][10216]");
  EXPECT_EQ(events(), std::vector<int32_t>{10213});
  EXPECT_EQ(window->frame().origin.x, 1080) << "the event goes before the window moves";
  EXPECT_FALSE(delegate->windowShow.load());
  run(0.82);
  drain();
  EXPECT_FALSE(window->isVisible());

  EXPECT_EQ(AppDelegate::openMendkitCommand("/Applications/Mendkit.app"),
            "/usr/bin/open \"/Applications/Mendkit.app\" --args 10216 ");
  EXPECT_EQ(AppDelegate::openMendkitCommand(std::nullopt), "/usr/bin/open \"\" --args 10216 ");
}

TEST_F(PopupWindowTest, TheCheckBoxStoresItsStateAtOnceAndHidesNothing) {
  ASSERT_NO_FATAL_FAILURE(load());
  delegate->needPopDialog(0);
  run(0.82);
  events();
  Rect box = object<appkit::Button>("neverShow")->frame();
  Rect tick = Rect::make(box.origin.x, box.origin.y, 14, box.size.height);

  click(tick);
  EXPECT_TRUE(delegate->neverPopFlag());
  EXPECT_TRUE(ServiceConfig::isNeverPopDialog()) << "the flag was bound before the action ran";
  click(tick);
  EXPECT_FALSE(ServiceConfig::isNeverPopDialog());

  run(0.82);
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(delegate->windowShow.load());
  EXPECT_EQ(window->frame(), Rect::make(1080, 720, 360, 180));
  EXPECT_TRUE(events().empty());
  EXPECT_FALSE(ServiceConfig::getPopDialogTime());
}
