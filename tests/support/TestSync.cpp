#include "support/TestSync.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "foundation/DirectoryStream.h"
#include "support/Deadline.h"

namespace testing_support {
namespace {

// Whether the thread `task` of this process sleeps; a thread that has ended counts as asleep.
bool sleeps(const std::string& task) {
  std::ifstream file("/proc/self/task/" + task + "/stat");
  std::string line;
  if (!std::getline(file, line)) return true;
  // "<tid> (<name>) <state> ...": the name may hold ") ", the state follows the last one.
  size_t name = line.rfind(')');
  return name != std::string::npos && name + 2 < line.size() && line[name + 2] == 'S';
}

bool otherThreadsSleep() {
  const pid_t self = ::gettid();
  foundation::DirectoryStream tasks("/proc/self/task");
  if (!tasks) return false;
  while (const dirent* entry = tasks.next()) {
    if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == self) continue;
    if (!sleeps(entry->d_name)) return false;
  }
  return true;
}

}  // namespace

bool waitUntilOtherThreadsSleep(double seconds) {
  Deadline deadline(seconds);
  // One look at the threads is no snapshot: a thread seen asleep may be woken by one looked at
  // later, which then went to sleep itself. Two looks in a row that find all asleep close that gap.
  for (int asleep = 0; asleep < 2;) {
    asleep = otherThreadsSleep() ? asleep + 1 : 0;
    if (asleep == 0 && deadline.passed()) return false;
    if (asleep == 0) std::this_thread::yield();
  }
  return true;
}

}  // namespace testing_support
