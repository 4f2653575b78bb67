#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "appkit/ApplicationDelegate.h"
#include "appkit/AttributedString.h"
#include "appkit/ClassDescription.h"
#include "appkit/Color.h"
#include "appkit/Object.h"
#include "foundation/Lifetime.h"
#include "foundation/Mutex.h"

namespace appkit {
class Application;
class TextField;
class Window;
}  // namespace appkit
namespace dispatch {
class TimerSource;
}

// The application's delegate, created by the main window layout: chooses the agent's mode from
// the command line at launch and owns what the check loop and the pop-up share.
//
// Threads: everything runs on the main thread except installService's work (a global-queue
// worker) and the check loop's ticks. `windowShow` is atomic and `deviceType` is guarded by its
// own mutex, since ticks read and write them from the timer's queue; the other members belong to
// the main thread.
class AppDelegate : public appkit::Object, public appkit::ApplicationDelegate {
 public:
  // The agent's launchd job label, also the name of the job template among the bundle's resources.
  static constexpr const char* kAgentLabel = "com.kelvanoria.Mendkit.agent";

  AppDelegate();
  ~AppDelegate() override;

  void applicationDidFinishLaunching() override;
  void applicationWillTerminate() override;
  bool applicationShouldTerminateAfterLastWindowClosed() override;

  // Installer mode's background work: removes an earlier job, installs the job from the bundle's
  // template, then terminates the application on the main thread. Returns at once.
  void installService();

  // The check loop (AppDelegate+CheckLoop.cpp).
  // Run mode: starts the periodic check on the global queue, first at once, then every 10 s.
  // Main thread, once. The timer is cancelled by termination and by the delegate's destruction,
  // which waits for a running tick, so a tick never outlives the delegate.
  void startTaskRunloop();
  // YES when a device is attached and it is in its error state; whetherBlueScreen is asked only
  // with a device. The timer's queue.
  bool deviceIsErrorNow() const;
  // One check tick: may request a pop-up or, when its job is gone and no pop-up is up or was just
  // requested, queue the agent's shutdown on the main thread.
  // The timer's queue; ticks never overlap.
  void checkTick();

  // What a check tick asks of the system; each is the named operation of Rules,
  // MendkitAgentManager or MKDeviceManager unless a test replaces it. Called on the tick's queue.
  struct CheckProbes {
    std::function<bool(std::optional<std::string>*)> rulesForiTunesRepairError;
    std::function<const void*()> deviceHandle;
    std::function<bool()> whetherBlueScreen;
    std::function<std::optional<std::string>()> mendkitIsRemoved;
    std::function<bool()> mendkitIsRunning;
    std::function<bool()> iTunesRepairNow;
    std::function<bool(const std::string&)> launchAgentIsInstall;
  };
  static CheckProbes systemProbes();
  // For tests, before the loop starts.
  void setCheckProbes(CheckProbes probes) { _probes = std::move(probes); }
  // The check loop's timer while it runs, else null. Main thread.
  const std::shared_ptr<dispatch::TimerSource>& checkTimer() const { return _timer; }

  // The pop-up window (AppDelegate+PopupWindow.cpp). Main thread.
  // Shows the pop-up of `style` (0 restore failure, 1 device error): text, slide-in, event.
  void needPopDialog(std::int64_t style);
  // show: places the window off the right edge and slides it in; otherwise slides it out while
  // fading, then stores the closing date (also when the application ends first) and orders it
  // out.
  void animationPopWindow(bool show);
  // The window's actions: accept opens Mendkit; dismiss hides; the check box stores its choice.
  void onOkBtn(appkit::Object* sender);
  void onCancelBtn(appkit::Object* sender);
  void onClickNeverPopCheckBox(appkit::Object* sender);
  // The shell command with which accept opens Mendkit at `path`: "/usr/bin/open "path" --args
  // 10216 ", the path one shell word whatever it holds (empty when there is none).
  static std::string openMendkitCommand(const std::optional<std::string>& path);

  // The pop-up's text (AppDelegate+PopupText.cpp). Main thread.
  // Chooses the language, publishes its message table to the user defaults and writes the
  // message of `style` into the text field.
  void updateWindowString(std::int64_t style);
  // The language Mendkit's configuration names, if the bundle has it ("en" if not); nullopt when
  // the configuration names none.
  std::optional<std::string> mendkitConfigLanguageCode() const;
  // The first bundle localization found inside the user's first preferred language, else "en".
  std::string analysizeLanguageCode() const;
  // A copy of `text` whose first occurrence of `phrase` is in `color` and the 14-point system
  // font; unchanged when the phrase is missing or does not occur.
  static appkit::AttributedString attributeString(const appkit::AttributedString& text,
                                                  const std::optional<std::string>& phrase,
                                                  const appkit::Color& color);

  std::optional<std::string> deviceType() const;
  void setDeviceType(std::optional<std::string> deviceType);

  // The site number an argument element stands for, or nullopt when it holds no "SITE:": every
  // "SITE:" removed, the rest read as a decimal integer (leading blanks, a sign, digits; anything
  // else ends it; no digits is 0), and 0 replaced by 101.
  static std::optional<std::int64_t> siteNumberOfArgument(std::string_view element);

  // The application that launched the delegate: the shared one unless a test sets another.
  void setApplication(appkit::Application* application) { _application = application; }

  // The state of the never-show-again check box, bound to it both ways: setting it announces the
  // change (didChangeValueForKey("neverPopFlag")), so the box follows. Main thread.
  bool neverPopFlag() const { return _neverPopFlag; }
  void setNeverPopFlag(bool flag);

  // The layout class "AppDelegate": outlets window and _textFieldContent, the three actions, and
  // the attribute neverPopFlag.
  static appkit::ClassDescription layoutDescription();

  appkit::Window* window = nullptr;  // outlet: the pop-up window
  std::atomic<bool> windowShow{false};
  std::int64_t windowPopStyle = 0;

 private:
  void releaseTimerAndDeviceType();

  std::shared_ptr<dispatch::TimerSource> _timer;  // main thread only
  CheckProbes _probes = systemProbes();
  appkit::TextField* _textFieldContent = nullptr;  // outlet: the pop-up's message field
  bool _neverPopFlag = false;
  bool _hideRunning = false;  // a hide sequence has yet to store its date; main thread
  mutable foundation::Mutex _deviceTypeMutex;
  std::optional<std::string> _deviceType GUARDED_BY(_deviceTypeMutex);
  appkit::Application* _application;
  // What the window's animations call back later checks it first.
  foundation::Lifetime _lifetime;
};
