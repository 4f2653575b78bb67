// A second process for the user-defaults tests.
//
//   defaults_writer set PATH KEY N      store the integer N under KEY and synchronize
//   defaults_writer get PATH KEY        print KEY's integer, or "absent"
//   defaults_writer count PATH KEY N    store 1, 2, ... N under KEY, synchronizing after each
//   defaults_writer churn PATH KEY      from KEY's stored value + 1 upwards forever: store the
//                                       number (with a padding key, so writes take a while),
//                                       synchronize, then print the number
// Exit status 0 on success, 1 when a synchronize failed, 2 on bad arguments.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "foundation/UserDefaults.h"

using foundation::UserDefaults;

namespace {

void say(const std::string& line) {
  std::string text = line + "\n";
  ssize_t ignored = ::write(STDOUT_FILENO, text.data(), text.size());
  (void)ignored;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  std::string mode = argv[1];
  UserDefaults defaults(argv[2]);
  std::string key = argv[3];

  if (mode == "set" && argc == 5) {
    defaults.setInteger(key, std::strtoll(argv[4], nullptr, 10));
    return defaults.synchronize() ? 0 : 1;
  }
  if (mode == "get") {
    say(defaults.objectForKey(key) ? std::to_string(defaults.integerForKey(key)) : "absent");
    return 0;
  }
  if (mode == "count" && argc == 5) {
    long long count = std::strtoll(argv[4], nullptr, 10);
    for (long long i = 1; i <= count; ++i) {
      defaults.setInteger(key, i);
      if (!defaults.synchronize()) return 1;
    }
    return 0;
  }
  if (mode == "churn") {
    for (std::int64_t i = defaults.integerForKey(key) + 1;; ++i) {
      defaults.setString(key + "Padding", std::string(2000 + i % 7 * 300, 'a' + i % 26));
      defaults.setInteger(key, i);
      if (!defaults.synchronize()) return 1;
      say(std::to_string(i));
    }
  }
  return 2;
}
