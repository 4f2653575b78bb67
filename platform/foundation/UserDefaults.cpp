#include "UserDefaults.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <vector>

#include "Bundle.h"
#include "DirectoryStream.h"
#include "FileDescriptor.h"
#include "Log.h"
#include "Mutex.h"
#include "Paths.h"
#include "ProcessInfo.h"

namespace foundation {
namespace {

// A settings domain holds a handful of small values; a larger file is treated as corrupt, unread.
constexpr off_t kMaxDefaultsFileSize = 4 << 20;

// What identifies one version of the file on disk. While the file it came from is held open, no
// later file can reuse its inode, so a replacement always changes the stamp.
struct FileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  static FileStamp of(const struct stat& info) {
    return FileStamp{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
  }
  bool operator==(const FileStamp& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
           changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
  }
};

// One read of the file: what was there and, when it could be opened, the open file.
struct FileRead {
  enum class Outcome { missing, unreadable, corrupt, ok };
  Outcome outcome = Outcome::missing;
  int error = 0;
  bool oversize = false;     // corrupt because larger than kMaxDefaultsFileSize
  size_t droppedValues = 0;  // values left out of `contents` (see parsePropertyList)
  PlistDictionary contents;
  FileStamp stamp;
  FileDescriptor fd;
};

// Reads to the end, or until more than `limit` bytes came (then `bytes` is longer than `limit`).
bool readAll(int fd, std::string& bytes, size_t limit) {
  char buffer[16384];
  while (bytes.size() <= limit) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    bytes.append(buffer, static_cast<size_t>(got));
  }
  return true;
}

FileRead readDefaultsFile(const std::string& path) {
  FileRead result;
  // Non-blocking, so that a FIFO in place of the file cannot hang the reader.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat info {};
  if (!fd.valid() || ::fstat(fd.get(), &info) != 0) {
    result.error = errno;
    result.outcome = errno == ENOENT ? FileRead::Outcome::missing : FileRead::Outcome::unreadable;
    return result;
  }
  if (!S_ISREG(info.st_mode)) {
    result.error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    result.outcome = FileRead::Outcome::unreadable;
    return result;
  }
  result.stamp = FileStamp::of(info);
  std::string bytes;
  constexpr auto kLimit = static_cast<size_t>(kMaxDefaultsFileSize);
  if (info.st_size <= kMaxDefaultsFileSize && !readAll(fd.get(), bytes, kLimit)) {
    result.error = errno;
    result.outcome = FileRead::Outcome::unreadable;
    return result;
  }
  result.fd = std::move(fd);
  if (info.st_size > kMaxDefaultsFileSize || bytes.size() > kLimit) {
    result.oversize = true;
    result.outcome = FileRead::Outcome::corrupt;
    return result;
  }
  std::optional<PlistValue> root = parsePropertyList(bytes, &result.droppedValues);
  if (!root || !root->dictionary()) {
    result.outcome = FileRead::Outcome::corrupt;
    return result;
  }
  result.contents = std::move(*root->dictionary());
  result.outcome = FileRead::Outcome::ok;
  return result;
}

std::string standardDomain() {
  if (const Bundle* bundle = Bundle::main()) {
    std::string identifier = bundle->bundleIdentifier();
    if (!identifier.empty()) return identifier;
  }
  return ProcessInfo::processName();
}

bool fileExists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

// Leftovers of an atomic write cut short by a crash: ".<name>.XXXXXX" beside the file. Only
// called under the lock, while no writer of this file can be mid-write.
void removeStaleTemporaries(const std::string& path) {
  std::string folder = deletingLastPathComponent(path);
  std::string prefix = "." + lastPathComponent(path) + ".";
  DirectoryStream dir(folder.empty() ? "." : folder);
  while (const dirent* entry = dir.next()) {
    std::string_view name = entry->d_name;
    if (name.size() == prefix.size() + 6 && name.substr(0, prefix.size()) == prefix) {
      ::unlink(appendingPathComponent(folder, name).c_str());
    }
  }
}

// Moves a corrupt file to the first free "<file>.corrupt[.N]"; false when it could not be kept.
bool moveAside(const std::string& path) {
  constexpr int kMaxKept = 20;
  for (int n = 1; n <= kMaxKept; ++n) {
    std::string target = path + ".corrupt" + (n == 1 ? "" : "." + std::to_string(n));
    if (fileExists(target)) continue;
    if (::rename(path.c_str(), target.c_str()) != 0) {
      NSLog("UserDefaults: cannot move the corrupt %s aside: %s", path.c_str(),
            std::strerror(errno));
      return false;
    }
    NSLog("UserDefaults: %s is not a usable property list; moved it to %s and starting afresh",
          path.c_str(), target.c_str());
    return true;
  }
  NSLog("UserDefaults: %s is corrupt and %d earlier corrupt copies are kept; not writing over it",
        path.c_str(), kMaxKept);
  return false;
}

// Where a write of `path` goes: the file a symbolic link there names (followed through further
// links), or `path` itself when it is no link or the links go round.
std::string linkTarget(const std::string& path) {
  constexpr int kMaxLinks = 40;
  std::string current = path;
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    std::error_code error;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(current, error))) {
      return current;
    }
    std::filesystem::path next = std::filesystem::read_symlink(current, error);
    if (error) return current;
    if (next.is_relative()) next = std::filesystem::path(current).parent_path() / next;
    current = next.lexically_normal().string();
  }
  return path;
}

// The lock file at `path` (made when missing), exclusively locked; invalid (logged) on failure.
// The file locked is checked to be still the one under the name: a lock on a file that was
// removed or replaced meanwhile would exclude no other writer.
FileDescriptor lockFile(const std::string& path) {
  constexpr int kMaxAttempts = 1000;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    FileDescriptor lock(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!lock.valid()) {
      NSLog("UserDefaults: cannot open the lock file %s: %s", path.c_str(), std::strerror(errno));
      return lock;
    }
    int locked;
    do {
      locked = ::flock(lock.get(), LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
      NSLog("UserDefaults: cannot lock %s: %s", path.c_str(), std::strerror(errno));
      return FileDescriptor();
    }
    struct stat held {
    }, named{};
    if (::fstat(lock.get(), &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      return lock;
    }
  }
  NSLog("UserDefaults: the lock file %s keeps being replaced; not writing", path.c_str());
  return FileDescriptor();
}

std::optional<std::int64_t> leadingInteger(const std::string& text) {
  const char* start = text.c_str();
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(start, &end, 10);
  if (end == start) return std::nullopt;
  return static_cast<std::int64_t>(value);
}

}  // namespace

struct UserDefaults::State {
  struct Change {
    std::optional<PlistValue> value;  // nullopt: a removal
    std::uint64_t generation = 0;
  };

  explicit State(std::string filePath)
      : path(std::move(filePath)), domain(lastPathComponent(path)) {
    constexpr std::string_view kSuffix = ".plist";
    if (domain.size() > kSuffix.size() && domain.ends_with(kSuffix)) {
      domain.resize(domain.size() - kSuffix.size());
    }
  }

  // Brings `stored` up to date with the file.
  void refresh() REQUIRES(mutex) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
      if (read && !absent && stamp == FileStamp::of(info)) return;
    } else if (errno == ENOENT && read && absent) {
      return;
    }
    adopt(readDefaultsFile(path));
  }

  // Takes a read of the file as what is stored.
  void adopt(FileRead result) REQUIRES(mutex) {
    read = true;
    absent = result.outcome == FileRead::Outcome::missing;
    corrupt = result.outcome == FileRead::Outcome::corrupt;
    stamp = result.stamp;
    file = std::move(result.fd);
    stored = std::move(result.contents);
    lastError = result.error;
    if (result.droppedValues > 0) {
      NSLog(
          "UserDefaults: %s holds %zu value%s a property list cannot carry (a date outside the "
          "years 1 to 9999, a control character or bytes that are not UTF-8), read as absent",
          path.c_str(), result.droppedValues, result.droppedValues == 1 ? "" : "s");
    }
    if (result.outcome == FileRead::Outcome::ok || result.outcome == FileRead::Outcome::missing) {
      reportedProblem = false;
      return;
    }
    // Reported once per version of the file. A corrupt file is held open like a good one; an
    // unreadable one is tried again on every read.
    bool sameAsReported = reportedProblem && reportedStamp == result.stamp;
    reportedProblem = true;
    reportedStamp = result.stamp;
    read = result.outcome == FileRead::Outcome::corrupt;
    if (sameAsReported) return;
    if (result.oversize) {
      NSLog("UserDefaults: %s is larger than %lld bytes; reading it as empty", path.c_str(),
            static_cast<long long>(kMaxDefaultsFileSize));
    } else if (result.outcome == FileRead::Outcome::corrupt) {
      NSLog("UserDefaults: %s is not a valid property list; reading it as empty", path.c_str());
    } else {
      NSLog("UserDefaults: cannot read %s: %s; reading it as empty", path.c_str(),
            std::strerror(result.error));
    }
  }

  std::optional<PlistValue> lookup(std::string_view key) REQUIRES(mutex) {
    refresh();
    if (auto change = pending.find(key); change != pending.end()) return change->second.value;
    if (auto found = stored.find(std::string(key)); found != stored.end()) return found->second;
    return std::nullopt;
  }

  void change(std::string_view key, std::optional<PlistValue> value) EXCLUDES(mutex) {
    {
      MutexLock guard(mutex);
      pending.insert_or_assign(std::string(key), Change{std::move(value), ++generation});
    }
    notify(key);
  }

  // Removes from `pending` those of `changes` not made again since.
  void forget(const std::map<std::string, Change, std::less<>>& changes) REQUIRES(mutex) {
    for (const auto& [key, change] : changes) {
      auto still = pending.find(key);
      if (still != pending.end() && still->second.generation == change.generation) {
        pending.erase(still);
      }
    }
  }

  // Calls every change observer with `key`, holding only each observer's own call lock.
  void notify(std::string_view key) EXCLUDES(mutex, observersMutex) {
    std::vector<std::shared_ptr<Observer>> current;
    {
      MutexLock guard(observersMutex);
      if (observers.empty()) return;
      current.reserve(observers.size());
      for (const auto& [id, observer] : observers) current.push_back(observer);
    }
    for (const auto& observer : current) {
      RecursiveMutexLock calling(observer->callMutex);
      if (!observer->removed) observer->function(key);
    }
  }

  // A change observer. `callMutex` is held while it runs, so that removing it waits for calls in
  // progress on other threads; recursive, so that it can remove itself.
  struct Observer {
    explicit Observer(ChangeObserver f) : function(std::move(f)) {}
    ChangeObserver function;
    RecursiveMutex callMutex;
    bool removed GUARDED_BY(callMutex) = false;
  };

  const std::string path;
  std::string domain;

  Mutex syncMutex ACQUIRED_BEFORE(mutex);  // serialises synchronize()
  Mutex mutex;
  bool read GUARDED_BY(mutex) = false;     // `stamp` describes the file `stored` came from
  bool absent GUARDED_BY(mutex) = false;   // ... or there was no file
  bool corrupt GUARDED_BY(mutex) = false;  // ... or a file that could not be used, read as empty
  FileStamp stamp GUARDED_BY(mutex);
  FileDescriptor file GUARDED_BY(mutex);  // the file `stored` came from, held open to pin its inode
  PlistDictionary stored GUARDED_BY(mutex);
  int lastError GUARDED_BY(mutex) = 0;  // errno of the last read that could not open or read it
  std::map<std::string, Change, std::less<>> pending GUARDED_BY(mutex);
  std::uint64_t generation GUARDED_BY(mutex) = 0;
  bool reportedProblem GUARDED_BY(mutex) = false;
  FileStamp reportedStamp GUARDED_BY(mutex);

  Mutex observersMutex;  // never held while an observer runs
  std::map<ChangeObserverId, std::shared_ptr<Observer>> observers GUARDED_BY(observersMutex);
  ChangeObserverId nextObserverId GUARDED_BY(observersMutex) = 0;
};

UserDefaults& UserDefaults::standard() {
  // Never destroyed: threads still running while the process exits may use the references.
  static Mutex& s_mutex = *new Mutex;
  static auto& s_instances = *new std::map<std::string, std::unique_ptr<UserDefaults>>;
  std::string path = pathForDomain(standardDomain());
  MutexLock guard(s_mutex);
  std::unique_ptr<UserDefaults>& slot = s_instances[path];
  if (!slot) slot = std::make_unique<UserDefaults>(path);
  return *slot;
}

std::string UserDefaults::pathForDomain(std::string_view domain) {
  return appendingPathComponent(expandTildeInPath("~/Library/Preferences"),
                                std::string(domain) + ".plist");
}

UserDefaults::UserDefaults(std::string path) : _state(std::make_unique<State>(std::move(path))) {}
UserDefaults::~UserDefaults() = default;

const std::string& UserDefaults::path() const { return _state->path; }
const std::string& UserDefaults::domain() const { return _state->domain; }

std::optional<PlistValue> UserDefaults::objectForKey(std::string_view key) const {
  MutexLock guard(_state->mutex);
  return _state->lookup(key);
}

bool UserDefaults::setObject(std::string_view key, PlistValue value) {
  // Checked here so that one unwritable value cannot block every later synchronize.
  Result<std::string> keyXml = propertyListXml(PlistValue(std::string(key)));
  Result<std::string> valueXml = keyXml ? propertyListXml(value) : keyXml.error();
  if (!valueXml) {
    NSLog("UserDefaults: a value for \"%.*s\" can't be stored in a property list (%s); ignored",
          static_cast<int>(key.size()), key.data(), valueXml.error().message.c_str());
    return false;
  }
  _state->change(key, std::move(value));
  return true;
}

void UserDefaults::removeObjectForKey(std::string_view key) { _state->change(key, std::nullopt); }

bool UserDefaults::boolForKey(std::string_view key) const {
  std::optional<PlistValue> value = objectForKey(key);
  if (!value) return false;
  if (auto truth = value->boolValue()) return *truth;
  if (const std::string* text = value->string()) {
    size_t first = text->find_first_not_of(" \t\n");
    if (first == std::string::npos) return false;
    char c = (*text)[first];
    if (c == 'Y' || c == 'y' || c == 'T' || c == 't') return true;
    return leadingInteger(*text).value_or(0) != 0;
  }
  return false;
}

std::int64_t UserDefaults::integerForKey(std::string_view key) const {
  std::optional<PlistValue> value = objectForKey(key);
  if (!value) return 0;
  if (auto number = value->integerValue()) return *number;
  if (const std::string* text = value->string()) return leadingInteger(*text).value_or(0);
  return 0;
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
  std::optional<PlistValue> value = objectForKey(key);
  if (!value || !value->string()) return std::nullopt;
  return *value->string();
}

std::optional<Date> UserDefaults::dateForKey(std::string_view key) const {
  std::optional<PlistValue> value = objectForKey(key);
  if (!value || !value->date()) return std::nullopt;
  return *value->date();
}

void UserDefaults::setBool(std::string_view key, bool value) { setObject(key, PlistValue(value)); }
void UserDefaults::setInteger(std::string_view key, std::int64_t value) {
  setObject(key, PlistValue(value));
}
bool UserDefaults::setDate(std::string_view key, Date value) {
  return setObject(key, PlistValue(value));
}
void UserDefaults::setString(std::string_view key, std::string value) {
  setObject(key, PlistValue(std::move(value)));
}

bool UserDefaults::synchronize() {
  State& state = *_state;
  MutexLock syncGuard(state.syncMutex);
  std::map<std::string, State::Change, std::less<>> changes;
  {
    MutexLock guard(state.mutex);
    if (state.pending.empty()) {
      state.refresh();
      return true;
    }
    changes = state.pending;
  }

  // A link in place of the file is written through, so a settings file kept elsewhere (a linked
  // dotfile) stays where it is; the lock is taken beside the file actually written.
  const std::string target = linkTarget(state.path);
  std::error_code ignored;
  std::string folder = deletingLastPathComponent(target);
  if (!folder.empty()) std::filesystem::create_directories(folder, ignored);
  FileDescriptor lock = lockFile(target + ".lock");
  if (!lock.valid()) return false;
  removeStaleTemporaries(target);

  // The file as it is now, read again only when it changed since this object last read it.
  FileRead current;
  {
    MutexLock guard(state.mutex);
    state.refresh();
    if (!state.read) {
      current.outcome = FileRead::Outcome::unreadable;
      current.error = state.lastError;
    } else if (!state.absent) {
      current.outcome = state.corrupt ? FileRead::Outcome::corrupt : FileRead::Outcome::ok;
      current.contents = state.stored;
    }
  }
  if (current.outcome == FileRead::Outcome::unreadable) {
    NSLog("UserDefaults: cannot read %s: %s; not writing over it", state.path.c_str(),
          std::strerror(current.error));
    return false;
  }
  bool movedAside = false;
  if (current.outcome == FileRead::Outcome::corrupt) {
    if (!moveAside(target)) return false;
    movedAside = true;
  }

  PlistDictionary merged = current.contents;
  for (const auto& [key, change] : changes) {
    if (change.value) {
      merged.insert_or_assign(key, *change.value);
    } else {
      merged.erase(key);
    }
  }
  FileRead written;
  bool wrote = merged != current.contents;
  if (wrote) {
    Result<std::string> xml = propertyListXml(PlistValue(merged));
    if (!xml) {
      NSLog("UserDefaults: cannot write %s: %s", state.path.c_str(), xml.error().message.c_str());
      return false;
    }
    if (xml->size() > static_cast<size_t>(kMaxDefaultsFileSize)) {
      // Its own reader would refuse the file, and every setting in it would read as absent.
      NSLog(
          "UserDefaults: cannot write %s: it would be %zu bytes, more than the %lld a settings "
          "file may hold; the changes are dropped and the file is left as it was",
          state.path.c_str(), xml->size(), static_cast<long long>(kMaxDefaultsFileSize));
      MutexLock guard(state.mutex);
      state.forget(changes);
      return false;
    }
    if (Result<void> stored = writeFileAtomically(target, *xml); !stored) {
      NSLog("UserDefaults: cannot write %s: %s", state.path.c_str(),
            std::strerror(stored.error().code));
      return false;
    }
    // Still under the lock, so the file is the one just written.
    written.fd = FileDescriptor(::open(state.path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (written.fd.valid() && ::fstat(written.fd.get(), &info) == 0) {
      written.stamp = FileStamp::of(info);
      written.outcome = FileRead::Outcome::ok;
    } else {
      written.fd.reset();
      written.outcome = FileRead::Outcome::unreadable;
    }
    written.contents = std::move(merged);
  }
  lock.reset();

  MutexLock guard(state.mutex);
  state.forget(changes);
  if (!wrote) {
    if (movedAside) state.read = false;  // re-read on next use
  } else if (written.outcome == FileRead::Outcome::unreadable) {
    state.read = false;
  } else {
    state.adopt(std::move(written));
  }
  return true;
}

UserDefaults::ChangeObserverId UserDefaults::addChangeObserver(ChangeObserver observer) {
  auto entry = std::make_shared<State::Observer>(std::move(observer));
  MutexLock guard(_state->observersMutex);
  ChangeObserverId id = ++_state->nextObserverId;
  _state->observers.emplace(id, std::move(entry));
  return id;
}

void UserDefaults::removeChangeObserver(ChangeObserverId id) {
  std::shared_ptr<State::Observer> entry;
  {
    MutexLock guard(_state->observersMutex);
    auto found = _state->observers.find(id);
    if (found == _state->observers.end()) return;
    entry = std::move(found->second);
    _state->observers.erase(found);
  }
  RecursiveMutexLock calling(entry->callMutex);
  entry->removed = true;
}

PlistDictionary UserDefaults::dictionaryRepresentation() const {
  MutexLock guard(_state->mutex);
  _state->refresh();
  PlistDictionary all = _state->stored;
  for (const auto& [key, change] : _state->pending) {
    if (change.value) {
      all.insert_or_assign(key, *change.value);
    } else {
      all.erase(key);
    }
  }
  return all;
}

}  // namespace foundation
