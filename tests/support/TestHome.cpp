#include "support/TestHome.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace testing_support {
namespace {

std::optional<std::string> getEnv(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

void restoreEnv(const char* name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
}

}  // namespace

TestHome::TestHome()
    : _oldHome(getEnv("HOME")),
      _oldRoot(getEnv("PLATFORM_ROOT")),
      _oldConfig(getEnv("XDG_CONFIG_HOME")) {
  std::string pattern = (std::filesystem::temp_directory_path() / "mendkit-test-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  if (!made) {
    ADD_FAILURE() << "cannot create a temporary folder";
    std::abort();
  }
  _base = made;
  _home = _base + "/home";
  _root = _base + "/root";
  std::filesystem::create_directories(_home);
  std::filesystem::create_directories(_root);
  setenv("HOME", _home.c_str(), 1);
  setenv("PLATFORM_ROOT", _root.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (_home + "/.config").c_str(), 1);
}

TestHome::~TestHome() {
  restoreEnv("HOME", _oldHome);
  restoreEnv("PLATFORM_ROOT", _oldRoot);
  restoreEnv("XDG_CONFIG_HOME", _oldConfig);
  std::error_code ignored;
  std::filesystem::remove_all(_base, ignored);
}

std::string TestHome::inHome(std::string_view relative) const {
  return _home + "/" + std::string(relative);
}

std::string TestHome::inRoot(std::string_view relative) const {
  while (!relative.empty() && relative.front() == '/') relative.remove_prefix(1);
  return _root + "/" + std::string(relative);
}

void writeFile(const std::string& path, std::string_view contents) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

}  // namespace testing_support
