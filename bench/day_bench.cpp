// A simulated day of run mode: the check loop of the bundle's own layout, 8640 ticks on a manual
// clock moved 10 s a tick, off-screen, in a temporary home and platform root where Mendkit is
// installed, not running, and a device sits in recovery mode. The day's pop-up gate is opened
// again after every pop-up (its closing date set back a day), so that every tick shows the
// device-error pop-up; each is answered by a click on its buttons, accept and dismiss in turn,
// and slides out. Prints resident memory, open descriptors and threads after the first pop-up,
// at mid-day and at the end, and the wall time a tick took. Exits non-zero when memory grew by
// more than 1 MB, a descriptor or thread was left behind, or a tick did not show its pop-up.

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "AppDelegate.h"
#include "BenchSupport.h"
#include "Mendkit/MKDeviceManager.h"
#include "ProductLogManager.h"
#include "ServiceConfig.h"
#include "appkit/Button.h"
#include "appkit/Layout.h"
#include "appkit/RunLoop.h"
#include "appkit/Window.h"
#include "appkit/headless/HeadlessBackend.h"
#include "dispatch/TimerSource.h"
#include "foundation/Bundle.h"
#include "foundation/Clock.h"
#include "foundation/Date.h"

namespace {

constexpr int kDayTicks = 8640;
constexpr double kTickSeconds = 10;
constexpr double kFrame = 0.25;  // coarse frames: the slides run the same code, in fewer steps
constexpr double kSlideSeconds = 1.0;  // the 0.8 s slide and a little more
constexpr long kGrowthLimitKiB = 1000;

struct Usage {
  long rssKiB = 0;
  int descriptors = 0;
  int threads = 0;
};

double wallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long statusField(const char* name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string key = std::string(name) + ":";
  while (std::getline(status, line)) {
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + key.size());
  }
  return -1;
}

int entriesOf(const char* folder) {
  int count = 0;
  std::error_code error;
  for (auto it = std::filesystem::directory_iterator(folder, error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    ++count;
  }
  return count;
}

// Waits for the statistics sends queued so far.
void waitForSends() {
  ProductLogManager::setLibrariesForTesting(ProductLogManager::setLibrariesForTesting({}));
}

Usage usage() {
  waitForSends();
  // The directory iterator's own descriptor is counted; it is the same at every sample.
  return Usage{statusField("VmRSS"), entriesOf("/proc/self/fd"), entriesOf("/proc/self/task")};
}

bool writeFile(const std::string& path, const std::string& content, mode_t mode = 0644) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
  std::ofstream(path) << content;
  return !error && ::chmod(path.c_str(), mode) == 0;
}

class Day {
 public:
  Day(appkit::HeadlessBackend& backend, foundation::ManualClock& clock)
      : _backend(backend), _clock(clock) {}

  bool load() {
    appkit::LayoutResult loaded = appkit::Layout::load(std::string(MENDKIT_AGENT_BUNDLE) +
                                                       "/Contents/Resources/MainMenu.layout");
    if (!loaded) {
      std::fprintf(stderr, "%s\n", loaded.error().message.c_str());
      return false;
    }
    _layout = std::move(loaded).value();
    _delegate = dynamic_cast<AppDelegate*>(_layout->applicationDelegate());
    _accept = dynamic_cast<appkit::Button*>(_layout->objectWithId("accept"));
    _dismiss = dynamic_cast<appkit::Button*>(_layout->objectWithId("dismiss"));
    return _delegate && _delegate->window && _accept && _dismiss;
  }

  // Run mode's start: the device listener, then the loop, whose first tick is at once.
  void start() {
    MKDeviceManager::shared()->startIOSConnectListener();
    _delegate->startTaskRunloop();
    settle();
  }

  // The pop-up the last tick requested: shown, answered with a click, slid out; then the next
  // tick. False when no pop-up came up.
  bool answerAndTick(bool accept) {
    if (!_delegate->window->isVisible() || !_delegate->windowShow.load()) return false;
    animate();
    click(accept ? *_accept : *_dismiss);
    animate();
    if (_delegate->windowShow.load() || _delegate->window->isVisible()) return false;
    // The closing date just stored is set back a day, so that the next tick may offer again.
    ServiceConfig::setPopDialogTime(_clock.now().addingTimeInterval(-86400));
    // The next tick's deadline is 10 s after the last one; the slides used some of that.
    _clock.advance(kTickSeconds - 2 * kSlideSeconds);
    settle();
    return true;
  }

  void stop() {
    _delegate->applicationWillTerminate();
    drain();
  }

 private:
  // Waits for the tick that has come due, then runs what it posted to the main thread.
  void settle() {
    _delegate->checkTimer()->waitUntilQuietForTesting();
    drain();
  }
  static void drain() {
    while (appkit::RunLoop::main().runOnce()) {
    }
  }
  void animate() {
    for (double t = 0; t < kSlideSeconds; t += kFrame) {
      _clock.advance(kFrame);
      appkit::RunLoop::main().runOnce();
    }
    drain();
  }
  void click(appkit::Button& button) {
    auto& window = dynamic_cast<appkit::HeadlessWindow&>(*_delegate->window->backendWindow());
    appkit::Rect frame = button.frame();
    appkit::Point at{frame.origin.x + frame.size.width / 2, frame.origin.y + frame.size.height / 2};
    _backend.sendMouse(window, appkit::EventType::LeftMouseDown, at, 1);
    _backend.sendMouse(window, appkit::EventType::LeftMouseUp, at, 1);
    drain();
  }

  appkit::HeadlessBackend& _backend;
  foundation::ManualClock& _clock;
  std::unique_ptr<appkit::Layout> _layout;
  AppDelegate* _delegate = nullptr;
  appkit::Button* _accept = nullptr;
  appkit::Button* _dismiss = nullptr;
};

void print(const char* when, const Usage& u) {
  std::printf("  %-22s %10.2f MB %8d fds %6d threads\n", when, u.rssKiB / 1024.0, u.descriptors,
              u.threads);
}

}  // namespace

int main(int argc, char** argv) {
  // A shorter run for a quick look: the number of ticks as the argument.
  const int kTicks = argc > 1 ? std::max(3, std::atoi(argv[1])) : kDayTicks;
  bench::TempFolder temp("day-bench");
  const std::string home = temp.path() + "/home";
  const std::string root = temp.path() + "/root";
  std::error_code error;
  std::filesystem::create_directories(root + "/Applications/Mendkit.app", error);
  const bool ready =
      !temp.path().empty() && !error &&
      writeFile(home + "/Library/LaunchAgents/com.kelvanoria.Mendkit.agent.plist", "job") &&
      writeFile(root + "/sys/bus/usb/devices/1-1/idVendor", "05ac\n") &&
      writeFile(root + "/sys/bus/usb/devices/1-1/idProduct", "1281\n") &&
      writeFile(root + "/usr/bin/open", "#!/bin/sh\nexit 0\n", 0755);
  if (!ready) {
    std::fprintf(stderr, "cannot make the temporary home and root\n");
    return 2;
  }
  setenv("HOME", home.c_str(), 1);
  setenv("PLATFORM_ROOT", root.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);

  foundation::ManualClock clock;
  foundation::ScopedClock useClock(clock);
  foundation::Bundle::setMainForTesting(foundation::Bundle::atPath(MENDKIT_AGENT_BUNDLE));
  auto owned = std::make_unique<appkit::HeadlessBackend>();
  appkit::HeadlessBackend& backend = *owned;
  appkit::WindowBackend::setSharedForTesting(std::move(owned));
  // The statistics library's first send waits for it on the clock: over before the day starts.
  KVLogManager->syncSendLog(0);

  bool ok = true;
  int shown = 0;
  Usage first, middle, end;
  double wallStart = 0;
  {
    Day day(backend, clock);
    if (!day.load()) return 2;
    day.start();
    for (int tick = 0; tick < kTicks; ++tick) {
      if (!day.answerAndTick(tick % 2 == 0)) {
        std::fprintf(stderr, "tick %d showed no pop-up\n", tick);
        ok = false;
        break;
      }
      ++shown;
      if (tick == 0) {
        first = usage();
        wallStart = wallSeconds();
      }
      if (tick == kTicks / 2) middle = usage();
    }
    const double wall = wallSeconds() - wallStart;
    end = usage();
    day.stop();
    std::printf("A simulated day of run mode: %d ticks, %d pop-ups answered (accept/dismiss)\n",
                kTicks, shown);
    std::printf("  %.3f ms of wall time a tick with its pop-up\n", wall * 1e3 / (kTicks - 1));
  }
  const Usage after = usage();
  print("after the first pop-up", first);
  print("at mid-day", middle);
  print("at the end", end);
  print("loop stopped", after);
  const long growth = end.rssKiB - first.rssKiB;
  std::printf("  memory growth %.2f MB (limit %.2f MB), descriptors %+d, threads %+d\n",
              growth / 1024.0, kGrowthLimitKiB / 1024.0, end.descriptors - first.descriptors,
              after.threads - first.threads);
  ok = ok && growth <= kGrowthLimitKiB && end.descriptors <= first.descriptors &&
       after.descriptors <= first.descriptors && after.threads <= first.threads;

  foundation::Bundle::setMainForTesting(std::nullopt);
  appkit::WindowBackend::setSharedForTesting(nullptr);
  return ok ? 0 : 1;
}
