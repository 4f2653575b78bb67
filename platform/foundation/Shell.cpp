#include "Shell.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Bundle.h"
#include "FileDescriptor.h"
#include "Paths.h"
#include "ProcessStart.h"
#include "ShellCommandWords.h"

namespace foundation {
namespace {

constexpr std::string_view kOpenTool = "/usr/bin/open";

bool isExecutableFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

bool isDirectory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isPlainShellCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         (c != '\0' && std::strchr("_./+,:@%-", c) != nullptr);
}

// Appends what `fd` holds to `into`; false once it reached end of file (or failed). With
// `available` only the bytes readable right now are taken, so a writer that goes on can't hold
// the caller.
bool readInto(int fd, std::string& into, bool available) {
  size_t limit = SIZE_MAX;
  if (available) {
    int pending = 0;
    if (::ioctl(fd, FIONREAD, &pending) != 0) return false;
    limit = static_cast<size_t>(pending);
  }
  char buffer[16384];
  while (limit > 0) {
    ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, limit));
    if (got > 0) {
      into.append(buffer, static_cast<size_t>(got));
      if (available) limit -= static_cast<size_t>(got);
      continue;
    }
    if (got == 0) return false;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK;
  }
  return true;
}

}  // namespace

std::string platformToolsDirectory() {
  // The tools sit beside the bundle: lib/mendkit-agent/bin where it is installed, platform/bin
  // in the build tree.
  if (const Bundle* bundle = Bundle::main()) {
    std::string folder = deletingLastPathComponent(bundle->bundlePath());
    for (std::string_view beside : {"bin", "platform/bin"}) {
      std::string tools = appendingPathComponent(folder, beside);
      if (isDirectory(tools)) return tools;
    }
  }
  return MENDKIT_TOOLS_DIR;
}

std::string commandSearchPath() {
  const char* path = std::getenv("PATH");
  std::string value = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  return value + ":" + platformToolsDirectory();
}

std::string resolvedToolPath(std::string_view tool, std::string_view toolsFolder) {
  std::string mapped = platformPath(tool);
  // Without a platform root, /usr/bin/open is the system's own program of that name, not ours.
  if (tool == kOpenTool && (platformRoot().empty() || !isExecutableFile(mapped))) {
    return appendingPathComponent(toolsFolder, "open");
  }
  return mapped;
}

std::string resolvedToolPath(std::string_view tool) {
  return resolvedToolPath(tool, platformToolsDirectory());
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

std::string shellArgument(std::string_view value) {
  bool plain = !value.empty();
  for (char c : value) plain = plain && isPlainShellCharacter(c);
  return plain ? std::string(value) : shellQuoted(value);
}

std::string shellDoubleQuoted(std::string_view value) {
  std::string quoted = "\"";
  for (char c : value) {
    if (c == '$' || c == '`' || c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string withToolPathsMapped(const std::string& command) {
  if (command.find(kOpenTool) == std::string::npos) return command;
  const std::string open = resolvedToolPath(kOpenTool);
  if (open == kOpenTool) return command;
  std::string mapped;
  size_t from = 0;
  for (size_t at : commandWordOffsets(command, kOpenTool)) {
    mapped.append(command, from, at - from);
    mapped += shellQuoted(open);
    from = at + kOpenTool.size();
  }
  mapped.append(command, from, std::string::npos);
  return mapped;
}

int runShellCommand(const std::string& command) {
  ProcessOptions options;
  options.executable = "/bin/sh";
  options.arguments = {"sh", "-c", withToolPathsMapped(command)};
  options.environment = {{"PATH", commandSearchPath()}};
  Result<pid_t> child = startProcess(options);
  if (!child) return -1;
  Result<int> status = waitForProcess(child.value());
  return status ? status.value() : -1;
}

CapturedOutput runCapturingOutput(const std::vector<std::string>& arguments) {
  CapturedOutput output;
  if (arguments.empty()) return output;
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return output;
  FileDescriptor outRead(outPipe[0]), outWrite(outPipe[1]);
  if (::pipe2(errPipe, O_CLOEXEC) != 0) return output;
  FileDescriptor errRead(errPipe[0]), errWrite(errPipe[1]);
  ProcessOptions options;
  options.arguments = arguments;
  options.environment = {{"PATH", commandSearchPath()}};
  options.streams = {ProcessOptions::kNullDevice, outWrite.get(), errWrite.get()};
  Result<pid_t> started = startProcess(options);
  // Only the child keeps the write ends, so the pipes reach end of file when it is done.
  outWrite.reset();
  errWrite.reset();
  if (!started) return output;
  pid_t child = started.value();

  // Reads both pipes until the child has ended; its exit is seen through a pidfd where the kernel
  // has them, else by looking every 50 ms.
  FileDescriptor exitFd(static_cast<int>(::syscall(SYS_pidfd_open, child, 0)));
  const int fds[2] = {outRead.get(), errRead.get()};
  std::string* into[2] = {&output.standardOutput, &output.standardError};
  for (int fd : fds) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  bool open[2] = {true, true};
  int status = 0;
  bool reaped = false;
  while (!reaped && (open[0] || open[1])) {
    pollfd waits[3];
    nfds_t count = 0;
    for (int i = 0; i < 2; ++i) {
      if (open[i]) waits[count++] = pollfd{fds[i], POLLIN, 0};
    }
    if (exitFd) waits[count++] = pollfd{exitFd.get(), POLLIN, 0};
    int ready = ::poll(waits, count, exitFd ? -1 : 50);
    if (ready < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (open[i]) open[i] = readInto(fds[i], *into[i], false);
    }
    pid_t ended = ::waitpid(child, &status, WNOHANG);
    if (ended == child) reaped = true;
    if (ended < 0 && errno != EINTR) break;
  }
  for (int i = 0; i < 2; ++i) {
    if (open[i]) readInto(fds[i], *into[i], true);
  }
  outRead.reset();
  errRead.reset();
  exitFd.reset();
  while (!reaped) {
    pid_t ended = ::waitpid(child, &status, 0);
    if (ended == child) reaped = true;
    if (ended < 0 && errno != EINTR) return output;
  }
  output.status = status;
  return output;
}

}  // namespace foundation
