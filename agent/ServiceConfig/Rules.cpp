#include "Rules.h"

#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "MarkerSearch.h"
#include "SHAex.h"
#include "appkit/Workspace.h"
#include "foundation/Clock.h"
#include "foundation/FileManager.h"
#include "foundation/Log.h"
#include "foundation/Mutex.h"
#include "foundation/Paths.h"
#include "foundation/PropertyList.h"
#include "foundation/RegularFile.h"
#include "foundation/UserDefaults.h"
#include "foundation/Utf8Validator.h"

using foundation::Date;
using foundation::FileManager;

namespace {

struct LogSource {
  const char* deviceWord;
  const char* folder;
  const char* fileWord;
  double substituteTime;  // seconds after 1970 for a source without a usable log
};

// Examined in this order; equal creation times favour the earlier source.
constexpr LogSource kLogSources[] = {
    {"iPhone", "~/Library/Logs/iPhone Updater Logs/", "iPhoneUpdater", 3},
    {"iPod", "~/Library/Logs/iPod Updater Logs/", "iPodUpdater", 2},
    {"iPad", "~/Library/Logs/iPad Updater Logs/", "iPadUpdater", 1},
};
constexpr size_t kSourceCount = std::size(kLogSources);

constexpr double kFreshnessWindow = 604800;
constexpr std::string_view kCompletionMarker = "Restore completed";
constexpr std::string_view kSuccessMarker = "Restore completed, status:0";
constexpr const char* kLastFileSha1 = "LastFileSha1";

constexpr const char* kApplicationsBundle = "/Applications/Mendkit.app";
constexpr const char* kDesktopFolder = "~/Desktop";
constexpr const char* kBundleName = "Mendkit.app";
constexpr const char* kConfigFile = "~/Library/Application Support/Mendkit/config.plist";
constexpr const char* kBundlePathKey = "MendkitBundlePath";
constexpr std::string_view kExecutableMark = "MacOS/Mendkit";

constexpr const char* kWorkFolders = "~/Library/Caches/Cleanup At Startup/";
constexpr std::string_view kWorkFolderMark = ".noindex";
constexpr std::string_view kDiskImageEnding = "dmg";
constexpr double kYoungWorkFolder = 10;
constexpr foundation::TimeInterval kYoungWorkFolderWait = foundation::TimeInterval::seconds(5);
constexpr double kOldWorkFolder = 600;

// A log changed this recently may change again without its change time moving.
constexpr double kSettledChange = 2;

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

bool endsWith(std::string_view text, std::string_view ending) {
  return text.size() >= ending.size() && text.substr(text.size() - ending.size()) == ending;
}

// The answer of analyiTunesLogisSuccess for an open log, read to its end unless decided earlier.
bool logShowsNoFailure(int fd) {
  // Each window is the tail of the previous one followed by the next piece, so that a marker
  // split between pieces is still found whole.
  const size_t carry = kSuccessMarker.size() - 1;
  std::vector<char> window(carry + Rules::kLogReadChunkSize);
  size_t kept = 0;
  foundation::Utf8Validator utf8;
  static const MarkerSearch completion(kCompletionMarker);
  bool completed = false;
  while (true) {
    ssize_t got = ::read(fd, window.data() + kept, Rules::kLogReadChunkSize);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return true;
    if (got == 0) break;
    const auto* fresh = reinterpret_cast<const unsigned char*>(window.data() + kept);
    if (!utf8.feed(fresh, static_cast<size_t>(got))) return true;

    const size_t length = kept + static_cast<size_t>(got);
    const char* from = window.data();
    const char* end = window.data() + length;
    while (const char* at = completion.find(from, end)) {
      completed = true;
      if (static_cast<size_t>(end - at) >= kSuccessMarker.size() &&
          std::memcmp(at, kSuccessMarker.data(), kSuccessMarker.size()) == 0) {
        return true;  // the success marker decides whatever follows
      }
      from = at + 1;
    }
    // A success marker that begins in the last `carry` bytes is not yet whole: keep them.
    kept = std::min(carry, length);
    std::memmove(window.data(), end - kept, kept);
  }
  if (!utf8.finish()) return true;
  return !completed;
}

std::atomic<std::uint64_t> contentReads{0};

// The 40 lower-case hexadecimal digits of the message fed to `sha` so far; finishes it.
std::string lowerHexDigest(CSHA1& sha) {
  sha.Final();
  char report[CSHA1::kReportBufferSize] = {};
  sha.ReportHash(report, CSHA1::REPORT_HEX_SPACED);
  std::string digest;
  for (const char* c = report; *c; ++c) {
    if (*c != ' ') digest += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
  }
  return digest;
}

// The digest of the first `size` bytes of an open file (of fewer when it ends or fails sooner),
// as getFileSHA1string gives it for the file's path.
std::string digestOfOpenFile(int fd, off_t size) {
  CSHA1 sha;
  std::unique_ptr<uint8_t[]> chunk(new uint8_t[CSHA1::kFileChunkSize]);
  off_t offset = 0;
  while (offset < size) {
    const auto wanted = static_cast<size_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(size - offset), CSHA1::kFileChunkSize));
    const ssize_t got = ::pread(fd, chunk.get(), wanted, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    sha.Update(chunk.get(), static_cast<uint32_t>(got));
    offset += got;
  }
  return lowerHexDigest(sha);
}

// What analyiTunesLogisSuccess and, for a failed log only, getFileSHA1string answer for a log.
struct LogJudgement {
  bool noFailure = true;
  std::string digest;
};

// Which file a path named and the state of its content when it was judged.
struct LogIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  time_t changedSeconds = 0;
  long changedNanoseconds = 0;

  explicit LogIdentity(const struct stat& info)
      : device(info.st_dev),
        inode(info.st_ino),
        size(info.st_size),
        changedSeconds(info.st_ctim.tv_sec),
        changedNanoseconds(info.st_ctim.tv_nsec) {}
  bool operator==(const LogIdentity&) const = default;
  double changed() const {
    return static_cast<double>(changedSeconds) + static_cast<double>(changedNanoseconds) / 1e9;
  }
};

// The judgements of the last few logs, most recently used first. Thread-safe.
class LogMemo {
 public:
  std::optional<LogJudgement> find(const std::string& path, const LogIdentity& identity) {
    foundation::MutexLock lock(_mutex);
    auto found = std::find_if(_entries.begin(), _entries.end(),
                              [&](const Entry& entry) { return entry.path == path; });
    if (found == _entries.end() || !(found->identity == identity)) return std::nullopt;
    std::rotate(_entries.begin(), found, found + 1);
    return _entries.front().judgement;
  }

  void remember(const std::string& path, const LogIdentity& identity, LogJudgement judgement) {
    foundation::MutexLock lock(_mutex);
    std::erase_if(_entries, [&](const Entry& entry) { return entry.path == path; });
    _entries.insert(_entries.begin(), Entry{path, identity, std::move(judgement)});
    while (_entries.size() > Rules::kRememberedLogs) _entries.pop_back();
  }

 private:
  struct Entry {
    std::string path;
    LogIdentity identity;
    LogJudgement judgement;
  };
  foundation::Mutex _mutex;
  std::vector<Entry> _entries GUARDED_BY(_mutex);
};

LogMemo& logMemo() {
  // Never destroyed, so that a tick still running at exit finds it whole.
  static LogMemo* memo = new LogMemo;
  return *memo;
}

// The judgement of the log at `path`, from memory while the same file is unchanged; a log that
// can't be opened as a regular file shows no failure.
LogJudgement judgeLog(const std::string& path) {
  const Date now = Date::now();
  foundation::FileDescriptor log = foundation::openRegularFile(path);
  struct stat info {};
  if (!log || ::fstat(log.get(), &info) != 0) return {};
  const LogIdentity identity(info);
  if (std::optional<LogJudgement> remembered = logMemo().find(path, identity)) return *remembered;

  LogJudgement judgement;
  ++contentReads;
  judgement.noFailure = logShowsNoFailure(log.get());
  if (!judgement.noFailure) {
    ++contentReads;
    judgement.digest = digestOfOpenFile(log.get(), info.st_size);
  }
  if (identity.changed() <= now.timeIntervalSince1970 - kSettledChange) {
    logMemo().remember(path, identity, judgement);
  }
  return judgement;
}

// A log candidate of one folder, ordered by creation time, then name; no time is oldest.
struct LogEntry {
  std::optional<Date> created;
  const std::string* name = nullptr;

  bool isNewerThan(const LogEntry& other) const {
    if (created.has_value() != other.created.has_value()) return created.has_value();
    if (created && *created != *other.created) return *created > *other.created;
    return *name > *other.name;
  }
};

}  // namespace

namespace {

// The log that steps 2 to 6 of the rule choose: the newest of the three sources' newest logs.
struct ChosenLog {
  size_t source = 0;
  std::optional<std::string> path;  // none for a source that has no log but won on its time
  double created = 0;               // seconds after 1970, or the source's substitute time
};

// Nullopt when no source has a log with a readable creation time.
std::optional<ChosenLog> chooseLog() {
  std::optional<std::string> logs[kSourceCount];
  std::optional<Date> created[kSourceCount];
  bool anyCreated = false;
  for (size_t i = 0; i < kSourceCount; ++i) {
    logs[i] = Rules::latestLogFileWithiTunes(kLogSources[i].folder, kLogSources[i].fileWord);
    if (logs[i]) created[i] = FileManager::creationDateOfItemAtPath(*logs[i]);
    anyCreated = anyCreated || created[i].has_value();
  }
  if (!anyCreated) return std::nullopt;

  double times[kSourceCount];
  for (size_t i = 0; i < kSourceCount; ++i) {
    times[i] = created[i] ? created[i]->timeIntervalSince1970 : kLogSources[i].substituteTime;
  }
  const double newest = *std::max_element(std::begin(times), std::end(times));
  size_t chosen = 0;
  while (times[chosen] != newest) ++chosen;
  return ChosenLog{chosen, std::move(logs[chosen]), newest};
}

}  // namespace

bool Rules::rulesForiTunesRepairError(std::optional<std::string>* deviceType) {
  if (!mendkitIsRemoved()) return false;
  if (mendkitIsRunning()) return false;
  if (iTunesRepairNow()) return false;

  std::optional<ChosenLog> chosen = chooseLog();
  if (!chosen) return false;
  if (deviceType) *deviceType = kLogSources[chosen->source].deviceWord;

  if (!chosen->path || !rulesForLogDate(Date{chosen->created})) return false;
  LogJudgement judgement = judgeLog(*chosen->path);
  if (judgement.noFailure) return false;

  foundation::UserDefaults& defaults = foundation::UserDefaults::standard();
  std::optional<std::string> reported = defaults.stringForKey(kLastFileSha1);
  const std::string& digest = judgement.digest;
  if (reported && *reported == digest) {
    foundation::NSLog("The File had been analysize!");
    return false;
  }
  defaults.setString(kLastFileSha1, digest);
  defaults.synchronize();
  return true;
}

bool Rules::logsMayShowRepairError() {
  std::optional<ChosenLog> chosen = chooseLog();
  if (!chosen || !chosen->path || !rulesForLogDate(Date{chosen->created})) return false;
  foundation::FileDescriptor log = foundation::openRegularFile(*chosen->path);
  struct stat info {};
  if (!log || ::fstat(log.get(), &info) != 0) return false;
  std::optional<LogJudgement> remembered = logMemo().find(*chosen->path, LogIdentity(info));
  return !remembered || !remembered->noFailure;
}

std::optional<std::string> Rules::latestLogFileWithiTunes(std::string_view logFolder,
                                                          std::string_view deviceType) {
  const std::string folder = foundation::expandTildeInPath(logFolder);
  if (!FileManager::fileExistsAtPath(folder)) return std::nullopt;
  std::optional<std::vector<std::string>> names = FileManager::contentsOfDirectoryAtPath(folder);
  if (!names) return std::nullopt;

  // The last log in creation order is the newest one under the same order: each candidate's
  // time is read once and the newest kept, without sorting the whole folder.
  std::optional<LogEntry> newest;
  for (const std::string& name : *names) {
    if (!endsWith(name, "log") || deviceType.empty() || !contains(name, deviceType)) continue;
    LogEntry entry{
        FileManager::creationDateOfItemAtPath(foundation::appendingPathComponent(folder, name)),
        &name};
    if (!newest || entry.isNewerThan(*newest)) newest = entry;
  }
  if (!newest) return std::nullopt;
  return foundation::appendingPathComponent(folder, *newest->name);
}

bool Rules::rulesForLogDate(std::optional<foundation::Date> date) {
  if (!date) return false;
  return std::fabs(date->timeIntervalSince1970 - Date::now().timeIntervalSince1970) <
         kFreshnessWindow;
}

bool Rules::analyiTunesLogisSuccess(const std::string& logPath) {
  foundation::FileDescriptor log = foundation::openRegularFile(logPath);
  if (!log) return true;
  return logShowsNoFailure(log.get());
}

std::string Rules::getFileSHA1string(const std::string& path) {
  CSHA1 sha;
  sha.HashFile(FileManager::fileSystemRepresentationWithPath(path).c_str());
  return lowerHexDigest(sha);
}

std::uint64_t Rules::logContentReads() { return contentReads.load(); }

namespace {

// Whether `application` runs this process's own executable file (this process, or another
// instance of the same agent): the agent is not Mendkit, however its bundle's path reads.
bool runsOwnExecutable(const appkit::RunningApplication& application) {
  if (application.processIdentifier == ::getpid()) return true;
  struct stat own {};
  if (::stat("/proc/self/exe", &own) != 0) return false;
  struct stat other {};
  std::string link = "/proc/" + std::to_string(application.processIdentifier) + "/exe";
  return ::stat(link.c_str(), &other) == 0 && other.st_dev == own.st_dev &&
         other.st_ino == own.st_ino;
}

}  // namespace

bool Rules::mendkitIsRunning() {
  return appkit::Workspace::anyApplication([](const appkit::RunningApplication& application) {
    return application.executablePath && contains(*application.executablePath, kExecutableMark) &&
           !runsOwnExecutable(application);
  });
}

std::optional<std::string> Rules::mendkitIsRemoved() {
  if (FileManager::isExecutableFileAtPath(kApplicationsBundle)) return kApplicationsBundle;
  std::string desktop = foundation::appendingPathComponent(
      foundation::expandTildeInPath(kDesktopFolder), kBundleName);
  if (FileManager::isExecutableFileAtPath(desktop)) return desktop;

  std::string config = foundation::expandTildeInPath(kConfigFile);
  if (!FileManager::fileExistsAtPath(config)) return std::nullopt;
  foundation::Result<std::string> bytes = foundation::readRegularFile(config, kMaxConfigSize);
  if (!bytes) return std::nullopt;
  std::optional<foundation::PlistValue> plist = foundation::parsePropertyList(*bytes);
  if (!plist || !plist->dictionary()) return std::nullopt;
  const foundation::PlistValue* value = plist->objectForKey(kBundlePathKey);
  if (!value || !value->string()) return std::nullopt;
  if (!FileManager::isExecutableFileAtPath(*value->string())) return std::nullopt;
  return *value->string();
}

bool Rules::iTunesRepairNow() {
  const std::string folder = foundation::expandTildeInPath(kWorkFolders);
  std::optional<std::vector<std::string>> names = FileManager::contentsOfDirectoryAtPath(folder);
  if (!names || names->empty()) return false;
  for (const std::string& name : *names) {
    if (!contains(name, kWorkFolderMark)) continue;
    const std::string entry = foundation::appendingPathComponent(folder, name);
    std::optional<Date> created = FileManager::creationDateOfItemAtPath(entry);
    if (!created) continue;
    double age = std::fabs(Date::now().timeIntervalSince(*created));
    if (age < kYoungWorkFolder) {
      foundation::Clock::current().sleep(kYoungWorkFolderWait);
    } else if (age > kOldWorkFolder) {
      continue;
    }
    if (!FileManager::fileExistsAtPath(entry)) continue;
    std::optional<std::vector<std::string>> contents =
        FileManager::contentsOfDirectoryAtPath(entry);
    if (!contents) continue;
    for (const std::string& item : *contents) {
      if (endsWith(item, kDiskImageEnding)) return true;
    }
  }
  return false;
}
