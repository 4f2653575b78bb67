#pragma once

#include <string>
#include <string_view>

namespace foundation {

// The user's home folder: `HOME`, else the user database's entry. Never ends with a separator
// (unless it is "/").
std::string homeDirectory();

// "~" and "~/rest" become the home folder; any other path is returned unchanged.
std::string expandTildeInPath(std::string_view path);

// Joins `name` to `folder` with exactly one separator between them.
std::string appendingPathComponent(std::string_view folder, std::string_view name);
std::string lastPathComponent(std::string_view path);
std::string deletingLastPathComponent(std::string_view path);

// `PLATFORM_ROOT` (default "/"), without a trailing separator; "" stands for "/".
std::string platformRoot();

// Where the process really finds a system location the agent names. Paths under /Applications,
// /private, /sys and the tool /usr/bin/open live under `PLATFORM_ROOT`; every other path is used
// as it is, and so is one already under `PLATFORM_ROOT` or in the home folder (mapping a path
// twice answers it unchanged). The agent keeps reporting the unmapped path; the foundation
// functions that reach the file system map the paths they are given, so only the platform's own
// code calls this. Without a platform root, /private (launchd's state, which a user could not
// create at the real root) is $XDG_STATE_HOME/platform/private, by default under
// ~/.local/state.
std::string platformPath(std::string_view path);

}  // namespace foundation
