#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Date.h"

namespace foundation {

// Standard-directory codes, with the platform's numeric values.
enum SearchPathDirectory : unsigned long {
  NSApplicationDirectory = 1,
  NSLibraryDirectory = 5,
  NSDesktopDirectory = 12,
};

// Domains of the standard directories; several may be combined.
enum SearchPathDomainMask : unsigned long {
  NSUserDomainMask = 1,
  NSLocalDomainMask = 2,
};

enum DirectoryEnumerationOptions : unsigned long {
  NSDirectoryEnumerationSkipsHiddenFiles = 1UL << 2,
};

// The file system as the agent sees it. Every path given is an agent path: one under
// /Applications, /private, /sys or /usr/bin/open is looked up under PLATFORM_ROOT (see
// platformPath), any other is used as it is. Paths handed back stay agent paths, except by
// fileSystemRepresentationWithPath.
//
// Stateless; every operation may be called from any thread. Failures are answered as false,
// nullopt or an empty list; no error details are kept.
class FileManager {
 public:
  FileManager() = delete;

  // The path at which the file system holds the item of an agent path: what to hand a function
  // that opens files by name outside this layer.
  static std::string fileSystemRepresentationWithPath(std::string_view path);

  // YES when something exists at the path (a symbolic link counts by what it points to).
  // `isDirectory`, when given, is set to whether that is a folder.
  static bool fileExistsAtPath(std::string_view path, bool* isDirectory = nullptr);
  // YES when the path exists and the real user may execute it (for a folder: enter it).
  static bool isExecutableFileAtPath(std::string_view path);

  // The names of the folder's immediate entries ("." and ".." left out), in the file system's
  // order; nullopt when the path is not a folder that can be read.
  static std::optional<std::vector<std::string>> contentsOfDirectoryAtPath(std::string_view path);
  // The same listing as full paths (the folder joined with each name). With
  // NSDirectoryEnumerationSkipsHiddenFiles, names beginning with "." are left out.
  static std::optional<std::vector<std::string>> contentsOfDirectoryAtURL(std::string_view folder,
                                                                          unsigned long options);

  // When the item at the path (a symbolic link itself, not its target) was created: the file
  // system's birth time where it records one (statx), otherwise its last modification time.
  // nullopt when the item's attributes can't be read.
  static std::optional<Date> creationDateOfItemAtPath(std::string_view path);

  // Removes the item at the path, a folder with all its contents; a symbolic link is removed, not
  // followed. YES only when the item existed and is gone. A path naming the root folder, or ending
  // in "." or "..", is refused (NO, nothing removed).
  static bool removeItemAtPath(std::string_view path);

  // The standard directories for `directory` in the domains of `domainMask`, user domain first.
  // User-domain paths begin with "~" unless `expandTilde`. Codes with no folder in a domain add
  // nothing: the Applications folder is "~/Applications" and "/Applications"; Desktop and Library
  // are the user's only.
  static std::vector<std::string> searchPathForDirectoriesInDomains(SearchPathDirectory directory,
                                                                    unsigned long domainMask,
                                                                    bool expandTilde);
  // The same folders, expanded, as file paths.
  static std::vector<std::string> URLsForDirectory(SearchPathDirectory directory,
                                                   unsigned long domainMask);
};

}  // namespace foundation
