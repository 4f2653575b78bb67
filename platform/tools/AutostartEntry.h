#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace launchd {

struct JobDescription;

// The session type of a graphical login, the one a login's bootstrap loads jobs for.
inline constexpr std::string_view kGraphicalSessionType = "Aqua";

// ~/Library/LaunchAgents: the job files a graphical login loads.
std::string userAgentsFolder();

// The regular files (symbolic links followed) named *.plist, not hidden, directly in `folder`,
// sorted by name; nullopt when the folder can't be read.
std::optional<std::vector<std::string>> jobFilesIn(const std::string& folder);

// True when a login's bootstrap loads `job`: it is not disabled (the override database first,
// then its own Disabled key) and it may load in a graphical session.
bool loadsAtGraphicalLogin(const JobDescription& job);

// The folder of the session's autostart entries: $XDG_CONFIG_HOME/autostart, or
// ~/.config/autostart when the variable is unset, empty or not an absolute path.
std::string autostartFolder();

// The one entry launchctl keeps in autostartFolder().
std::string autostartEntryPath();

// `argument` as one argument of a desktop entry's Exec key: double-quoted when it is empty or holds
// a character the Exec rules reserve, with '"', '`', '$' and '\' escaped inside the quotes, and
// every '%' doubled. The key file's own string escaping is not applied.
std::string desktopExecArgument(std::string_view argument);

// `value` escaped as a key file string: '\' as "\\", newline, tab and carriage return as "\n",
// "\t", "\r", and a leading space as "\s".
std::string desktopStringValue(std::string_view value);

// The whole entry that runs `launchctl bootstrap gui/<uid> <agentsFolder>` at session start; its
// TryExec makes a session pass it over once `launchctlPath` is gone (a removed package).
std::string autostartEntryText(std::string_view launchctlPath, uid_t uid,
                               std::string_view agentsFolder);

// Brings the entry in line with userAgentsFolder(): written (atomically, and only when its text
// differs) while at least one job file there loads at a graphical login, removed otherwise. The
// entry runs the executable of the calling process. Call with the user's lock held
// (JobRegistry::lock). Answers "" when done, otherwise what went wrong.
std::string updateAutostartEntry();

}  // namespace launchd
