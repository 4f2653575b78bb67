// open: opens files and application bundles.
//
//   open [-g] [-W] <path>... [--args <argument>...]
//
// An application bundle (Contents/Info.plist naming an executable in Contents/MacOS/) is started
// with the arguments after --args, standard input from /dev/null. Any other file or folder is
// handed to xdg-open. -g (stay in the background) is accepted; Linux has nothing to bring forward.
// -W waits until everything opened has ended; the applications then share open's process group
// and output, and a SIGTERM, SIGINT, SIGHUP or SIGQUIT that open receives is passed on to them.
// Without -W each is detached in a session of its own with its output on /dev/null, and open
// returns at once.
//
// Exit status: 0 once everything was opened (with -W: once it has ended, whatever the
// applications' own exit statuses, as the system's tool does); 1 for a missing path, an
// application or xdg-open that cannot be started, a usage error, or (with -W, the only time its
// answer is awaited) a file xdg-open could not open.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/Bundle.h"
#include "foundation/Paths.h"
#include "foundation/ProcessStart.h"

namespace {

constexpr int kForwarded[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};
constexpr int kMaxChildren = 64;
std::atomic<pid_t> s_children[kMaxChildren];

struct Options {
  bool wait = false;
  std::vector<std::string> paths;
  std::vector<std::string> applicationArguments;
};

int usage() {
  std::fputs("usage: open [-g] [-W] <path>... [--args <argument>...]\n", stderr);
  return 1;
}

// nullopt (after printing why) when the command line is not understood.
std::optional<Options> parse(int argc, char** argv) {
  Options options;
  bool optionsDone = false;
  for (int index = 1; index < argc; ++index) {
    std::string argument = argv[index];
    if (argument == "--args") {
      options.applicationArguments.assign(argv + index + 1, argv + argc);
      break;
    }
    if (optionsDone || argument.size() < 2 || argument[0] != '-') {
      options.paths.push_back(argument);
    } else if (argument == "--") {
      optionsDone = true;
    } else if (argument == "--wait-apps") {
      options.wait = true;
    } else if (argument == "--background") {
    } else if (argument[1] != '-') {
      for (char flag : argument.substr(1)) {
        if (flag == 'W') {
          options.wait = true;
        } else if (flag != 'g') {
          std::fprintf(stderr, "open: invalid option -- %c\n", flag);
          return std::nullopt;
        }
      }
    } else {
      std::fprintf(stderr, "open: unrecognized option '%s'\n", argument.c_str());
      return std::nullopt;
    }
  }
  if (options.paths.empty()) return std::nullopt;
  return options;
}

void forward(int signal) {
  for (auto& child : s_children) {
    pid_t pid = child.load();
    if (pid > 0) ::kill(pid, signal);
  }
}

void remember(pid_t pid) {
  for (auto& child : s_children) {
    pid_t empty = 0;
    if (child.compare_exchange_strong(empty, pid)) return;
  }
}

// Starts argv; with `detach` in a new session with every standard stream on /dev/null.
// Answers the pid, or -1 after printing why not.
pid_t start(const std::vector<std::string>& command, bool detach, const sigset_t& childMask) {
  foundation::ProcessOptions options;
  options.arguments = command;
  options.streams[STDIN_FILENO] = foundation::ProcessOptions::kNullDevice;
  if (detach) {
    options.streams[STDOUT_FILENO] = foundation::ProcessOptions::kNullDevice;
    options.streams[STDERR_FILENO] = foundation::ProcessOptions::kNullDevice;
  }
  options.closeOtherDescriptors = true;
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signal : kForwarded) sigaddset(&defaults, signal);
  options.defaultSignals = defaults;
  options.signalMask = childMask;
  options.newSession = detach;
  foundation::Result<pid_t> pid = foundation::startProcess(options);
  if (!pid) {
    std::fprintf(stderr, "open: cannot run %s: %s\n", command.front().c_str(),
                 std::strerror(pid.error().code));
    return -1;
  }
  return pid.value();
}

// A name that stays inside its folder.
bool isPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// The command that opens `path`; empty (after printing why) when it cannot be opened.
std::vector<std::string> commandFor(const std::string& given, const std::string& path,
                                    const std::vector<std::string>& applicationArguments) {
  auto bundle = foundation::Bundle::atPath(path);
  if (!bundle) return {"xdg-open", path};
  const foundation::PlistValue* name = bundle->objectForInfoDictionaryKey("CFBundleExecutable");
  std::string executable = bundle->executablePath();
  struct stat info {};
  bool usable = name && name->string() && isPlainFileName(*name->string()) &&
                ::stat(executable.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
                ::access(executable.c_str(), X_OK) == 0;
  if (!usable) {
    std::fprintf(stderr, "The application %s cannot be opened because its executable is missing.\n",
                 given.c_str());
    return {};
  }
  std::vector<std::string> command{executable};
  command.insert(command.end(), applicationArguments.begin(), applicationArguments.end());
  return command;
}

std::string absoluteForMessage(const std::string& given) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(given, error);
  return error ? given : absolute.lexically_normal().string();
}

}  // namespace

int main(int argc, char** argv) {
  auto options = parse(argc, argv);
  if (!options) return usage();

  std::vector<std::string> mapped;
  for (const std::string& given : options->paths) {
    std::string path = foundation::platformPath(absoluteForMessage(given));
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
      std::fprintf(stderr, "The file %s does not exist.\n", absoluteForMessage(given).c_str());
      return 1;
    }
    mapped.push_back(path);
  }

  // Forwarded signals stay blocked until every child is known, so none is lost in between.
  sigset_t forwarded, original;
  sigemptyset(&forwarded);
  for (int signal : kForwarded) sigaddset(&forwarded, signal);
  sigprocmask(SIG_BLOCK, &forwarded, &original);
  if (options->wait) {
    struct sigaction action {};
    action.sa_handler = forward;
    sigemptyset(&action.sa_mask);
    for (int signal : kForwarded) sigaction(signal, &action, nullptr);
  }

  int status = 0;
  std::vector<std::pair<pid_t, std::string>> children;  // pid, and the path for xdg-open
  for (size_t index = 0; index < mapped.size(); ++index) {
    auto command = commandFor(options->paths[index], mapped[index], options->applicationArguments);
    if (command.empty()) {
      status = 1;
      continue;
    }
    pid_t pid = start(command, !options->wait, original);
    if (pid < 0) {
      status = 1;
      continue;
    }
    if (options->wait) remember(pid);
    children.emplace_back(pid, command.front() == "xdg-open" ? options->paths[index] : "");
  }
  sigprocmask(SIG_SETMASK, &original, nullptr);
  if (!options->wait) return status;

  for (const auto& [pid, document] : children) {
    foundation::Result<int> ended = foundation::waitForProcess(pid);
    int childStatus = ended ? ended.value() : 0;
    bool failed = !WIFEXITED(childStatus) || WEXITSTATUS(childStatus) != 0;
    if (!document.empty() && failed) {
      std::fprintf(stderr, "open: xdg-open could not open %s\n", document.c_str());
      status = 1;
    }
  }
  return status;
}
