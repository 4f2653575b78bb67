#include "Workspace.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <string_view>

#include "foundation/DirectoryStream.h"
#include "foundation/FileDescriptor.h"
#include "foundation/Paths.h"

namespace appkit {
namespace {

std::string withoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The whole content of a small /proc file; nullopt when it can't be read.
std::optional<std::string> readProcFile(const std::string& path) {
  foundation::FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  std::string content;
  char buffer[4096];
  while (true) {
    ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    content.append(buffer, static_cast<size_t>(got));
  }
  return content;
}

std::optional<uid_t> realUserOf(const std::string& procFolder) {
  std::optional<std::string> status = readProcFile(procFolder + "/status");
  if (!status) return std::nullopt;
  size_t at = status->find("\nUid:");
  if (at == std::string::npos) return std::nullopt;
  at = status->find_first_not_of(" \t", at + 5);
  if (at == std::string::npos) return std::nullopt;
  uid_t uid = 0;
  const char* begin = status->data() + at;
  auto [end, error] = std::from_chars(begin, status->data() + status->size(), uid);
  if (error != std::errc() || end == begin) return std::nullopt;
  return uid;
}

// HOME from the process's environment; nullopt when it has none (or an empty one) or the
// environment can't be read.
std::optional<std::string> homeOf(const std::string& procFolder, bool* readable) {
  std::optional<std::string> environment = readProcFile(procFolder + "/environ");
  *readable = environment.has_value();
  if (!environment) return std::nullopt;
  std::string_view rest(*environment);
  while (!rest.empty()) {
    size_t end = rest.find('\0');
    std::string_view entry = rest.substr(0, end);
    if (entry.substr(0, 5) == "HOME=" && entry.size() > 5) {
      return withoutTrailingSeparators(std::string(entry.substr(5)));
    }
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return std::nullopt;
}

std::string databaseHome(uid_t uid) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir) {
    return withoutTrailingSeparators(found->pw_dir);
  }
  return "/";
}

// The executable of the process whose /proc folder is `name` inside the open /proc `proc`;
// nullopt when it can't be read (another user's process, a kernel thread, a process gone).
std::optional<std::string> executableOf(int proc, const char* name) {
  char link[32];
  std::snprintf(link, sizeof link, "%s/exe", name);
  char target[PATH_MAX];
  ssize_t length = ::readlinkat(proc, link, target, sizeof target);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof target) return std::nullopt;
  return std::string(target, static_cast<size_t>(length));
}

std::optional<pid_t> processIdentifier(std::string_view name) {
  pid_t pid = 0;
  auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
  if (error != std::errc() || end != name.data() + name.size() || pid <= 0) return std::nullopt;
  return pid;
}

// Whether a process belongs to this user's session, learnt lazily: the user database is asked
// only once a process without HOME needs it. One scan's worth, on one thread.
class Session {
 public:
  Session() : _user(::getuid()), _home(withoutTrailingSeparators(foundation::homeDirectory())) {}

  bool contains(const char* name) {
    const std::string folder = std::string("/proc/") + name;
    if (realUserOf(folder) != _user) return false;
    bool readable = false;
    std::optional<std::string> home = homeOf(folder, &readable);
    if (!readable) return false;
    if (home) return *home == _home;
    if (!_fallbackHome) _fallbackHome = databaseHome(_user);
    return *_fallbackHome == _home;
  }

 private:
  uid_t _user;
  std::string _home;
  std::optional<std::string> _fallbackHome;
};

}  // namespace

std::vector<RunningApplication> Workspace::runningApplications() {
  std::vector<RunningApplication> applications;
  foundation::DirectoryStream proc("/proc");
  if (!proc) return applications;
  Session session;
  while (const dirent* entry = proc.next()) {
    std::optional<pid_t> pid = processIdentifier(entry->d_name);
    if (!pid || !session.contains(entry->d_name)) continue;
    applications.push_back(
        RunningApplication{*pid, executableOf(::dirfd(proc.get()), entry->d_name)});
  }
  std::sort(applications.begin(), applications.end(),
            [](const RunningApplication& a, const RunningApplication& b) {
              return a.processIdentifier < b.processIdentifier;
            });
  return applications;
}

bool Workspace::anyApplication(const std::function<bool(const RunningApplication&)>& matches) {
  foundation::DirectoryStream proc("/proc");
  if (!proc) return false;
  std::optional<Session> session;
  while (const dirent* entry = proc.next()) {
    std::optional<pid_t> pid = processIdentifier(entry->d_name);
    if (!pid) continue;
    std::optional<std::string> executable = executableOf(::dirfd(proc.get()), entry->d_name);
    if (!executable) continue;
    if (!matches(RunningApplication{*pid, std::move(executable)})) continue;
    if (!session) session.emplace();
    if (session->contains(entry->d_name)) return true;
  }
  return false;
}

}  // namespace appkit
