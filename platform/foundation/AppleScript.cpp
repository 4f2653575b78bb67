#include "AppleScript.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "Paths.h"
#include "Shell.h"

namespace foundation {
namespace {

constexpr std::string_view kPrefix = "do shell script \"";
constexpr std::string_view kAdministratorSuffix = " with administrator privileges";
constexpr std::string_view kWhiteSpace = " \t\r\n";
// Written by the privileged shell before the command: its presence tells that pkexec let the
// command run, so that the command's own 126 or 127 is not taken for a refusal.
constexpr std::string_view kAuthorizedMarker = "\036authorized\036";

// -1 unset, 0 not root, 1 root.
std::atomic<int> s_rootForTesting{-1};

bool runsAsRoot() {
  int forced = s_rootForTesting.load();
  return forced < 0 ? ::geteuid() == 0 : forced == 1;
}

PlistDictionary errorDictionary(std::string message, std::int64_t number) {
  return PlistDictionary{{NSAppleScriptErrorMessage, PlistValue(std::move(message))},
                         {NSAppleScriptErrorNumber, PlistValue(number)}};
}

void setError(PlistDictionary* errorInfo, std::string message, std::int64_t number) {
  if (errorInfo) *errorInfo = errorDictionary(std::move(message), number);
}

std::string withoutTrailingNewline(std::string text) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

std::optional<std::string> pkexecPath() {
  std::string folders = commandSearchPath();
  size_t from = 0;
  while (from <= folders.size()) {
    size_t end = folders.find(':', from);
    if (end == std::string::npos) end = folders.size();
    std::string folder = folders.substr(from, end - from);
    if (!folder.empty() && folder.front() == '/') {
      std::string candidate = appendingPathComponent(folder, "pkexec");
      struct stat info {};
      if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
          ::access(candidate.c_str(), X_OK) == 0) {
        return candidate;
      }
    }
    from = end + 1;
  }
  return std::nullopt;
}

// pkexec gives its program a minimal environment: the shell it starts restores the command's
// PATH (and PLATFORM_ROOT, when set), announces itself, and then runs the command.
std::vector<std::string> privilegedArguments(const std::string& pkexec, const std::string& script) {
  std::vector<std::string> arguments{pkexec, "/bin/sh", "-c", "", "sh", commandSearchPath()};
  std::string wrapper = "PATH=\"$1\"; export PATH; ";
  const char* root = std::getenv("PLATFORM_ROOT");
  if (root) {
    wrapper += "PLATFORM_ROOT=\"$2\"; export PLATFORM_ROOT; ";
    arguments.emplace_back(root);
  }
  wrapper += "printf '\\036authorized\\036' >&2; exec /bin/sh -c \"$" +
             std::to_string(arguments.size() - 4) + "\"";
  arguments[3] = wrapper;
  arguments.push_back(script);
  return arguments;
}

}  // namespace

void AppleScript::setRunsAsRootForTesting(std::optional<bool> asRoot) {
  s_rootForTesting.store(asRoot ? (*asRoot ? 1 : 0) : -1);
}

bool AppleScript::compileAndReturnError(PlistDictionary* errorInfo) {
  std::string_view source = _source;
  size_t first = source.find_first_not_of(kWhiteSpace);
  source = first == std::string_view::npos ? std::string_view() : source.substr(first);
  source = source.substr(0, source.find_last_not_of(kWhiteSpace) + 1);

  if (source.substr(0, kPrefix.size()) != kPrefix) {
    setError(errorInfo, "Expected \"do shell script\" followed by a string.",
             kAppleScriptSyntaxError);
    return false;
  }
  std::string text;
  size_t at = kPrefix.size();
  bool closed = false;
  while (at < source.size() && !closed) {
    char c = source[at++];
    if (c == '"') {
      closed = true;
    } else if (c == '\\') {
      if (at == source.size() || (source[at] != '\\' && source[at] != '"')) {
        setError(errorInfo, "A backslash in a string must stand before a backslash or a quote.",
                 kAppleScriptSyntaxError);
        return false;
      }
      text += source[at++];
    } else if (c == '\0') {
      setError(errorInfo, "A string can't hold a NUL character.", kAppleScriptSyntaxError);
      return false;
    } else {
      text += c;
    }
  }
  if (!closed) {
    setError(errorInfo, "Expected the string to end with a quote.", kAppleScriptSyntaxError);
    return false;
  }
  std::string_view rest = source.substr(at);
  if (!rest.empty() && rest != kAdministratorSuffix) {
    setError(errorInfo,
             "Expected the end of the script or \"with administrator privileges\" after the "
             "string.",
             kAppleScriptSyntaxError);
    return false;
  }
  _command = std::move(text);
  _withAdministratorPrivileges = !rest.empty();
  return true;
}

std::optional<AppleEventDescriptor> AppleScript::executeAndReturnError(PlistDictionary* errorInfo) {
  if (!_command && !compileAndReturnError(errorInfo)) return std::nullopt;
  std::string script = withToolPathsMapped(*_command);

  bool privileged = _withAdministratorPrivileges && !runsAsRoot();
  std::vector<std::string> arguments{"/bin/sh", "-c", script};
  if (privileged) {
    std::optional<std::string> pkexec = pkexecPath();
    if (!pkexec) {
      setError(errorInfo, "No administrator prompt (pkexec) is available.", kAppleScriptCannotRun);
      return std::nullopt;
    }
    arguments = privilegedArguments(*pkexec, script);
  }

  CapturedOutput output = runCapturingOutput(arguments);
  if (output.status == -1) {
    setError(errorInfo, "The shell could not be started.", kAppleScriptCannotRun);
    return std::nullopt;
  }
  if (privileged) {
    size_t marker = output.standardError.find(kAuthorizedMarker);
    if (marker == std::string::npos) {
      std::string message = withoutTrailingNewline(output.standardError);
      setError(errorInfo, message.empty() ? "User canceled." : message, kAppleScriptUserCanceled);
      return std::nullopt;
    }
    output.standardError.erase(0, marker + kAuthorizedMarker.size());
  }

  int status = output.status;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    return AppleEventDescriptor::descriptorWithString(
        withoutTrailingNewline(std::move(output.standardOutput)));
  }
  std::string message = withoutTrailingNewline(std::move(output.standardError));
  std::int64_t number = 0;
  if (WIFSIGNALED(status)) {
    number = 128 + WTERMSIG(status);
    if (message.empty())
      message = "The command was ended by signal " + std::to_string(WTERMSIG(status)) + ".";
  } else {
    number = WEXITSTATUS(status);
    if (message.empty()) message = "The command exited with a non-zero status.";
  }
  setError(errorInfo, std::move(message), number);
  return std::nullopt;
}

}  // namespace foundation
