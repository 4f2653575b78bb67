#pragma once

#include <optional>
#include <string>

#include "AppleEventDescriptor.h"
#include "PropertyList.h"

namespace foundation {

// Keys of the error information a script answers.
inline constexpr const char* NSAppleScriptErrorMessage = "NSAppleScriptErrorMessage";
inline constexpr const char* NSAppleScriptErrorNumber = "NSAppleScriptErrorNumber";
// Error numbers of the facility's own (a failed command answers its exit status instead).
inline constexpr int kAppleScriptSyntaxError = -2740;
inline constexpr int kAppleScriptUserCanceled = -128;  // the administrator prompt was refused
inline constexpr int kAppleScriptCannotRun = -1;       // no shell, or no administrator prompt

// A script of one of the two forms the agent runs:
//   do shell script "TEXT"
//   do shell script "TEXT" with administrator privileges
// TEXT is an AppleScript string in which `\\` stands for a backslash and `\"` for a double quote;
// no other backslash may appear in it. The text runs with /bin/sh -c in runShellCommand's
// environment, "/usr/bin/open" as a command word resolved as there (see withToolPathsMapped). With
// administrator privileges it runs as root: directly when the process is root already, else through
// `pkexec`, whose refusal or cancellation is an error. An instance is used by one thread at a time;
// separate instances may run on any threads.
class AppleScript {
 public:
  explicit AppleScript(std::string source) : _source(std::move(source)) {}

  // Parses the source (surrounding white space is ignored). On a source of any other form
  // answers false and sets `errorInfo` (when not null) to a syntax error.
  bool compileAndReturnError(PlistDictionary* errorInfo);

  // Compiles when needed, then runs the command on the caller's thread and waits for it. Answers
  // a text descriptor of its standard output with one trailing newline removed (other line ends
  // kept as written). On
  // failure answers nullopt and sets `errorInfo` (when not null) to the message (the command's
  // standard error, one trailing newline removed) and the number (its exit status, 128 + N when
  // signal N ended it, or one of the facility's numbers above).
  std::optional<AppleEventDescriptor> executeAndReturnError(PlistDictionary* errorInfo);

  // The shell text and the form of a compiled script; nullopt / false before compiling.
  const std::optional<std::string>& command() const { return _command; }
  bool withAdministratorPrivileges() const { return _withAdministratorPrivileges; }

  // Makes the administrator form see the process as root or not; nullopt restores geteuid().
  static void setRunsAsRootForTesting(std::optional<bool> asRoot);

 private:
  std::string _source;
  std::optional<std::string> _command;
  bool _withAdministratorPrivileges = false;
};

}  // namespace foundation
