#pragma once

namespace appkit {

// What the application tells its delegate. Every call arrives on the main thread.
class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;

  // Once, after the main window layout has loaded and before the run loop starts.
  virtual void applicationDidFinishLaunching() = 0;
  // Once, from terminate(), just before the process exits with status 0.
  virtual void applicationWillTerminate() = 0;
  // When the application's last window has closed; true makes the application terminate.
  virtual bool applicationShouldTerminateAfterLastWindowClosed() { return true; }

 protected:
  ApplicationDelegate() = default;
};

}  // namespace appkit
