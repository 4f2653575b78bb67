#include "Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace foundation {
namespace {

bool isUnder(std::string_view path, std::string_view folder) {
  if (path.size() < folder.size() || path.substr(0, folder.size()) != folder) return false;
  return path.size() == folder.size() || path[folder.size()] == '/';
}

std::string withoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string homeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) {
    return withoutTrailingSeparators(home);
  }
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir) {
    return withoutTrailingSeparators(found->pw_dir);
  }
  return "/";
}

std::string expandTildeInPath(std::string_view path) {
  if (path == "~") return homeDirectory();
  if (path.size() >= 2 && path[0] == '~' && path[1] == '/') {
    return appendingPathComponent(homeDirectory(), path.substr(2));
  }
  return std::string(path);
}

std::string appendingPathComponent(std::string_view folder, std::string_view name) {
  while (!name.empty() && name.front() == '/') name.remove_prefix(1);
  std::string joined(folder);
  while (joined.size() > 1 && joined.back() == '/') joined.pop_back();
  if (name.empty()) return joined;
  if (joined.empty()) return std::string(name);
  if (joined.back() != '/') joined += '/';
  joined += name;
  return joined;
}

std::string lastPathComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  if (path == "/") return "/";
  size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string deletingLastPathComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return "";
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

std::string platformRoot() {
  const char* root = std::getenv("PLATFORM_ROOT");
  if (!root || !*root) return "";
  std::string value = withoutTrailingSeparators(root);
  return value == "/" ? "" : value;
}

std::string platformPath(std::string_view path) {
  if (path.empty() || path.front() != '/') return std::string(path);
  static constexpr std::string_view kMapped[] = {"/Applications", "/private", "/sys",
                                                 "/usr/bin/open"};
  bool system = false;
  for (std::string_view folder : kMapped) system = system || isUnder(path, folder);
  if (!system) return std::string(path);
  // A path already under the root, or in the home, is a real one: mapping it again would lose it.
  std::string root = platformRoot();
  if (!root.empty() && isUnder(path, root)) return std::string(path);
  std::string home = homeDirectory();
  if (home != "/" && isUnder(path, home)) return std::string(path);
  if (root.empty()) {
    // Linux has no /private, and a user may not make one: launchd's state is the user's own.
    if (!isUnder(path, "/private")) return std::string(path);
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string folder = state && state[0] == '/' ? std::string(state)
                                                  : appendingPathComponent(home, ".local/state");
    return appendingPathComponent(folder, "platform") + std::string(path);
  }
  return root + std::string(path);
}

}  // namespace foundation
