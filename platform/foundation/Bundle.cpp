#include "Bundle.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "Mutex.h"
#include "Paths.h"
#include "ProcessInfo.h"

namespace foundation {
namespace {

bool isRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

Mutex s_mainMutex;
bool s_mainLoaded GUARDED_BY(s_mainMutex) = false;
std::optional<Bundle> s_main GUARDED_BY(s_mainMutex);

std::optional<Bundle> bundleOfExecutable() {
  // …/<Name>.app/Contents/MacOS/<executable>
  std::string macos = deletingLastPathComponent(ProcessInfo::executablePath());
  std::string contents = deletingLastPathComponent(macos);
  if (lastPathComponent(macos) != "MacOS" || lastPathComponent(contents) != "Contents") {
    return std::nullopt;
  }
  return Bundle::atPath(deletingLastPathComponent(contents));
}

}  // namespace

std::optional<Bundle> Bundle::atPath(const std::string& path) {
  auto info = readPropertyListFile(appendingPathComponent(path, "Contents/Info.plist"));
  if (!info || !info->dictionary()) return std::nullopt;
  return Bundle(path, std::move(*info->dictionary()));
}

const Bundle* Bundle::main() {
  MutexLock guard(s_mainMutex);
  if (!s_mainLoaded) {
    s_main = bundleOfExecutable();
    s_mainLoaded = true;
  }
  return s_main ? &*s_main : nullptr;
}

void Bundle::setMainForTesting(std::optional<Bundle> bundle) {
  MutexLock guard(s_mainMutex);
  s_mainLoaded = bundle.has_value();
  s_main = std::move(bundle);
}

std::string Bundle::resourcePath() const {
  return appendingPathComponent(_path, "Contents/Resources");
}

std::string Bundle::executablePath() const {
  const PlistValue* name = objectForInfoDictionaryKey("CFBundleExecutable");
  if (!name || !name->string()) return "";
  return appendingPathComponent(appendingPathComponent(_path, "Contents/MacOS"), *name->string());
}

const PlistValue* Bundle::objectForInfoDictionaryKey(std::string_view key) const {
  auto found = _info.find(std::string(key));
  return found == _info.end() ? nullptr : &found->second;
}

std::string Bundle::bundleIdentifier() const {
  const PlistValue* value = objectForInfoDictionaryKey("CFBundleIdentifier");
  return value && value->string() ? *value->string() : std::string();
}

std::vector<std::string> Bundle::localizations() const {
  std::vector<std::string> names;
  if (const PlistValue* listed = objectForInfoDictionaryKey("CFBundleLocalizations")) {
    if (const PlistArray* items = listed->array()) {
      for (const PlistValue& item : *items) {
        if (item.string()) names.push_back(*item.string());
      }
      return names;
    }
  }
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(resourcePath(), error)) {
    std::string name = entry.path().filename().string();
    if (name.size() > 6 && name.ends_with(".lproj") && entry.is_directory(error)) {
      names.push_back(name.substr(0, name.size() - 6));
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::string> Bundle::pathForResource(
    std::string_view name, std::string_view type, std::string_view directory,
    std::optional<std::string_view> localization) const {
  std::string file(name);
  if (!type.empty()) file += "." + std::string(type);
  auto lookIn = [&](const std::string& folder) -> std::optional<std::string> {
    std::string path = appendingPathComponent(appendingPathComponent(folder, directory), file);
    return isRegularFile(path) ? std::optional<std::string>(path) : std::nullopt;
  };
  std::string resources = resourcePath();
  if (localization) {
    return lookIn(appendingPathComponent(resources, std::string(*localization) + ".lproj"));
  }
  if (auto path = lookIn(resources)) return path;
  for (const std::string& language : localizations()) {
    if (auto path = lookIn(appendingPathComponent(resources, language + ".lproj"))) return path;
  }
  return std::nullopt;
}

}  // namespace foundation
