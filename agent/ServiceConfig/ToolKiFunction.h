#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/FileManager.h"

// The agent's toolkit: stateless helpers for the user's privileges, finding and opening
// applications and removing files. Every operation may be called from any thread; none reports an
// error other than by its negative answer.
class ToolKiFunction {
 public:
  ToolKiFunction() = delete;

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
};
