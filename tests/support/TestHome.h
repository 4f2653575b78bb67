#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

namespace testing_support {

// A temporary home and platform root for one test: sets HOME and PLATFORM_ROOT to fresh folders
// under a new temporary directory, and XDG_CONFIG_HOME to the home's .config, and restores all
// three (and removes the directory) when destroyed.
class TestHome {
 public:
  TestHome();
  ~TestHome();
  TestHome(const TestHome&) = delete;
  TestHome& operator=(const TestHome&) = delete;

  const std::string& base() const { return _base; }
  const std::string& home() const { return _home; }
  const std::string& root() const { return _root; }

  // Absolute path of `relative` inside the home / the platform root.
  std::string inHome(std::string_view relative) const;
  std::string inRoot(std::string_view relative) const;

 private:
  std::string _base, _home, _root;
  std::optional<std::string> _oldHome, _oldRoot, _oldConfig;
};

// A fixture giving every test its own TestHome.
class HomeTest : public ::testing::Test {
 protected:
  TestHome sandbox;
};

// Writes `contents` to `path`, creating missing folders. Fails the test on error.
void writeFile(const std::string& path, std::string_view contents);
// The whole file, or nullopt when it can't be read.
std::optional<std::string> readFile(const std::string& path);

}  // namespace testing_support
