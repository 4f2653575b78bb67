// AppDelegate: the pop-up window, its buttons and its events.

#include <cstdint>
#include <string>

#include "AppDelegate.h"
#include "ProductLogManager.h"
#include "Rules.h"
#include "ServiceConfig.h"
#include "appkit/AnimationContext.h"
#include "appkit/Color.h"
#include "appkit/Screen.h"
#include "appkit/Window.h"
#include "appkit/WindowBackend.h"
#include "foundation/Date.h"
#include "foundation/Shell.h"

namespace {

constexpr double kSlideSeconds = 0.8;
constexpr double kHiddenAlpha = 0.3;
constexpr int kOpenedFromPopup = 10216;

// The statistics events: the style-0 code, or the next one for any other style.
enum Event : std::int32_t { kShown = 10210, kAccepted = 10212, kDismissed = 10214 };

std::int32_t eventCode(Event event, std::int64_t style) { return style == 0 ? event : event + 1; }

}  // namespace

std::string AppDelegate::openMendkitCommand(const std::optional<std::string>& path) {
  // The path is one shell word whatever it holds; an ordinary path reads exactly as "path".
  return "/usr/bin/open " + foundation::shellDoubleQuoted(path.value_or("")) + " --args " +
         std::to_string(kOpenedFromPopup) + " ";
}

void AppDelegate::needPopDialog(std::int64_t style) {
  // Without a display nothing is shown, counted or stored, and a later request may show it.
  if (!appkit::WindowBackend::shared().showsWindows()) return;
  windowShow.store(true);
  updateWindowString(style);
  // A showing counts once the pop-up is really on the screen: not while a screen lock holds it
  // back, and not at all if it is hidden before.
  if (window) {
    window->whenOnScreen([style, alive = _lifetime.watch()] {
      if (!alive.expired()) KVLogManager->asyncSendLog(eventCode(kShown, style));
    });
  }
  animationPopWindow(true);
  windowPopStyle = style;
}

void AppDelegate::animationPopWindow(bool show) {
  windowShow.store(show);
  appkit::Window* popup = window;
  if (show) {
    if (!popup) return;
    // The part of the main screen that panels leave free; its origin is added, as a top panel
    // moves it.
    appkit::Rect screen{};
    if (appkit::Screen* main = appkit::Screen::mainScreen()) screen = main->visibleFrame();
    appkit::Size size = popup->frame().size;
    appkit::Rect target{{screen.maxX() - size.width, screen.maxY() - size.height}, size};
    popup->setFrame(target.offsetBy(size.width, 0), false);
    popup->setOpaque(false);
    popup->setLevel(appkit::Window::StatusWindowLevel);
    popup->setBackgroundColor(appkit::Color::colorWithCalibratedWhite(1.0, 0.0));
    // A pop-up shown again after an earlier one faded out starts from full opacity.
    popup->setAlphaValue(1.0);
    // The slide begins once the pop-up is on the screen: after a screen lock it slides in anew.
    popup->whenOnScreen([popup, target] {
      popup->setFrame(target.offsetBy(target.size.width, 0), false);
      appkit::AnimationContext::runAnimationGroup(
          [popup, target](appkit::AnimationContext& context) {
            context.setDuration(foundation::TimeInterval::seconds(kSlideSeconds));
            // Fast at first, so that the first frame already brings the window's edge in.
            context.setTimingFunction(appkit::AnimationContext::TimingFunction::EaseOut);
            popup->animator().setFrame(target, true);
          },
          nullptr);
    });
    popup->orderFront();
    windowShow.store(true);
    return;
  }
  _hideRunning = true;
  appkit::AnimationContext::runAnimationGroup(
      [popup](appkit::AnimationContext& context) {
        context.setDuration(foundation::TimeInterval::seconds(kSlideSeconds));
        if (!popup) return;
        appkit::Rect frame = popup->frame();
        popup->animator().setFrame(frame.offsetBy(frame.size.width, 0), true);
        popup->animator().setAlphaValue(kHiddenAlpha);
      },
      [this, alive = _lifetime.watch()] {
        ServiceConfig::setPopDialogTime(foundation::Date::now());
        // The window goes with the delegate's layout; and a pop-up shown again while this one
        // slid out stays on the screen.
        if (alive.expired()) return;
        _hideRunning = false;
        if (windowShow.load() || !window) return;
        window->orderOut();
      });
}

void AppDelegate::onOkBtn(appkit::Object*) {
  foundation::runShellCommand(openMendkitCommand(Rules::mendkitIsRemoved()));
  KVLogManager->asyncSendLog(eventCode(kAccepted, windowPopStyle));
  animationPopWindow(false);
}

void AppDelegate::onCancelBtn(appkit::Object*) {
  KVLogManager->asyncSendLog(eventCode(kDismissed, windowPopStyle));
  animationPopWindow(false);
}

void AppDelegate::onClickNeverPopCheckBox(appkit::Object*) {
  ServiceConfig::setNeverPopDialog(neverPopFlag());
}
