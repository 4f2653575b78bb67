#include "dispatch/MainThread.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace dispatch {

// On Linux the initial thread's id is the process id.
bool isMainThread() { return static_cast<pid_t>(syscall(SYS_gettid)) == getpid(); }

}  // namespace dispatch
