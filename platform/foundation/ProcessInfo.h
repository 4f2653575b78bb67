#pragma once

#include <string>
#include <vector>

namespace foundation {

// Facts about the running process. Thread-safe after the application entry has set the arguments.
class ProcessInfo {
 public:
  // The full argument vector, the program's own path first. Set by the application entry;
  // until then read from /proc/self/cmdline.
  static std::vector<std::string> arguments();
  static void setArguments(std::vector<std::string> arguments);
  // The name the process logs under: the executable's file name; failing that, that of the
  // command line's first word; failing that, "unknown".
  static const std::string& processName();
  // The executable's absolute path (/proc/self/exe), or "" when it cannot be read.
  static std::string executablePath();
};

}  // namespace foundation
