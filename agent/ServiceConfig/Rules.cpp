#include "Rules.h"

#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "SHAex.h"
#include "appkit/Workspace.h"
#include "foundation/Clock.h"
#include "foundation/FileManager.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/PropertyList.h"
#include "foundation/RegularFile.h"
#include "foundation/UserDefaults.h"

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

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

bool endsWith(std::string_view text, std::string_view ending) {
  return text.size() >= ending.size() && text.substr(text.size() - ending.size()) == ending;
}

// Checks UTF-8 as it arrives in pieces: shortest forms only, no surrogates, nothing above
// U+10FFFF; a sequence may be split between pieces.
class Utf8Checker {
 public:
  // False at the first byte that can't belong to valid UTF-8.
  bool feed(const unsigned char* bytes, size_t length) {
    size_t i = 0;
    while (i < length) {
      if (_pending == 0) {
        // Plain ASCII goes eight bytes at a time.
        while (i + 8 <= length) {
          uint64_t word;
          std::memcpy(&word, bytes + i, 8);
          if (word & 0x8080808080808080ull) break;
          i += 8;
        }
        if (i == length) break;
        unsigned char lead = bytes[i++];
        if (lead < 0x80) continue;
        if (lead < 0xC2 || lead > 0xF4) return false;
        _low = 0x80;
        _high = 0xBF;
        if (lead < 0xE0) {
          _pending = 1;
        } else if (lead < 0xF0) {
          _pending = 2;
          if (lead == 0xE0) _low = 0xA0;
          if (lead == 0xED) _high = 0x9F;
        } else {
          _pending = 3;
          if (lead == 0xF0) _low = 0x90;
          if (lead == 0xF4) _high = 0x8F;
        }
        continue;
      }
      unsigned char next = bytes[i++];
      if (next < _low || next > _high) return false;
      _low = 0x80;
      _high = 0xBF;
      --_pending;
    }
    return true;
  }
  // True when no sequence is left unfinished.
  bool complete() const { return _pending == 0; }

 private:
  int _pending = 0;
  unsigned char _low = 0x80, _high = 0xBF;
};

// The answer of analyiTunesLogisSuccess for an open log, read to its end unless decided earlier.
bool logShowsNoFailure(int fd) {
  // Each window is the tail of the previous one followed by the next piece, so that a marker
  // split between pieces is still found whole.
  const size_t carry = kSuccessMarker.size() - 1;
  std::vector<char> window(carry + Rules::kLogReadChunkSize);
  size_t kept = 0;
  Utf8Checker utf8;
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
    while (const void* hit = memmem(from, static_cast<size_t>(end - from), kCompletionMarker.data(),
                                    kCompletionMarker.size())) {
      const char* at = static_cast<const char*>(hit);
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
  if (!utf8.complete()) return true;
  return !completed;
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

bool Rules::rulesForiTunesRepairError(std::optional<std::string>* deviceType) {
  if (!mendkitIsRemoved()) return false;
  if (mendkitIsRunning()) return false;
  if (iTunesRepairNow()) return false;

  std::optional<std::string> logs[kSourceCount];
  std::optional<Date> created[kSourceCount];
  bool anyCreated = false;
  for (size_t i = 0; i < kSourceCount; ++i) {
    logs[i] = latestLogFileWithiTunes(kLogSources[i].folder, kLogSources[i].fileWord);
    if (logs[i]) created[i] = FileManager::creationDateOfItemAtPath(*logs[i]);
    anyCreated = anyCreated || created[i].has_value();
  }
  if (!anyCreated) return false;

  double times[kSourceCount];
  for (size_t i = 0; i < kSourceCount; ++i) {
    times[i] = created[i] ? created[i]->timeIntervalSince1970 : kLogSources[i].substituteTime;
  }
  const double newest = *std::max_element(std::begin(times), std::end(times));
  size_t chosen = 0;
  while (times[chosen] != newest) ++chosen;
  if (deviceType) *deviceType = kLogSources[chosen].deviceWord;

  if (!logs[chosen] || !rulesForLogDate(Date{newest})) return false;
  const std::string& log = *logs[chosen];
  if (analyiTunesLogisSuccess(log)) return false;

  foundation::UserDefaults& defaults = foundation::UserDefaults::standard();
  std::optional<std::string> reported = defaults.stringForKey(kLastFileSha1);
  std::string digest = getFileSHA1string(log);
  if (reported && *reported == digest) {
    foundation::NSLog("The File had been analysize!");
    return false;
  }
  defaults.setString(kLastFileSha1, digest);
  defaults.synchronize();
  return true;
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
  sha.Final();
  char report[CSHA1::kReportBufferSize] = {};
  sha.ReportHash(report, CSHA1::REPORT_HEX_SPACED);
  std::string digest;
  for (const char* c = report; *c; ++c) {
    if (*c != ' ') digest += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
  }
  return digest;
}

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
  for (const appkit::RunningApplication& application : appkit::Workspace::runningApplications()) {
    if (application.executablePath && contains(*application.executablePath, kExecutableMark) &&
        !runsOwnExecutable(application)) {
      return true;
    }
  }
  return false;
}

std::optional<std::string> Rules::mendkitIsRemoved() {
  if (FileManager::isExecutableFileAtPath(kApplicationsBundle)) return kApplicationsBundle;
  std::string desktop = foundation::appendingPathComponent(
      foundation::expandTildeInPath(kDesktopFolder), kBundleName);
  if (FileManager::isExecutableFileAtPath(desktop)) return desktop;

  std::string config = foundation::expandTildeInPath(kConfigFile);
  if (!FileManager::fileExistsAtPath(config)) return std::nullopt;
  std::optional<foundation::PlistValue> plist = foundation::readPropertyListFile(config);
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
