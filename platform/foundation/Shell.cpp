#include "Shell.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Bundle.h"
#include "Paths.h"

extern char** environ;

namespace foundation {
namespace {

bool isExecutableFile(const std::string& path) {
  struct stat info{};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool isDirectory(const std::string& path) {
  struct stat info{};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::string platformToolsDirectory() {
  // A built bundle sits beside the tools: build/MendkitAgent.app and build/platform/bin.
  if (const Bundle* bundle = Bundle::main()) {
    std::string beside =
        appendingPathComponent(deletingLastPathComponent(bundle->bundlePath()), "platform/bin");
    if (isDirectory(beside)) return beside;
  }
  return MENDKIT_TOOLS_DIR;
}

std::string commandSearchPath() {
  const char* path = std::getenv("PATH");
  std::string value = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  return value + ":" + platformToolsDirectory();
}

std::string resolvedToolPath(std::string_view tool) {
  std::string mapped = platformPath(tool);
  if (tool == "/usr/bin/open" && !isExecutableFile(mapped)) {
    return appendingPathComponent(platformToolsDirectory(), "open");
  }
  return mapped;
}

std::string shellQuoted(std::string_view value) {
  std::string quoted = "'";
  for (char c : value) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += "'";
  return quoted;
}

std::string withToolPathsMapped(const std::string& command) {
  static constexpr std::string_view kOpen = "/usr/bin/open";
  std::string open = resolvedToolPath(kOpen);
  if (open == kOpen) return command;
  auto isBoundary = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == ';' || c == '&' ||
                                        c == '|' || c == '('; };
  std::string mapped;
  size_t from = 0;
  while (true) {
    size_t at = command.find(kOpen, from);
    if (at == std::string::npos) break;
    size_t end = at + kOpen.size();
    bool wordStart = at == 0 || isBoundary(command[at - 1]);
    bool wordEnd = end == command.size() || isBoundary(command[end]) || command[end] == ')';
    mapped.append(command, from, at - from);
    mapped += (wordStart && wordEnd) ? shellQuoted(open) : std::string(kOpen);
    from = end;
  }
  mapped.append(command, from, std::string::npos);
  return mapped;
}

int runShellCommand(const std::string& command) {
  std::string script = withToolPathsMapped(command);
  std::string pathVariable = "PATH=" + commandSearchPath();

  std::vector<std::string> environment;
  for (char** entry = environ; entry && *entry; ++entry) {
    if (std::strncmp(*entry, "PATH=", 5) != 0) environment.emplace_back(*entry);
  }
  environment.push_back(pathVariable);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  const char* argv[] = {"sh", "-c", script.c_str(), nullptr};
  pid_t child = 0;
  if (posix_spawn(&child, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv),
                  envp.data()) != 0) {
    return -1;
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

}  // namespace foundation
