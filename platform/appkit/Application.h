#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "foundation/Result.h"

namespace appkit {

class ApplicationDelegate;
class Layout;
class RunLoop;

// The application object: the main window layout, its delegate and the main run loop.
//
// Thread safety: terminate() and performOnMainThread() may be called from any thread; everything
// else belongs to the main thread. The terminating flag is atomic; the layout and the delegate are
// written once, on the main thread, before the run loop starts.
// Lifetime: the shared application is never destroyed, so nothing it owns (the layout's objects,
// the delegate and what it holds, such as timers) is torn down while the process exits.
class Application {
 public:
  using ExitFunction = std::function<void(int status)>;

  // The process's application: serves RunLoop::main() and exits with std::exit().
  static Application& shared();

  // An application serving `runLoop` that ends the process through `exitProcess`; for tests.
  Application(RunLoop& runLoop, ExitFunction exitProcess);
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // Main thread, once. Loads the layout at `layoutPath`, keeps its objects, takes the delegate it
  // designates (it may designate none) and calls the delegate's applicationDidFinishLaunching().
  // An error with the reason when the layout does not load or launching was done before; nothing
  // is called then.
  foundation::Result<void> finishLaunching(const std::string& layoutPath);
  // Runs the run loop until it is stopped. terminate() ends the process without returning.
  void run();

  // Ends the application: on the main thread the delegate's applicationWillTerminate() runs and
  // the process exits with status 0. Called on the main thread, it does so at once and does not
  // return; from another thread it queues that on the main queue and returns. A call made while a
  // termination is in progress does nothing.
  void terminate();
  bool isTerminating() const { return _terminating.load(); }

  // Queues `block` for the main thread; it shares the main dispatch queue's FIFO, so blocks from
  // here and from dispatch::async(mainQueue) run in the order they were queued.
  void performOnMainThread(std::function<void()> block);

  // Main thread: for the window code when the last window has closed. Asks the delegate and
  // terminates if it answers true.
  void lastWindowDidClose();

  ApplicationDelegate* delegate() const { return _delegate; }
  const Layout* layout() const { return _layout.get(); }
  RunLoop& runLoop() const { return _runLoop; }

 private:
  void terminateOnMainThread();

  RunLoop& _runLoop;
  ExitFunction _exitProcess;
  std::unique_ptr<Layout> _layout;
  ApplicationDelegate* _delegate = nullptr;
  bool _launched = false;
  std::atomic<bool> _terminating{false};
};

// The application's entry, called by main() with its arguments: records them as the process's
// arguments, finds the main bundle, reads its Info.plist key NSMainNibFile and loads the layout
// Resources/<NSMainNibFile>.layout, calls the delegate's applicationDidFinishLaunching() and runs
// the main run loop. The process ends through terminate(), also on SIGTERM, SIGHUP and SIGINT
// (from the run loop) and when the display is lost. Returns 1, after logging why, when
// there is no bundle, no NSMainNibFile or no loadable layout, or when called a second time;
// returns 0 if the run loop is stopped.
int applicationMain(int argc, char** argv);

}  // namespace appkit
