// launchctl: loads, unloads and removes this user's launchd jobs.
//
//   launchctl load [-w] PATH...     start each job; -w first records it as enabled
//   launchctl unload [-w] PATH...   stop each job; -w records it as disabled (also when not loaded)
//   launchctl remove LABEL          stop the job by label, without waiting for it to end
//
// Exit status: 0 done (also for a load of a job already loaded); 1 a job file could not be read,
// a job could not be started or the override database could not be written; 3 no such job
// (unload of a job not loaded, remove of an unknown label); 64 usage error. With several paths,
// the first failure's status.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "JobFile.h"
#include "JobLauncher.h"
#include "JobRegistry.h"
#include "OverrideDatabase.h"
#include "foundation/Paths.h"
#include "foundation/ProcessInfo.h"

namespace {

using namespace launchd;

constexpr int kFailed = 1;
constexpr int kNoSuchJob = 3;
constexpr int kUsage = 64;

int usage() {
  std::fputs(
      "usage: launchctl load [-w] <path>...\n"
      "       launchctl unload [-w] <path>...\n"
      "       launchctl remove <label>\n",
      stderr);
  return kUsage;
}

void complain(const std::string& subject, const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", subject.c_str(), message.c_str());
}

// The job file path as given, mapped and made absolute.
std::string jobFilePath(const std::string& given) {
  std::filesystem::path path(foundation::platformPath(given));
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return (error ? path : absolute).lexically_normal().string();
}

std::string toolsFolder() {
  return foundation::deletingLastPathComponent(foundation::ProcessInfo::executablePath());
}

bool recordOverride(const std::string& label, bool disabled) {
  if (setDisabledOverride(label, disabled)) return true;
  complain("launchctl", "cannot write the override database " + overrideDatabasePath());
  return false;
}

int load(JobRegistry& registry, const std::string& given, bool writeOverride) {
  std::string path = jobFilePath(given);
  JobFileResult read = readJobFile(path);
  if (!read.job) {
    complain(given, read.error);
    return kFailed;
  }
  const JobDescription& job = *read.job;
  int status = 0;
  if (writeOverride) {
    if (!recordOverride(job.label, false)) status = kFailed;
  } else if (disabledOverride(job.label).value_or(job.disabled)) {
    complain(given, "service disabled");
    return kFailed;
  }
  if (registry.find(job.label)) {
    complain(given, "service already loaded");
    return status;
  }
  LaunchResult launched = launchJob(launchRequestFor(job, toolsFolder()));
  if (!launched.process) {
    complain(given, launched.failure);
    return kFailed;
  }
  if (!registry.add(LoadedJob{job.label, path, *launched.process, job.exitTimeOut})) {
    // A job we could not record could never be stopped again.
    stopJob(*launched.process, 0);
    complain(given, "cannot record the loaded job in " + JobRegistry::stateFolder());
    return kFailed;
  }
  return status;
}

int unload(JobRegistry& registry, const std::string& given, bool writeOverride) {
  std::string path = jobFilePath(given);
  JobFileResult read = readJobFile(path);
  std::optional<LoadedJob> loaded;
  std::string label;
  if (read.job) {
    label = read.job->label;
    loaded = registry.find(label);
  } else if ((loaded = registry.findByPath(path))) {
    label = loaded->label;  // the file has gone since it was loaded
  } else {
    complain(given, read.error);
    return kFailed;
  }
  int status = 0;
  if (writeOverride && !recordOverride(label, true)) status = kFailed;
  if (!loaded) {
    complain(given, "Could not find specified service");
    return status ? status : kNoSuchJob;
  }
  stopJob(loaded->process, loaded->exitTimeOut);
  if (!registry.forget(label)) {
    complain(given, "cannot forget the job in " + JobRegistry::stateFolder());
    return kFailed;
  }
  return status;
}

int remove(JobRegistry& registry, const std::string& label) {
  auto loaded = registry.find(label);
  if (!loaded) {
    std::fprintf(stderr, "Could not find service \"%s\"\n", label.c_str());
    return kNoSuchJob;
  }
  stopJobInBackground(loaded->process, loaded->exitTimeOut);
  if (!registry.forget(label)) {
    complain(label, "cannot forget the job in " + JobRegistry::stateFolder());
    return kFailed;
  }
  return 0;
}

// load and unload: [-w] PATH...
int forEachPath(JobRegistry& registry, const std::vector<std::string>& arguments, bool isLoad) {
  bool writeOverride = false;
  std::vector<std::string> paths;
  bool optionsDone = false;
  for (const std::string& argument : arguments) {
    if (!optionsDone && argument == "-w") {
      writeOverride = true;
    } else if (!optionsDone && argument == "--") {
      optionsDone = true;
    } else if (!optionsDone && argument.size() > 1 && argument[0] == '-') {
      return usage();
    } else {
      paths.push_back(argument);
    }
  }
  if (paths.empty()) return usage();
  if (!registry.lock()) {
    complain("launchctl", "cannot lock " + JobRegistry::stateFolder());
    return kFailed;
  }
  int status = 0;
  for (const std::string& path : paths) {
    int one = isLoad ? load(registry, path, writeOverride) : unload(registry, path, writeOverride);
    if (status == 0) status = one;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (arguments.empty()) return usage();
  std::string subcommand = arguments.front();
  arguments.erase(arguments.begin());
  JobRegistry registry;
  if (subcommand == "load" || subcommand == "unload") {
    return forEachPath(registry, arguments, subcommand == "load");
  }
  if (subcommand == "remove") {
    if (arguments.size() != 1) return usage();
    if (!registry.lock()) {
      complain("launchctl", "cannot lock " + JobRegistry::stateFolder());
      return kFailed;
    }
    return remove(registry, arguments.front());
  }
  std::fprintf(stderr, "Unrecognized subcommand: %s\n", subcommand.c_str());
  return usage();
}
