#include "appkit/WindowBackendChoice.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>

#include "appkit/NoDisplayBackend.h"
#include "appkit/WindowBackend.h"
#include "appkit/headless/HeadlessBackend.h"
#include "foundation/Log.h"
#ifdef APPKIT_HAS_WAYLAND
#include "appkit/wayland/WaylandBackend.h"
#endif
#ifdef APPKIT_HAS_X11
#include "appkit/x11/X11Backend.h"
#include "appkit/x11/X11ConnectionLoss.h"
#include "appkit/x11/X11DisplayProbe.h"
#endif

namespace appkit {
namespace {

constexpr foundation::TimeInterval kProbeLimit = foundation::TimeInterval::seconds(2);

// The environment as the process was started, read once (other threads ask too).
struct StartEnvironment {
  bool offScreen = false;
  std::optional<std::string> display;
  std::optional<std::string> wayland;
};

const StartEnvironment& startEnvironment() {
  static const StartEnvironment s_environment = [] {
    StartEnvironment environment;
    if (const char* backend = std::getenv("PLATFORM_BACKEND"); backend && *backend) {
      environment.offScreen = std::string(backend) == "offscreen";
      if (!environment.offScreen)
        foundation::NSLog("appkit: PLATFORM_BACKEND=%s names no backend; it is ignored", backend);
    }
    if (const char* display = std::getenv("DISPLAY"); display && *display)
      environment.display = display;
    if (const char* wayland = std::getenv("WAYLAND_DISPLAY"); wayland && *wayland)
      environment.wayland = wayland;
    return environment;
  }();
  return s_environment;
}

std::atomic<bool> s_sharedShows{false};
std::atomic<bool> s_displayAnswered{false};
std::atomic<bool> s_noDisplayLogged{false};
std::atomic<bool> s_noWaylandLogged{false};
// The compositor answered without what a pop-up needs: asking it again each tick would only wake
// it (and every desktop without the layer shell would pay for that), so it is not asked again.
std::atomic<bool> s_waylandLacksLayerShell{false};
std::function<void()> s_onDisplayLost;

void logNoDisplayOnce(const std::string& why) {
  if (s_noDisplayLogged.exchange(true)) return;
  foundation::NSLog("appkit: no window can show: %s; nothing is shown until a display answers",
                    why.c_str());
}

void reportDisplayLost() {
  if (s_onDisplayLost) s_onDisplayLost();
}

// Says once why the compositor of WAYLAND_DISPLAY takes no windows.
void logNoWaylandOnce(const StartEnvironment& environment, const std::string& why) {
  if (s_noWaylandLogged.exchange(true)) return;
  foundation::NSLog(
      "appkit: WAYLAND_DISPLAY=%s: %s; %s", environment.wayland->c_str(), why.c_str(),
      environment.display ? "windows go to the X display of DISPLAY" : "DISPLAY is not set");
}

// Whether the compositor of WAYLAND_DISPLAY would take windows now; says why not once.
bool waylandAnswers(const StartEnvironment& environment) {
  if (!environment.wayland || s_waylandLacksLayerShell.load()) return false;
#ifdef APPKIT_HAS_WAYLAND
  foundation::Result<void> answered = WaylandBackend::probe(kProbeLimit);
  if (answered) return true;
  if (answered.error().code == ENOTSUP) s_waylandLacksLayerShell.store(true);
  logNoWaylandOnce(environment, answered.error().message);
#else
  logNoWaylandOnce(environment, "this build has no Wayland backend");
#endif
  return false;
}

// Whether the X server of `display` is alive; says why not once.
bool displayAnswers(const std::string& display) {
#ifdef APPKIT_HAS_X11
  foundation::Result<void> answered = X11DisplayProbe::check(display, kProbeLimit);
  if (answered) return true;
  logNoDisplayOnce(answered.error().message);
#else
  logNoDisplayOnce("this build has no backend for DISPLAY " + display);
#endif
  return false;
}

}  // namespace

std::unique_ptr<WindowBackend> WindowBackendChoice::make() {
  const StartEnvironment& environment = startEnvironment();
  if (environment.offScreen) return std::make_unique<HeadlessBackend>();
#ifdef APPKIT_HAS_WAYLAND
  if (environment.wayland && !s_waylandLacksLayerShell.load()) {
    auto wayland = WaylandBackend::open(kProbeLimit, reportDisplayLost);
    if (wayland) return std::move(wayland).value();
    if (wayland.error().code == ENOTSUP) s_waylandLacksLayerShell.store(true);
    logNoWaylandOnce(environment, wayland.error().message);
  }
#else
  if (environment.wayland) logNoWaylandOnce(environment, "this build has no Wayland backend");
#endif
  if (!environment.display) {
    logNoDisplayOnce("DISPLAY is not set");
    return std::make_unique<NoDisplayBackend>();
  }
  const std::string& display = *environment.display;
  if (!displayAnswers(display)) return std::make_unique<NoDisplayBackend>();
#ifdef APPKIT_HAS_X11
  auto x11 = X11Backend::open(display.c_str(), reportDisplayLost);
  if (x11) {
    X11ConnectionLoss::handleWith(reportDisplayLost);
    return x11;
  }
  logNoDisplayOnce("the X display " + display + " does not open");
#endif
  return std::make_unique<NoDisplayBackend>();
}

void WindowBackendChoice::setOnDisplayLost(std::function<void()> handler) {
  s_onDisplayLost = std::move(handler);
}

bool WindowBackendChoice::windowsCanShowNow() {
  if (s_sharedShows.load()) return true;
  const StartEnvironment& environment = startEnvironment();
  if (environment.offScreen) return true;
  if (waylandAnswers(environment)) {
    s_displayAnswered.store(true);
    return true;
  }
  if (!environment.display) {
    logNoDisplayOnce("DISPLAY is not set");
    return false;
  }
  if (!displayAnswers(*environment.display)) return false;
  s_displayAnswered.store(true);
  return true;
}

void WindowBackendChoice::noteShared(const WindowBackend* backend) {
  s_sharedShows.store(backend && backend->showsWindows());
}

bool WindowBackendChoice::takeDisplayAnswered() { return s_displayAnswered.exchange(false); }

}  // namespace appkit
