#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/Date.h"

// Detection from what lies on disk and runs on the machine: whether iTunes has just failed to
// restore a device, and the state of Mendkit and iTunes. Its only stored state is "LastFileSha1"
// in the standard user defaults; in memory it keeps what it learnt of the last few logs judged
// (see rulesForiTunesRepairError). Every operation may be called from any thread and blocks its
// caller while it reads; none reports an error other than by its negative answer.
class Rules {
 public:
  Rules() = delete;

  // YES when the newest updater log of the three device kinds is fresh, records a failed restore
  // and differs from the log reported last time, whose digest it then stores. `deviceType`, when
  // not null, receives the judged log's device word ("iPhone", "iPod" or "iPad") once the gate of
  // probes has passed and a log was found, whatever the answer. May block for 5 s or more (see
  // iTunesRepairNow).
  //
  // The judgement of a log (failure or not, and its digest) is remembered for the last
  // kRememberedLogs logs, with the file's device, inode, size and change time; while all of them
  // are unchanged the log is not read again. A log changed less than 2 s before the call (by the
  // process's clock) is not remembered, since a change within the file system's timestamp
  // granularity could leave its change time as it was.
  static bool rulesForiTunesRepairError(std::optional<std::string>* deviceType);
  static constexpr std::size_t kRememberedLogs = 4;

  // NO when rulesForiTunesRepairError would answer NO now, and store and log nothing, whatever
  // the probes of its gate answer: no log, the newest one not fresh or no readable regular file,
  // or remembered (see above) as unchanged and showing no failure. Asks no probe, reads no log's
  // content and never waits; YES means only that the rule must be asked.
  static bool logsMayShowRepairError();

  // How many times since the process started rulesForiTunesRepairError has read a log's content
  // (each analysis and each digest counts once), for tests and measurements. Any thread.
  static std::uint64_t logContentReads();

  // The full path of the newest entry of the folder whose name ends with "log" and contains
  // `deviceType`; nullopt when there is none or the folder can't be listed. A leading "~" of the
  // folder is expanded. Newest means latest creation time; entries with equal times count in name
  // order (the later name is newer) and entries whose time can't be read count as older than all
  // others, among themselves in name order as well.
  static std::optional<std::string> latestLogFileWithiTunes(std::string_view logFolder,
                                                            std::string_view deviceType);

  // YES when the date lies less than 7 days before or after now; NO for nullopt.
  static bool rulesForLogDate(std::optional<foundation::Date> date);

  // NO only when the file is valid UTF-8 text, contains "Restore completed" and does not contain
  // "Restore completed, status:0". Anything that can't be read as UTF-8 text (missing, not a
  // regular file, no permission, invalid bytes) is YES. Reads the file in pieces of
  // kLogReadChunkSize bytes, so memory use does not grow with the log.
  static bool analyiTunesLogisSuccess(const std::string& logPath);
  static constexpr std::size_t kLogReadChunkSize = std::size_t{256} << 10;

  // The SHA-1 digest of the file's content as 40 lower-case hexadecimal digits (that of whatever
  // could be read; of nothing for a missing file).
  static std::string getFileSHA1string(const std::string& path);

  // YES when a running application's executable path contains "MacOS/Mendkit", this process and
  // other processes running this process's own executable file excepted.
  static bool mendkitIsRunning();
  // The installed Mendkit bundle: "/Applications/Mendkit.app", else ~/Desktop/Mendkit.app
  // expanded, else the "MendkitBundlePath" of Mendkit's config file exactly as stored, each only
  // when the user may enter it; nullopt when none is. A config file that is no regular file or is
  // larger than kMaxConfigSize bytes is not read and counts as none.
  static std::optional<std::string> mendkitIsRemoved();
  static constexpr std::size_t kMaxConfigSize = std::size_t{1} << 20;
  // YES when a restore work folder ("*.noindex*" in ~/Library/Caches/Cleanup At Startup) no older
  // than 600 s holds a name ending in "dmg". Sleeps 5 s on the process's clock for each such folder
  // younger than 10 s before looking into it.
  static bool iTunesRepairNow();
};
