#include "OverrideDatabase.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "foundation/Paths.h"
#include "foundation/PropertyList.h"

namespace launchd {

std::string overrideDatabasePath() {
  return foundation::platformPath("/private/var/db/com.apple.xpc.launchd/disabled." +
                                  std::to_string(::getuid()) + ".plist");
}

namespace {

// The database as last read by this process, and the file's state then: a command asks about every
// job file it handles, and reads the file again only once it changed.
struct CachedDatabase {
  bool valid = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{}, changed{};
  std::optional<foundation::PlistValue> contents;

  static bool same(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
  }
  bool describes(const struct stat& info) const {
    return valid && device == info.st_dev && inode == info.st_ino && size == info.st_size &&
           same(modified, info.st_mtim) && same(changed, info.st_ctim);
  }
};

CachedDatabase& cache() {
  static CachedDatabase s_cache;
  return s_cache;
}

const std::optional<foundation::PlistValue>& currentDatabase() {
  CachedDatabase& cached = cache();
  std::string path = overrideDatabasePath();
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    cached = CachedDatabase{};
    return cached.contents;
  }
  if (cached.describes(info)) return cached.contents;
  cached.contents = foundation::readPropertyListFile(path).toOptional();
  cached.valid = true;
  cached.device = info.st_dev;
  cached.inode = info.st_ino;
  cached.size = info.st_size;
  cached.modified = info.st_mtim;
  cached.changed = info.st_ctim;
  return cached.contents;
}

}  // namespace

std::optional<bool> disabledOverride(const std::string& label) {
  const std::optional<foundation::PlistValue>& database = currentDatabase();
  if (!database) return std::nullopt;
  const foundation::PlistValue* entry = database->objectForKey(label);
  if (!entry || !entry->isNumber()) return std::nullopt;
  return entry->boolValue();
}

bool setDisabledOverride(const std::string& label, bool disabled) {
  std::string path = overrideDatabasePath();
  foundation::PlistValue database{foundation::PlistDictionary{}};
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) {
    // Never replace a database we cannot read: its entries would be lost.
    auto existing = foundation::readPropertyListFile(path);
    if (!existing || !existing->dictionary()) return false;
    database = std::move(*existing);
  }
  (*database.dictionary())[label] = foundation::PlistValue(disabled);

  std::error_code error;
  std::filesystem::create_directories(foundation::deletingLastPathComponent(path), error);
  if (error) return false;
  cache().valid = false;
  return foundation::writePropertyListFile(path, database).ok();
}

}  // namespace launchd
