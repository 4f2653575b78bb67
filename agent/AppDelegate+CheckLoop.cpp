#include <optional>
#include <string>

#include "AppDelegate.h"
#include "Mendkit/MKDeviceManager.h"
#include "MendkitAgentManager.h"
#include "Rules.h"
#include "ServiceConfig.h"
#include "appkit/Application.h"
#include "appkit/Window.h"
#include "appkit/WindowBackendChoice.h"
#include "dispatch/GlobalQueue.h"
#include "dispatch/Time.h"
#include "dispatch/TimerSource.h"
#include "foundation/Date.h"
#include "foundation/Log.h"

namespace {

constexpr std::int64_t kTickIntervalNanoseconds = 10 * dispatch::kNanosecondsPerSecond;

// A pop-up may be requested in this tick: the idle main thread sets up the fonts and the display's
// drawing while the tick's probes run, so that the pop-up's first frame does not wait for them.
// Days without one keep that memory.
void prepareForAPopUp() { appkit::Window::prepareSoon(); }

}  // namespace

AppDelegate::CheckProbes AppDelegate::systemProbes() {
  return {
      // The log folders and what is remembered of judged logs are asked first: most ticks end
      // there, before the rule's probes of the process list and the restore work folders.
      .rulesForiTunesRepairError =
          [](std::optional<std::string>* word) {
            if (!Rules::logsMayShowRepairError()) return false;
            prepareForAPopUp();
            return Rules::rulesForiTunesRepairError(word);
          },
      .deviceHandle = [] { return MKDeviceManager::shared()->deviceHandle(); },
      .whetherBlueScreen =
          [] {
            const bool error = MKDeviceManager::shared()->whetherBlueScreen();
            if (error) prepareForAPopUp();
            return error;
          },
      .mendkitIsRemoved = Rules::mendkitIsRemoved,
      .mendkitIsRunning = Rules::mendkitIsRunning,
      .iTunesRepairNow = Rules::iTunesRepairNow,
      .launchAgentIsInstall = MendkitAgentManager::launchAgentIsInstall,
  };
}

void AppDelegate::startTaskRunloop() {
  _timer = dispatch::TimerSource::create(dispatch::globalQueue());
  _timer->setTimer(dispatch::Time::now(), kTickIntervalNanoseconds, 0);
  // The delegate outlives every tick: it lives as long as the layout, and whatever ends it first
  // cancels the timer, which waits for a running tick.
  _timer->setEventHandler([this] { checkTick(); });
  _timer->resume();
}

bool AppDelegate::deviceIsErrorNow() const {
  if (!_probes.deviceHandle()) return false;
  return _probes.whetherBlueScreen();
}

void AppDelegate::checkTick() {
  bool requested = false;
  // A pop-up, when none is up, the offer is wanted and it was not closed or installed today, and
  // only while a window can show: the rules use up what they find (the reported log's digest).
  if (!windowShow.load() && !ServiceConfig::isNeverPopDialog() &&
      !ServiceConfig::isSameDate(ServiceConfig::getPopDialogTime(), foundation::Date::now()) &&
      appkit::WindowBackendChoice::windowsCanShowNow()) {
    std::optional<std::string> word;
    if (_probes.rulesForiTunesRepairError(&word)) {
      // Stored before the request, which makes the main thread read it.
      setDeviceType(word);
      _application->performOnMainThread([this] { needPopDialog(0); });
      requested = true;
    } else if (deviceIsErrorNow() && _probes.mendkitIsRemoved() && !_probes.mendkitIsRunning() &&
               !_probes.iTunesRepairNow()) {
      _application->performOnMainThread([this] { needPopDialog(1); });
      requested = true;
    }
  }

  // The agent ends itself once its job is uninstalled, but never under a pop-up, nor under one
  // requested just now that the main thread has yet to show: ending then would take the pop-up
  // and its statistics event away at once.
  if (requested || windowShow.load()) return;
  if (_probes.launchAgentIsInstall(kAgentLabel)) return;
  _application->performOnMainThread([this] {
    foundation::NSLog("Service will be close!");
    if (_timer) {
      _timer->cancel();
      _timer.reset();
    }
    _application->terminate();
  });
}
