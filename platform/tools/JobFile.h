#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Result.h"

namespace launchd {

// What launchctl uses of a job file (a property-list dictionary).
struct JobDescription {
  std::string label;
  std::optional<std::string> program;  // "Program"; without it ProgramArguments[0] is run
  std::vector<std::string> arguments;  // "ProgramArguments", the job's argv
  std::optional<std::string> standardOutPath;
  std::optional<std::string> standardErrorPath;
  std::optional<std::string> workingDirectory;
  std::map<std::string, std::string> environment;  // "EnvironmentVariables"
  bool disabled = false;                           // "Disabled", when the database has no entry
  int exitTimeOut = 20;  // "ExitTimeOut": seconds between SIGTERM and SIGKILL on stop
  // "LimitLoadToSessionType", a string or an array of strings; empty when absent (or empty).
  std::vector<std::string> sessionTypes;

  // True when the job may load in a session of `type` ("Aqua" for a graphical login): a job that
  // names no session type loads in "Aqua" sessions only. Compared without regard to case.
  bool loadsInSessionType(std::string_view type) const;

  // The file to execute, before path mapping; empty when the job names none.
  std::string executable() const;
};

// Reads the job file at `path` (already mapped): the job, or an error whose message is what
// launchctl prints about the file (without the path prefix). A file without a usable Label is an
// error; a missing program is not (unload needs only the label).
foundation::Result<JobDescription> readJobFile(const std::string& path);

// True when `label` can name a job: not empty, no '/', not "." or "..".
bool isValidLabel(const std::string& label);

}  // namespace launchd
