#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/AppleEventDescriptor.h"
#include "foundation/FileManager.h"
#include "foundation/PropertyList.h"

// The agent's toolkit: stateless helpers for the user's privileges, finding and opening
// applications, removing files and installing an application from a disk image, and a cache
// worker. Every operation may be called from any thread unless its comment says otherwise; none
// reports an error other than by its negative answer.
class ToolKiFunction {
 public:
  ToolKiFunction() = delete;

  // Receives what the install script printed, on the thread that runs the installation.
  using InstallCompletion = std::function<void(const foundation::AppleEventDescriptor&)>;

  // YES when the login name of the process's real user is listed among the members of the group
  // "admin" (membership by primary group does not count). Logs exactly one line per call:
  // "<name> isAdministrator!" or "<name> is not Administrator!". Without a user record the name
  // is written as "uid <number>", and without an "admin" group the answer is NO.
  static bool isAdministrator();

  // The full paths of the entries of a standard directory, hidden ones left out, unsorted: the
  // machine-wide folder for NSApplicationDirectory, the user's for any other code. nullopt when
  // there is no such folder or it can't be read.
  static std::optional<std::vector<std::string>> listForDirectory(
      foundation::SearchPathDirectory directory);

  // YES when `path` names an application bundle whose last component contains `match`, letter case
  // ignored in any script ("MÄNDKIT" holds "mändkit"; bytes that are not UTF-8 compare with ASCII
  // case ignored only): the path contains ".app" and its last "."-separated piece is "app".
  static bool parsingURlHaveString(std::string_view path, std::string_view match);

  // YES when "<name>.app" is found in the Applications folder, else on the Desktop; the first
  // match in listing order is then written to `path` (when not null). A missing or empty name is
  // NO without reading any folder; on NO `path` is left as it was.
  static bool aplicationIsInstall(const std::optional<std::string>& name, std::string* path);

  // Starts "/usr/bin/open" (as resolved for this platform) with `path` as its only argument and
  // answers YES once it has started; it is neither waited for nor its outcome read, and it is
  // reaped in the background when it ends. NO for a missing path or a tool that can't be started.
  static bool openAplication(const std::optional<std::string>& path);

  // The machine-wide Applications folder: "/Applications".
  static std::string ApllicationPath();

  // Removes the file or folder (with its contents) at `path`; YES when the file manager did.
  // NO for a missing or empty path.
  static bool deleteFile(const std::optional<std::string>& path);

  // --- disk images (ToolKiFunction+DiskImage.cpp) ---

  // YES when the bundle's test_attach.sh, run through the shell with `path` as its one argument,
  // ends with status 0 (the file is a disk image that can be attached). NO without a bundle.
  // Blocks the caller's thread while the script runs.
  static bool attactDmgFile(const std::string& path);

  // Installs the application in the disk image at `path` with the bundle's install_script.sh,
  // given the image, the Applications folder and the home folder, each as one shell word. Run
  // through AppleScript, plainly when `isAdministrator`, else with administrator privileges.
  // Answers 0 when the script succeeded, after calling `result` (when set) once with its output;
  // -1 otherwise. A path whose last "."-piece is not "dmg" is refused with the log line
  // "Dmg file error!" and a missing one silently; any other image file is deleted afterwards,
  // whatever the outcome. Blocks the caller's thread, which also runs `result`.
  static std::int32_t runAppScripteInstallApp(const std::optional<std::string>& path,
                                              bool isAdministrator,
                                              const InstallCompletion& result);
  // runAppScripteInstallApp with isAdministrator() as the flag, asked only for an accepted path.
  static std::int32_t runScripteInstallApp(const std::optional<std::string>& path,
                                           const InstallCompletion& result);

  // --- cache worker (ToolKiFunction+CacheThread.cpp) ---

  // Queues one cache load on the worker's queue (made on the first call, kept for the process's
  // life) and returns at once. The load replaces the cache list with a new one, in one step.
  static void loadCacheDataThread();
  // Blocks until every load queued so far has finished; at once when none ever was. Not from a
  // load.
  static void waitCacheThreadFinished();
  // YES while a load is queued or running.
  static bool isCacheThreadRunning();
  // The cache list itself (shared, not a copy), or null before the first load finished and after
  // emptyCacheData. Read it only while no load is queued or running.
  static std::shared_ptr<foundation::PlistArray> cacheArray();
  // Empties the cache list in place, so that holders of it see it empty, and drops it.
  static void emptyCacheData();

  // Data sources this system has none of: each answers nullopt and has no effect.
  static std::optional<foundation::PlistArray> getToolJsionDataInfo(bool refresh);
  static std::optional<foundation::PlistValue> parsingJsonData(
      const std::optional<foundation::PlistValue>& data, bool downloadImage);
  static std::optional<foundation::PlistData> readImageDataFromUrl(
      const std::optional<foundation::PlistValue>& url);
};
