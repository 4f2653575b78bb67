#include "ToolKiFunction.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <thread>

#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/ProcessStart.h"
#include "foundation/Shell.h"
#include "foundation/Text.h"

using foundation::FileManager;

namespace {

constexpr const char* kAdminGroup = "admin";
constexpr const char* kOpenTool = "/usr/bin/open";
constexpr size_t kLookupBufferLimit = size_t{16} << 20;

// Calls `lookup(buffer, size)` with a growing buffer while it answers ERANGE.
template <typename Lookup>
bool lookUp(std::vector<char>& buffer, Lookup lookup) {
  buffer.resize(16384);
  while (true) {
    int error = lookup(buffer.data(), buffer.size());
    if (error != ERANGE) return error == 0;
    if (buffer.size() >= kLookupBufferLimit) return false;
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<std::string> loginName(uid_t uid) {
  std::vector<char> buffer;
  passwd entry{};
  passwd* found = nullptr;
  bool ok = lookUp(
      buffer, [&](char* data, size_t size) { return getpwuid_r(uid, &entry, data, size, &found); });
  if (!ok || !found || !found->pw_name) return std::nullopt;
  return std::string(found->pw_name);
}

bool isListedMember(const char* groupName, const std::string& login) {
  std::vector<char> buffer;
  group entry{};
  group* found = nullptr;
  bool ok = lookUp(buffer, [&](char* data, size_t size) {
    return getgrnam_r(groupName, &entry, data, size, &found);
  });
  if (!ok || !found || !found->gr_mem) return false;
  for (char** member = found->gr_mem; *member; ++member) {
    if (login == *member) return true;
  }
  return false;
}

// Whether `part` stands anywhere in `text`, compared without regard to case (Unicode folding).
bool containsIgnoringCase(std::string_view text, std::string_view part) {
  if (part.empty()) return false;
  return foundation::caseFolded(text).find(foundation::caseFolded(part)) != std::string::npos;
}

std::string_view lastPiece(std::string_view text, char separator) {
  size_t at = text.rfind(separator);
  return at == std::string_view::npos ? text : text.substr(at + 1);
}

// Waits for the child in the background so that it never lingers as a zombie.
void reapInBackground(pid_t child) {
  try {
    std::thread([child] { (void)foundation::waitForProcess(child); }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the child is collected only when this process ends.
  }
}

}  // namespace

bool ToolKiFunction::isAdministrator() {
  const uid_t uid = ::getuid();
  std::optional<std::string> login = loginName(uid);
  std::string shown = login ? *login : "uid " + std::to_string(uid);
  if (login && isListedMember(kAdminGroup, *login)) {
    foundation::NSLog("%s isAdministrator!", shown.c_str());
    return true;
  }
  foundation::NSLog("%s is not Administrator!", shown.c_str());
  return false;
}

std::optional<std::vector<std::string>> ToolKiFunction::listForDirectory(
    foundation::SearchPathDirectory directory) {
  unsigned long domain = directory == foundation::NSApplicationDirectory
                             ? foundation::NSLocalDomainMask
                             : foundation::NSUserDomainMask;
  std::vector<std::string> folders = FileManager::URLsForDirectory(directory, domain);
  if (folders.empty()) return std::nullopt;
  return FileManager::contentsOfDirectoryAtURL(folders.front(),
                                               foundation::NSDirectoryEnumerationSkipsHiddenFiles);
}

bool ToolKiFunction::parsingURlHaveString(std::string_view path, std::string_view match) {
  if (path.find(".app") == std::string_view::npos) return false;
  if (!containsIgnoringCase(lastPiece(path, '/'), match)) return false;
  return lastPiece(path, '.') == "app";
}

bool ToolKiFunction::aplicationIsInstall(const std::optional<std::string>& name,
                                         std::string* path) {
  if (!name || name->empty()) return false;
  const std::string wanted = *name + ".app";
  for (foundation::SearchPathDirectory folder :
       {foundation::NSApplicationDirectory, foundation::NSDesktopDirectory}) {
    std::optional<std::vector<std::string>> entries = listForDirectory(folder);
    if (!entries) continue;
    for (const std::string& entry : *entries) {
      if (!parsingURlHaveString(entry, wanted)) continue;
      if (path) *path = entry;
      return true;
    }
  }
  return false;
}

bool ToolKiFunction::openAplication(const std::optional<std::string>& path) {
  if (!path) return false;
  foundation::ProcessOptions options;
  options.arguments = {foundation::resolvedToolPath(kOpenTool), *path};
  foundation::Result<pid_t> child = foundation::startProcess(options);
  if (!child) return false;
  reapInBackground(child.value());
  return true;
}

std::string ToolKiFunction::ApllicationPath() {
  std::vector<std::string> paths = FileManager::searchPathForDirectoriesInDomains(
      foundation::NSApplicationDirectory, foundation::NSLocalDomainMask, true);
  return paths.empty() ? std::string() : paths.back();
}

bool ToolKiFunction::deleteFile(const std::optional<std::string>& path) {
  if (!path || path->empty()) return false;
  return FileManager::removeItemAtPath(*path);
}
