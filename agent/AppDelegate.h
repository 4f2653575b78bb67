#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "appkit/ApplicationDelegate.h"
#include "appkit/Object.h"

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
  AppDelegate();
  ~AppDelegate() override;

  void applicationDidFinishLaunching() override;
  void applicationWillTerminate() override;
  bool applicationShouldTerminateAfterLastWindowClosed() override;

  // Installer mode's background work: removes an earlier job, installs the job from the bundle's
  // template, then terminates the application on the main thread. Returns at once.
  void installService();

  // Run mode: starts the periodic check loop. Main thread, once.
  void startTaskRunloop();
  // Main thread: shows the pop-up of `style` (0 restore failure, 1 device error).
  void needPopDialog(std::int64_t style);

  std::optional<std::string> deviceType() const;
  void setDeviceType(std::optional<std::string> deviceType);

  // The site number an argument element stands for, or nullopt when it holds no "SITE:": every
  // "SITE:" removed, the rest read as a decimal integer (leading blanks, a sign, digits; anything
  // else ends it; no digits is 0), and 0 replaced by 101.
  static std::optional<std::int64_t> siteNumberOfArgument(std::string_view element);

  // The application that launched the delegate: the shared one unless a test sets another.
  void setApplication(appkit::Application* application) { _application = application; }

  appkit::Window* window = nullptr;  // outlet: the pop-up window
  std::atomic<bool> windowShow{false};
  bool neverPopFlag = false;
  std::int64_t windowPopStyle = 0;

 private:
  void releaseTimerAndDeviceType();

  std::shared_ptr<dispatch::TimerSource> _timer;
  appkit::TextField* _textFieldContent = nullptr;  // outlet: the pop-up's message field
  mutable std::mutex _deviceTypeMutex;
  std::optional<std::string> _deviceType;
  appkit::Application* _application;
};
