// Child process for the exit tests: arms a timer and starts workers, then exits from main.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dispatch/GlobalQueue.h"
#include "dispatch/TimerSource.h"
#include "support/TestSync.h"

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "";
  testing_support::Counter ticks;
  testing_support::Counter ran;
  // Both leaked on purpose: the process exits with them alive.
  auto* timer = new std::shared_ptr<dispatch::TimerSource>(
      dispatch::TimerSource::create(dispatch::globalQueue()));
  if (std::strcmp(mode, "armed-timer") == 0) {
    (*timer)->setTimer(dispatch::Time::now(), 1000 * dispatch::kNanosecondsPerSecond, 0);
    (*timer)->setEventHandler([&] { ticks.increment(); });
    (*timer)->resume();
    if (!ticks.waitFor(1)) return 3;
  }
  for (int i = 0; i < 8; ++i) dispatch::async(dispatch::globalQueue(), [&] { ran.increment(); });
  if (!ran.waitFor(8)) return 4;
  std::printf("ready %s\n", mode);
  std::exit(0);
}
