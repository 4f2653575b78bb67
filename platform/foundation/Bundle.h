#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "PropertyList.h"

namespace foundation {

// An application bundle on disk: <path>/Contents/{Info.plist, MacOS/, Resources/, Frameworks/}.
// Immutable after loading; safe to share between threads.
class Bundle {
 public:
  // The bundle at `path`; nullopt when it has no readable Contents/Info.plist dictionary.
  static std::optional<Bundle> atPath(const std::string& path);

  // The bundle holding the running executable (…/Contents/MacOS/<name>, found from
  // /proc/self/exe), loaded once; null when the executable does not lie in a bundle.
  static const Bundle* main();
  // Replaces what main() answers, for tests (nullopt restores the executable's own bundle).
  static void setMainForTesting(std::optional<Bundle> bundle);

  const std::string& bundlePath() const { return _path; }
  std::string resourcePath() const;
  std::string executablePath() const;
  const PlistDictionary& infoDictionary() const { return _info; }
  const PlistValue* objectForInfoDictionaryKey(std::string_view key) const;
  // CFBundleIdentifier, or "" when absent.
  std::string bundleIdentifier() const;

  // CFBundleLocalizations in their order; without it the Resources/<name>.lproj folders by name.
  std::vector<std::string> localizations() const;

  // The resource "<name>.<type>" (type may be empty) in Resources/[directory/]; without a
  // localization the unlocalized file, else that of the first localization that has one; with a
  // localization only Resources/<localization>.lproj/[directory/]. nullopt when no such file.
  std::optional<std::string> pathForResource(
      std::string_view name, std::string_view type, std::string_view directory = {},
      std::optional<std::string_view> localization = {}) const;

 private:
  Bundle(std::string path, PlistDictionary info) : _path(std::move(path)), _info(std::move(info)) {}
  std::string _path;
  PlistDictionary _info;
};

}  // namespace foundation
