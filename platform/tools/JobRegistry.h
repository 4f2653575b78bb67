#pragma once

#include <optional>
#include <string>

#include "JobProcess.h"
#include "foundation/FileDescriptor.h"

namespace launchd {

// A job that a load registered, until unload or remove takes it out. It stays loaded after its
// process has ended, as with launchd.
struct LoadedJob {
  std::string label;
  std::string path;  // the job file it was loaded from, absolute
  JobProcess process;
  int exitTimeOut = 20;
};

// The jobs this user has loaded, one record per label under stateFolder(), and the user's lock
// that serialises launchctl invocations. Use from one thread.
class JobRegistry {
 public:
  JobRegistry() = default;
  ~JobRegistry();  // releases the lock
  JobRegistry(const JobRegistry&) = delete;
  JobRegistry& operator=(const JobRegistry&) = delete;

  // $PLATFORM_ROOT/private/var/run/launchd/<real uid>
  static std::string stateFolder();

  // Creates the folder and waits for the user's lock, held until destruction. The override
  // database is written only under it. False when either fails.
  bool lock();

  // The job loaded under `label`; a record left from an earlier boot is dropped, not answered.
  std::optional<LoadedJob> find(const std::string& label) const;
  // The job loaded from the job file at `path` (absolute).
  std::optional<LoadedJob> findByPath(const std::string& path) const;
  bool add(const LoadedJob& job);
  bool forget(const std::string& label);

 private:
  foundation::FileDescriptor _lockFd;
};

}  // namespace launchd
