#include "appkit/TerminationSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "appkit/RunLoop.h"
#include "foundation/Log.h"

namespace appkit {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

int s_writeEnd = -1;
volatile sig_atomic_t s_received = 0;

void onSignal(int number) {
  if (s_received) {
    signal(number, SIG_DFL);
    raise(number);
    return;
  }
  s_received = 1;
  int saved = errno;
  unsigned char byte = static_cast<unsigned char>(number);
  ssize_t ignored = write(s_writeEnd, &byte, 1);
  (void)ignored;
  errno = saved;
}

}  // namespace

bool TerminationSignals::install(RunLoop& runLoop, std::function<void(int)> onSignalCall) {
  static std::atomic<bool> s_installed{false};
  if (s_installed.exchange(true)) return false;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
    foundation::NSLog("appkit: no pipe for the termination signals: %s", strerror(errno));
    return false;
  }
  // Both ends stay open for the life of the process.
  s_writeEnd = ends[1];
  int readEnd = ends[0];
  runLoop.addDescriptor(readEnd, [readEnd, call = std::move(onSignalCall)] {
    unsigned char byte = 0;
    while (read(readEnd, &byte, 1) == 1) call(byte);
  });
  struct sigaction action {};
  action.sa_handler = onSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int number : kSignals) sigaction(number, &action, nullptr);
  return true;
}

}  // namespace appkit
