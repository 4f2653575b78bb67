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

std::optional<bool> disabledOverride(const std::string& label) {
  auto database = foundation::readPropertyListFile(overrideDatabasePath());
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
  return foundation::writePropertyListFile(path, database);
}

}  // namespace launchd
