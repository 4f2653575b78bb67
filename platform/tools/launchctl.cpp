// launchctl: loads, unloads and removes this user's launchd jobs.
//
//   launchctl load [-w] PATH...     start each job; -w first records it as enabled
//   launchctl unload [-w] PATH...   stop each job; -w records it as disabled (also when not loaded)
//   launchctl remove LABEL          stop the job by label, without waiting for it to end
//   launchctl bootstrap gui/<uid> PATH...
//                                   what a graphical login runs: start every job of each job file
//                                   or folder of job files that is not disabled and whose
//                                   LimitLoadToSessionType allows "Aqua"; jobs limited to other
//                                   session types (Background, LoginWindow, ...) are left out;
//                                   a job loaded earlier whose processes have all ended starts anew
//
// Every loaded job is started at once, RunAtLoad or not: there is nothing else to start it on.
//
// After each load, unload, remove and bootstrap, launchctl brings the login entry in line: one
// XDG autostart entry that runs `bootstrap gui/<uid> ~/Library/LaunchAgents`, present exactly
// while a job file there would be loaded by it (see AutostartEntry.h).
//
// Exit status: 0 done (also for a load of a job already loaded); 1 a job file could not be read,
// a job could not be started, the override database or the login entry could not be written, or a
// bootstrap's domain or folder is wrong; 3 no such job (unload of a job not loaded, remove of an
// unknown label); 64 usage error. With several paths, the first failure's status; a bootstrap
// goes on with the other job files after one fails. A job that was not loaded is told by the
// status alone, also an unload of a job file that is not there: an installer stops a job that may
// never have run, and that is no error to show.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "AutostartEntry.h"
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
      "       launchctl remove <label>\n"
      "       launchctl bootstrap gui/<uid> <path>...\n",
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

// Starts `job`, read from the job file at `path` (named `given` in messages), unless it is
// loaded already. With `againWhenEnded`, a job still loaded whose processes have all ended is
// started anew: a new login starts what an earlier session of this boot left loaded.
int start(JobRegistry& registry, const std::string& given, const std::string& path,
          const JobDescription& job, bool againWhenEnded = false) {
  if (auto loaded = registry.find(job.label); loaded) {
    if (!againWhenEnded || isAlive(loaded->process)) {
      complain(given, "service already loaded");
      return 0;
    }
  }
  foundation::Result<JobProcess> launched = launchJob(launchRequestFor(job, toolsFolder()));
  if (!launched) {
    complain(given, launched.error().message);
    return kFailed;
  }
  if (!registry.add(LoadedJob{job.label, path, *launched, job.exitTimeOut})) {
    // A job we could not record could never be stopped again.
    stopJob(*launched, 0);
    complain(given, "cannot record the loaded job in " + JobRegistry::stateFolder());
    return kFailed;
  }
  return 0;
}

int load(JobRegistry& registry, const std::string& given, bool writeOverride) {
  std::string path = jobFilePath(given);
  foundation::Result<JobDescription> read = readJobFile(path);
  if (!read) {
    complain(given, read.error().message);
    return kFailed;
  }
  const JobDescription& job = *read;
  int status = 0;
  if (writeOverride) {
    if (!recordOverride(job.label, false)) status = kFailed;
  } else if (disabledOverride(job.label).value_or(job.disabled)) {
    complain(given, "service disabled");
    return kFailed;
  }
  int started = start(registry, given, path, job);
  return status ? status : started;
}

int unload(JobRegistry& registry, const std::string& given, bool writeOverride) {
  std::string path = jobFilePath(given);
  foundation::Result<JobDescription> read = readJobFile(path);
  std::optional<LoadedJob> loaded;
  std::string label;
  if (read) {
    label = read->label;
    loaded = registry.find(label);
  } else if ((loaded = registry.findByPath(path))) {
    label = loaded->label;  // the file has gone since it was loaded
  } else {
    // No file and nothing loaded from it: there is nothing to stop, and nothing to say.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 && errno == ENOENT) return kFailed;
    complain(given, read.error().message);
    return kFailed;
  }
  int status = 0;
  if (writeOverride && !recordOverride(label, true)) status = kFailed;
  if (!loaded) return status ? status : kNoSuchJob;
  stopJob(loaded->process, loaded->exitTimeOut);
  if (!registry.forget(label)) {
    complain(given, "cannot forget the job in " + JobRegistry::stateFolder());
    return kFailed;
  }
  return status;
}

int remove(JobRegistry& registry, const std::string& label) {
  auto loaded = registry.find(label);
  if (!loaded) return kNoSuchJob;
  stopJobInBackground(loaded->process, loaded->exitTimeOut);
  if (!registry.forget(label)) {
    complain(label, "cannot forget the job in " + JobRegistry::stateFolder());
    return kFailed;
  }
  return 0;
}

// Brings the login entry in line with the job files, after a command that may have changed them;
// `status` is the command's own.
int withLoginEntry(int status) {
  std::string failure = updateAutostartEntry();
  if (failure.empty()) return status;
  complain("launchctl", failure);
  return status ? status : kFailed;
}

// The user of a "gui/<uid>" domain; nullopt for anything else.
std::optional<uid_t> graphicalDomainUser(const std::string& domain) {
  constexpr std::string_view kPrefix = "gui/";
  if (!domain.starts_with(kPrefix) || domain.size() == kPrefix.size()) return std::nullopt;
  unsigned long long uid = 0;
  for (char c : domain.substr(kPrefix.size())) {
    if (c < '0' || c > '9') return std::nullopt;
    uid = uid * 10 + static_cast<unsigned>(c - '0');
    if (uid > static_cast<uid_t>(-1)) return std::nullopt;
  }
  return static_cast<uid_t>(uid);
}

// bootstrap gui/<uid> PATH...: a job file that can't be read or started is reported and the
// others still load; disabled jobs and jobs for other session types are passed over in silence.
int bootstrap(JobRegistry& registry, const std::vector<std::string>& arguments) {
  if (arguments.size() < 2) return usage();
  const std::string& domain = arguments.front();
  if (graphicalDomainUser(domain) != ::getuid()) {
    std::fprintf(stderr,
                 "launchctl bootstrap: cannot bootstrap domain \"%s\": this user's graphical "
                 "session is gui/%u\n",
                 domain.c_str(), static_cast<unsigned>(::getuid()));
    return kFailed;
  }
  if (!registry.lock()) {
    complain("launchctl", "cannot lock " + JobRegistry::stateFolder());
    return kFailed;
  }
  int status = 0;
  auto note = [&status](int one) {
    if (status == 0) status = one;
  };
  for (auto given = arguments.begin() + 1; given != arguments.end(); ++given) {
    std::string path = jobFilePath(*given);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
      complain(*given, std::strerror(errno));
      note(kFailed);
      continue;
    }
    bool folder = S_ISDIR(info.st_mode);
    auto files = folder ? jobFilesIn(path) : std::vector<std::string>{path};
    if (!files) {
      complain(*given, "cannot read the folder");
      note(kFailed);
      continue;
    }
    for (const std::string& file : *files) {
      const std::string& name = folder ? file : *given;
      foundation::Result<JobDescription> read = readJobFile(file);
      if (!read) {
        complain(name, read.error().message);
        note(kFailed);
      } else if (loadsAtGraphicalLogin(*read)) {
        note(start(registry, name, file, *read, true));
      }
    }
  }
  return withLoginEntry(status);
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
  return withLoginEntry(status);
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
    return withLoginEntry(remove(registry, arguments.front()));
  }
  if (subcommand == "bootstrap") return bootstrap(registry, arguments);
  std::fprintf(stderr, "Unrecognized subcommand: %s\n", subcommand.c_str());
  return usage();
}
