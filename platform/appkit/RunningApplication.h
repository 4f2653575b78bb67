#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace appkit {

// One running application as the workspace saw it when it listed them: a plain snapshot.
struct RunningApplication {
  pid_t processIdentifier = 0;
  // The file-system path of the process's executable; nullopt when it can't be read.
  std::optional<std::string> executablePath;
};

}  // namespace appkit
