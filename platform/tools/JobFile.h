#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

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

  // The file to execute, before path mapping; empty when the job names none.
  std::string executable() const;
};

// Either a job or the message launchctl prints about the file (without the path prefix).
struct JobFileResult {
  std::optional<JobDescription> job;
  std::string error;
};

// Reads the job file at `path` (already mapped). A file without a usable Label is an error; a
// missing program is not (unload needs only the label).
JobFileResult readJobFile(const std::string& path);

// True when `label` can name a job: not empty, no '/', not "." or "..".
bool isValidLabel(const std::string& label);

}  // namespace launchd
