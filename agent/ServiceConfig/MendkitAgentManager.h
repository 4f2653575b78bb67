#pragma once

#include <optional>
#include <string>

// Installs, checks, loads, unloads and removes the agent's per-user launchd job, whose file is
// ~/Library/LaunchAgents/<label>.plist. Talks to launchd only through `launchctl` run by the
// shell; a value put into a command reaches the shell as exactly that one word. Stateless: every
// operation may be called from any thread and blocks it while its commands run. No operation
// reports where it stopped; failures are logged as stated or not at all.
class MendkitAgentManager {
 public:
  MendkitAgentManager() = delete;

  // Writes the job file from the template's dictionary, its ProgramArguments replaced by
  // "/usr/bin/open" "-g" "-W" <agent bundle> "--args" "-r", then runs `launchctl unload -w` on it
  // (no load). The job file appears complete or not at all, also when the process is killed
  // part way. Does nothing, silently, for a missing or unreadable template or one without a
  // Label; logs "agent is already install!" and changes nothing when the job file exists.
  static void installLaunchAgent(const std::optional<std::string>& templatePath);

  // YES when anything exists at the label's job file path.
  static bool launchAgentIsInstall(const std::string& label);

  // YES when launchd's override database of the real user records the label as not disabled;
  // NO without an entry, with a non-number entry, or when the database can't be read.
  static bool launchAgentIsLoad(const std::string& label);

  // Runs `launchctl remove <label>`, then `launchctl load -w <job file>` (needLoad) or
  // `launchctl unload -w <job file>`. Nothing for a missing or empty label.
  static void loadLaunchAgent(const std::optional<std::string>& label, bool needLoad);

  // Runs `launchctl remove <label>` and `launchctl unload -w <job file>`, then removes the job
  // file (a missing file is no error). Nothing for a missing or empty label.
  static void removeAndUnloadLaunchAgent(const std::optional<std::string>& label);

  // Runs the shell command through the AppleScript facility on the caller's thread: plainly for
  // an administrator, with administrator privileges for any other user. YES when it succeeded
  // (logged with its output); NO when it failed (logged with the error information) and, without
  // a log line, for a missing or empty command.
  static bool runComandUseAppleScript(const std::optional<std::string>& command);
  // The AppleScript source runComandUseAppleScript runs for `command`: the plain form for an
  // administrator, the form with administrator privileges for anyone else.
  static std::string appleScriptSource(const std::string& command, bool administrator);
};
