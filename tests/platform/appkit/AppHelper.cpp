// Child process for the application-entry tests. Usage: appkit_app_helper <bundle path | ->
// <scenario> The bundle's layout names HelperDelegate, which acts out the scenario.
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <thread>

#include "appkit/Application.h"
#include "appkit/ApplicationDelegate.h"
#include "appkit/ClassBuilder.h"
#include "appkit/ClassRegistrar.h"
#include "appkit/RunLoop.h"
#include "dispatch/GlobalQueue.h"
#include "dispatch/MainThread.h"
#include "dispatch/TimerSource.h"
#include "foundation/Bundle.h"
#include "foundation/ProcessInfo.h"

namespace {

__attribute__((format(printf, 1, 2))) void say(const char* format, ...) {
  va_list values;
  va_start(values, format);
  std::vprintf(format, values);
  va_end(values);
  std::printf("\n");
  std::fflush(stdout);
}

class HelperDelegate : public appkit::Object, public appkit::ApplicationDelegate {
 public:
  void applicationDidFinishLaunching() override {
    auto arguments = foundation::ProcessInfo::arguments();
    std::string scenario = arguments.size() > 2 ? arguments[2] : "";
    say("launched main=%d arguments=%zu scenario=%s", dispatch::isMainThread() ? 1 : 0,
        arguments.size(), scenario.c_str());
    appkit::Application& app = appkit::Application::shared();
    if (scenario == "terminate-main") {
      app.terminate();
      say("terminate returned");
    } else if (scenario == "terminate-background") {
      // The tick asks twice, and another worker once more; one termination must result. A second
      // timer stays armed through the exit.
      _timer = dispatch::TimerSource::create(dispatch::globalQueue());
      _timer->setTimer(dispatch::Time::now(), 1000 * dispatch::kNanosecondsPerSecond, 0);
      _timer->setEventHandler([&app] {
        dispatch::async(dispatch::globalQueue(), [&app] { app.terminate(); });
        app.terminate();
        app.terminate();
      });
      _armed = dispatch::TimerSource::create(dispatch::globalQueue());
      _armed->setTimer(dispatch::Time::now().addingNanoseconds(dispatch::kNanosecondsPerSecond),
                       1000 * dispatch::kNanosecondsPerSecond, 0);
      _armed->setEventHandler([] {});
      _armed->resume();
      _timer->resume();
    } else if (scenario == "stop") {
      app.performOnMainThread([] { appkit::RunLoop::main().stop(); });
    }
  }

  void applicationWillTerminate() override {
    say("willTerminate main=%d", dispatch::isMainThread() ? 1 : 0);
    if (_timer) {
      _timer->cancel();
      _timer.reset();
    }
  }

 private:
  std::shared_ptr<dispatch::TimerSource> _timer;
  std::shared_ptr<dispatch::TimerSource> _armed;
};

const appkit::ClassRegistrar s_registrar(
    appkit::ClassBuilder<HelperDelegate>("HelperDelegate").build());

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  if (std::string(argv[1]) != "-") {
    auto bundle = foundation::Bundle::atPath(argv[1]);
    if (!bundle) {
      say("no bundle at %s", argv[1]);
      return 2;
    }
    foundation::Bundle::setMainForTesting(std::move(bundle));
  }
  int status = appkit::applicationMain(argc, argv);
  say("applicationMain returned %d", status);
  return status;
}
