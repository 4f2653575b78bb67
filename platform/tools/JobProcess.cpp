#include "JobProcess.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "foundation/DirectoryStream.h"
#include "foundation/ProcessStart.h"

namespace launchd {
namespace {

using Clock = std::chrono::steady_clock;

// Polls until the group is gone or `seconds` pass; true when gone.
bool waitUntilGone(const JobProcess& job, std::chrono::duration<double> seconds) {
  auto deadline = Clock::now() + seconds;
  while (isAlive(job)) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

bool groupHasLiveMembers(pid_t group) {
  foundation::DirectoryStream proc("/proc");
  while (const dirent* entry = proc.next()) {
    char* end = nullptr;
    long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    auto status = processStatus(static_cast<pid_t>(pid));
    if (status && status->processGroup == group && status->state != 'Z' && status->state != 'X') {
      return true;
    }
  }
  return false;
}

}  // namespace

std::optional<ProcessStatus> processStatus(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!file || !std::getline(file, line)) return std::nullopt;
  // The command name, in parentheses, may itself hold ") ": fields follow the last one.
  size_t close = line.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(line.substr(close + 1));
  std::vector<std::string> values;
  for (std::string value; fields >> value && values.size() < 20;) values.push_back(value);
  if (values.size() < 20 || values[0].size() != 1) return std::nullopt;
  ProcessStatus status;
  status.state = values[0][0];
  status.processGroup = static_cast<pid_t>(std::strtol(values[2].c_str(), nullptr, 10));
  status.session = static_cast<pid_t>(std::strtol(values[3].c_str(), nullptr, 10));
  status.startTime = std::strtoull(values[19].c_str(), nullptr, 10);
  return status;
}

std::string currentBootId() {
  std::ifstream file("/proc/sys/kernel/random/boot_id");
  std::string id;
  std::getline(file, id);
  return id;
}

std::optional<JobProcess> identifyProcess(pid_t pid) {
  auto status = processStatus(pid);
  if (!status) return std::nullopt;
  return JobProcess{pid, status->startTime, currentBootId()};
}

bool isAlive(const JobProcess& job) {
  if (job.pid <= 0 || job.bootId != currentBootId()) return false;
  auto leader = processStatus(job.pid);
  // A pid is reused only once no process group or session holds it any more.
  if (leader && leader->startTime != job.startTime) return false;
  return groupHasLiveMembers(job.pid);
}

void signalJob(const JobProcess& job, int signal) {
  if (isAlive(job)) ::kill(-job.pid, signal);
}

void stopJob(const JobProcess& job, int graceSeconds) {
  signalJob(job, SIGTERM);
  signalJob(job, SIGCONT);  // a stopped process acts on SIGTERM only once continued
  if (waitUntilGone(job, std::chrono::seconds(graceSeconds))) return;
  signalJob(job, SIGKILL);
  waitUntilGone(job, std::chrono::seconds(5));
}

void stopJobInBackground(const JobProcess& job, int graceSeconds) {
  signalJob(job, SIGTERM);
  signalJob(job, SIGCONT);
  if (!isAlive(job)) return;
  // The watchdog holds nothing of the caller's: not its lock, not its output pipes. The caller
  // goes on at once; a failed fork leaves SIGTERM alone to act.
  foundation::ProcessOptions options;
  options.streams = {foundation::ProcessOptions::kNullDevice,
                     foundation::ProcessOptions::kNullDevice,
                     foundation::ProcessOptions::kNullDevice};
  options.newSession = true;
  options.closeOtherDescriptors = true;
  (void)foundation::forkProcess(options, [&] {
    if (!waitUntilGone(job, std::chrono::seconds(graceSeconds))) signalJob(job, SIGKILL);
  });
}

}  // namespace launchd
