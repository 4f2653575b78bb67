#include "FileManager.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "DirectoryStream.h"
#include "Paths.h"

namespace foundation {
namespace {

double seconds(const struct statx_timestamp& stamp) {
  return static_cast<double>(stamp.tv_sec) + static_cast<double>(stamp.tv_nsec) / 1e9;
}

// Paths whose removal would take the root folder, or a folder named through "." or "..".
bool namesRootOrDots(std::string_view path) {
  std::filesystem::path normal = std::filesystem::path(std::string(path)).lexically_normal();
  if (normal == normal.root_path() && !normal.empty()) return true;
  std::string last = lastPathComponent(path);
  return last == "." || last == "..";
}

}  // namespace

std::string FileManager::fileSystemRepresentationWithPath(std::string_view path) {
  return platformPath(path);
}

bool FileManager::fileExistsAtPath(std::string_view path, bool* isDirectory) {
  if (path.empty()) return false;
  struct stat info {};
  if (::stat(platformPath(path).c_str(), &info) != 0) return false;
  if (isDirectory) *isDirectory = S_ISDIR(info.st_mode);
  return true;
}

bool FileManager::isExecutableFileAtPath(std::string_view path) {
  if (path.empty()) return false;
  return ::access(platformPath(path).c_str(), X_OK) == 0;
}

std::optional<std::vector<std::string>> FileManager::contentsOfDirectoryAtPath(
    std::string_view path) {
  if (path.empty()) return std::nullopt;
  DirectoryStream dir(platformPath(path));
  if (!dir) return std::nullopt;
  std::vector<std::string> names;
  while (true) {
    errno = 0;
    const dirent* entry = dir.next();
    if (!entry) break;
    std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    names.emplace_back(name);
  }
  if (errno != 0) return std::nullopt;
  return names;
}

std::optional<std::vector<std::string>> FileManager::contentsOfDirectoryAtURL(
    std::string_view folder, unsigned long options) {
  std::optional<std::vector<std::string>> names = contentsOfDirectoryAtPath(folder);
  if (!names) return std::nullopt;
  bool skipHidden = (options & NSDirectoryEnumerationSkipsHiddenFiles) != 0;
  std::vector<std::string> paths;
  paths.reserve(names->size());
  for (const std::string& name : *names) {
    if (skipHidden && name.front() == '.') continue;
    paths.push_back(appendingPathComponent(folder, name));
  }
  return paths;
}

std::optional<Date> FileManager::creationDateOfItemAtPath(std::string_view path) {
  if (path.empty()) return std::nullopt;
  struct statx info {};
  if (::statx(AT_FDCWD, platformPath(path).c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME,
              &info) != 0) {
    return std::nullopt;
  }
  if (info.stx_mask & STATX_BTIME) return Date{seconds(info.stx_btime)};
  if (info.stx_mask & STATX_MTIME) return Date{seconds(info.stx_mtime)};
  return std::nullopt;
}

bool FileManager::removeItemAtPath(std::string_view path) {
  if (path.empty() || namesRootOrDots(path)) return false;
  std::string real = platformPath(path);
  struct stat info {};
  if (::lstat(real.c_str(), &info) != 0) return false;
  std::error_code error;
  std::filesystem::remove_all(real, error);
  return !error;
}

std::vector<std::string> FileManager::searchPathForDirectoriesInDomains(
    SearchPathDirectory directory, unsigned long domainMask, bool expandTilde) {
  std::vector<std::string> paths;
  auto user = [&](std::string_view relative) {
    std::string path = appendingPathComponent("~", relative);
    paths.push_back(expandTilde ? expandTildeInPath(path) : path);
  };
  if (domainMask & NSUserDomainMask) {
    switch (directory) {
      case NSApplicationDirectory:
        user("Applications");
        break;
      case NSLibraryDirectory:
        user("Library");
        break;
      case NSDesktopDirectory:
        user("Desktop");
        break;
    }
  }
  if ((domainMask & NSLocalDomainMask) && directory == NSApplicationDirectory) {
    paths.emplace_back("/Applications");
  }
  return paths;
}

std::vector<std::string> FileManager::URLsForDirectory(SearchPathDirectory directory,
                                                       unsigned long domainMask) {
  return searchPathForDirectoriesInDomains(directory, domainMask, true);
}

}  // namespace foundation
