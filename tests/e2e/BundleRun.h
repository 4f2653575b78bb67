#pragma once

#include <stdlib.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/Subprocess.h"

namespace e2e {

// Runs the built agent with `arguments` in the current environment (the test's HOME and
// PLATFORM_ROOT), waiting at most `limitSeconds` for it to end before killing it. Its log lines
// (standard error) are in `err`. What it leaves running may keep its output open: only its own
// end counts.
inline testing_support::ChildResult runAgent(const std::vector<std::string>& arguments,
                                             double limitSeconds = 15) {
  std::vector<std::string> argv = {MENDKIT_AGENT_EXECUTABLE};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return testing_support::runChild(argv, {.untilOutputCloses = false}, limitSeconds);
}

// While it lives, the agents started meanwhile run off-screen (PLATFORM_BACKEND=offscreen), and
// DISPLAY and WAYLAND_DISPLAY are unset, so that nothing they start shows a window either; all
// three are restored when it is destroyed.
class OffScreen {
 public:
  OffScreen() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "PLATFORM_BACKEND"}) {
      if (const char* value = ::getenv(name)) _saved.emplace_back(name, value);
      ::unsetenv(name);
    }
    ::setenv("PLATFORM_BACKEND", "offscreen", 1);
  }
  ~OffScreen() {
    ::unsetenv("PLATFORM_BACKEND");
    for (const auto& [name, value] : _saved) ::setenv(name.c_str(), value.c_str(), 1);
  }
  OffScreen(const OffScreen&) = delete;
  OffScreen& operator=(const OffScreen&) = delete;

 private:
  std::vector<std::pair<std::string, std::string>> _saved;
};

// Environment entries that start a child under the fake-time library with its wall clock at
// `moment` (local time, "YYYY-MM-DD hh:mm:ss") and running on at real speed from there; its
// monotonic clock, which timers and waits follow, stays real. nullopt when the library was not
// found at build time.
inline std::optional<std::vector<std::string>> fakeTimeAt(const std::string& moment) {
  std::string library = FAKETIME_LIBRARY;
  if (library.empty() || library.ends_with("-NOTFOUND")) return std::nullopt;
  // In a sanitized build the sanitizer's runtime would refuse to start behind the preloaded
  // library; the clock functions it replaces are none of the sanitizer's.
  const char* asan = getenv("ASAN_OPTIONS");
  std::string asanOptions = std::string(asan ? asan : "") + ":verify_asan_link_order=0";
  return std::vector<std::string>{"LD_PRELOAD=" + library, "FAKETIME=@" + moment,
                                  "FAKETIME_DONT_RESET=1", "FAKETIME_DONT_FAKE_MONOTONIC=1",
                                  "ASAN_OPTIONS=" + asanOptions};
}

}  // namespace e2e
