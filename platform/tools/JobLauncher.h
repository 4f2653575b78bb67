#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "JobProcess.h"

namespace launchd {

struct JobDescription;

// The file to run for a program a job names. "/usr/bin/open" is $PLATFORM_ROOT/usr/bin/open when
// that is an executable file, else the `open` in `toolsFolder`; other absolute paths are mapped
// as the platform maps system locations; a bare name is left for a PATH search.
std::string resolveJobProgram(std::string_view program, std::string_view toolsFolder);

// What to start, with every path already mapped.
struct LaunchRequest {
  std::string executable;              // searched on PATH when it holds no '/'
  std::vector<std::string> arguments;  // argv, arguments[0] included
  std::optional<std::string> standardOutPath, standardErrorPath, workingDirectory;
  std::map<std::string, std::string> environment;  // added to (or replacing in) ours
};

// The request for `job`, its program resolved with resolveJobProgram.
LaunchRequest launchRequestFor(const JobDescription& job, std::string_view toolsFolder);

struct LaunchResult {
  std::optional<JobProcess> process;
  std::string failure;  // why nothing runs, when process is empty
};

// Starts the request as launchd starts a job, detached from the caller: a new session, standard
// input from /dev/null, standard output and error appended to the given files (created 0644) or
// /dev/null, no other descriptor inherited, default signal dispositions and an empty signal mask.
// Answers once the program has been executed, or why it could not be.
LaunchResult launchJob(const LaunchRequest& request);

}  // namespace launchd
