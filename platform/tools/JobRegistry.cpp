#include "JobRegistry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <utility>

#include "JobFile.h"
#include "foundation/Paths.h"
#include "foundation/PropertyList.h"

namespace launchd {
namespace {

using foundation::PlistDictionary;
using foundation::PlistValue;

constexpr std::string_view kRecordSuffix = ".job.plist";

std::string recordPath(const std::string& label) {
  return foundation::appendingPathComponent(JobRegistry::stateFolder(),
                                            label + std::string(kRecordSuffix));
}

std::optional<LoadedJob> readRecord(const std::string& path) {
  auto record = foundation::readPropertyListFile(path);
  if (!record) return std::nullopt;
  auto text = [&](const char* key) {
    const PlistValue* value = record->objectForKey(key);
    return value && value->string() ? *value->string() : std::string();
  };
  auto number = [&](const char* key) {
    const PlistValue* value = record->objectForKey(key);
    return value ? value->integerValue().value_or(0) : 0;
  };
  LoadedJob job;
  job.label = text("Label");
  job.path = text("Path");
  job.process.pid = static_cast<pid_t>(number("PID"));
  job.process.startTime = static_cast<std::uint64_t>(number("StartTime"));
  job.process.bootId = text("BootID");
  job.exitTimeOut = static_cast<int>(number("ExitTimeOut"));
  if (!isValidLabel(job.label)) return std::nullopt;
  return job;
}

}  // namespace

JobRegistry::~JobRegistry() = default;

std::string JobRegistry::stateFolder() {
  return foundation::platformPath("/private/var/run/launchd/" + std::to_string(::getuid()));
}

bool JobRegistry::lock() {
  if (_lockFd) return true;
  std::error_code error;
  std::filesystem::create_directories(stateFolder(), error);
  if (error) return false;
  std::string path = foundation::appendingPathComponent(stateFolder(), "lock");
  // Close-on-exec: a started job must not keep the lock.
  foundation::FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!fd) return false;
  while (::flock(fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  _lockFd = std::move(fd);
  return true;
}

std::optional<LoadedJob> JobRegistry::find(const std::string& label) const {
  if (!isValidLabel(label)) return std::nullopt;
  auto job = readRecord(recordPath(label));
  if (!job || job->label != label) return std::nullopt;
  if (job->process.bootId != currentBootId()) {
    ::unlink(recordPath(label).c_str());
    return std::nullopt;
  }
  return job;
}

std::optional<LoadedJob> JobRegistry::findByPath(const std::string& path) const {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(stateFolder(), error)) {
    std::string name = entry.path().filename().string();
    if (!name.ends_with(kRecordSuffix)) continue;
    auto job = readRecord(entry.path().string());
    if (job && job->path == path) return find(job->label);
  }
  return std::nullopt;
}

bool JobRegistry::add(const LoadedJob& job) {
  if (!isValidLabel(job.label)) return false;
  PlistDictionary record{
      {"Label", PlistValue(job.label)},
      {"Path", PlistValue(job.path)},
      {"PID", PlistValue(static_cast<std::int64_t>(job.process.pid))},
      {"StartTime", PlistValue(static_cast<std::int64_t>(job.process.startTime))},
      {"BootID", PlistValue(job.process.bootId)},
      {"ExitTimeOut", PlistValue(job.exitTimeOut)},
  };
  return foundation::writePropertyListFile(recordPath(job.label), PlistValue(std::move(record)))
      .ok();
}

bool JobRegistry::forget(const std::string& label) {
  return isValidLabel(label) && (::unlink(recordPath(label).c_str()) == 0 || errno == ENOENT);
}

}  // namespace launchd
