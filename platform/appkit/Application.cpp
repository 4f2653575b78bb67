#include "appkit/Application.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "appkit/ApplicationDelegate.h"
#include "appkit/Layout.h"
#include "appkit/RunLoop.h"
#include "appkit/TerminationSignals.h"
#include "appkit/Window.h"
#include "appkit/WindowBackendChoice.h"
#include "appkit/accessibility/Accessibility.h"
#include "dispatch/MainQueue.h"
#include "dispatch/MainThread.h"
#include "foundation/Bundle.h"
#include "foundation/Log.h"
#include "foundation/ProcessInfo.h"

namespace appkit {

Application& Application::shared() {
  // Deliberately leaked: the process exits with the application and its layout alive.
  static Application* s_application = [] {
    auto* application = new Application(RunLoop::main(), [](int status) { std::exit(status); });
    // Without its display the application cannot show anything more: it ends, as when its
    // session ends.
    WindowBackendChoice::setOnDisplayLost([application] {
      foundation::NSLog("appkit: the display is gone; the application ends");
      application->terminate();
    });
    return application;
  }();
  return *s_application;
}

Application::Application(RunLoop& runLoop, ExitFunction exitProcess)
    : _runLoop(runLoop), _exitProcess(std::move(exitProcess)) {}

Application::~Application() = default;

foundation::Result<void> Application::finishLaunching(const std::string& layoutPath) {
  if (_launched) return foundation::Error{"the application has already finished launching"};
  LayoutResult loaded = Layout::load(layoutPath);
  if (!loaded) return loaded.error();
  _launched = true;
  _layout = std::move(loaded).value();
  _delegate = _layout->applicationDelegate();
  for (const auto& object : _layout->objects()) {
    auto* window = dynamic_cast<Window*>(object.get());
    if (window && window->isVisibleAtLaunch()) window->orderFront();
  }
  if (_delegate) _delegate->applicationDidFinishLaunching();
  return {};
}

void Application::run() { _runLoop.run(); }

void Application::terminate() {
  if (_terminating.exchange(true)) return;
  if (dispatch::isMainThread()) {
    terminateOnMainThread();
  } else {
    _runLoop.queue().async([this] { terminateOnMainThread(); });
  }
}

void Application::terminateOnMainThread() {
  if (_delegate) _delegate->applicationWillTerminate();
  _exitProcess(0);
}

void Application::performOnMainThread(std::function<void()> block) {
  _runLoop.queue().async(std::move(block));
}

void Application::lastWindowDidClose() {
  if (_delegate && _delegate->applicationShouldTerminateAfterLastWindowClosed()) terminate();
}

int applicationMain(int argc, char** argv) {
  static std::atomic<bool> s_entered{false};
  if (s_entered.exchange(true)) {
    foundation::NSLog("applicationMain was called a second time");
    return 1;
  }
  foundation::ProcessInfo::setArguments(std::vector<std::string>(argv, argv + argc));

  const foundation::Bundle* bundle = foundation::Bundle::main();
  if (!bundle) {
    foundation::NSLog("The application is not inside a bundle (…/Contents/MacOS/<name>); exiting");
    return 1;
  }
  const foundation::PlistValue* nib = bundle->objectForInfoDictionaryKey("NSMainNibFile");
  if (!nib || !nib->string() || nib->string()->empty()) {
    foundation::NSLog("The bundle's Info.plist names no NSMainNibFile; exiting");
    return 1;
  }
  std::optional<std::string> path = bundle->pathForResource(*nib->string(), "layout");
  if (!path) {
    foundation::NSLog("Unable to find the window layout %s.layout in %s; exiting",
                      nib->string()->c_str(), bundle->resourcePath().c_str());
    return 1;
  }
  Application& application = Application::shared();
  TerminationSignals::install(application.runLoop(), [&application](int number) {
    foundation::NSLog("appkit: %s received; the application ends", strsignal(number));
    application.terminate();
  });
  // Screen readers reach the windows that show (a mode that shows none never connects).
  Accessibility::enable();
  foundation::Result<void> launched = application.finishLaunching(*path);
  if (!launched) {
    foundation::NSLog("Unable to load the window layout: %s; exiting",
                      launched.error().message.c_str());
    return 1;
  }
  application.run();
  return 0;
}

}  // namespace appkit
