// Runs ToolKiFunction::isAdministrator against user and group databases of the test's making:
//   admin_check <group file> <passwd file> [<user id>]
// In a private mount namespace the files are bound over /etc/group and /etc/passwd, so nothing
// outside this process sees them; with a user id the check runs as that user. Exits 0 for YES,
// 1 for NO, 77 when the private databases can't be set up.

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "ToolKiFunction.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  if (unshare(CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount(argv[1], "/etc/group", nullptr, MS_BIND, nullptr) != 0 ||
      mount(argv[2], "/etc/passwd", nullptr, MS_BIND, nullptr) != 0) {
    std::perror("admin_check: private databases");
    return 77;
  }
  if (argc > 3) {
    uid_t uid = static_cast<uid_t>(std::strtoul(argv[3], nullptr, 10));
    if (setresuid(uid, uid, uid) != 0) {
      std::perror("admin_check: user id");
      return 77;
    }
  }
  return ToolKiFunction::isAdministrator() ? 0 : 1;
}
