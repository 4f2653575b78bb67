#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "JobProcess.h"
#include "foundation/Result.h"

namespace launchd {

struct JobDescription;

// What to start, with every path already mapped.
struct LaunchRequest {
  std::string executable;              // searched on PATH when it holds no '/'
  std::vector<std::string> arguments;  // argv, arguments[0] included
  std::optional<std::string> standardOutPath, standardErrorPath, workingDirectory;
  std::map<std::string, std::string> environment;  // added to (or replacing in) ours
};

// The request for `job`. Its program is resolved as foundation::resolvedToolPath resolves it with
// `toolsFolder` (a bare name is left for a PATH search).
LaunchRequest launchRequestFor(const JobDescription& job, std::string_view toolsFolder);

// Starts the request as launchd starts a job, detached from the caller: a new session, standard
// input from /dev/null, standard output and error appended to the given files (created 0644) or
// /dev/null, no other descriptor inherited, default signal dispositions and an empty signal mask.
// The files are opened here without blocking (a FIFO no process reads is refused, and nothing is
// started), and the child holds none of the caller's descriptors, its locks included, from the
// start. Answers once the program has been executed, or why it could not be; a child that has not
// executed it within 10 seconds is killed and reported.
foundation::Result<JobProcess> launchJob(const LaunchRequest& request);

}  // namespace launchd
