#pragma once

// Pieces every benchmark here shares: a temporary folder and best-of-N timing.

#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <string>

#include "foundation/Clock.h"

namespace bench {

// A temporary folder for a benchmark's files, removed with everything in it when destroyed.
// path() is empty when the folder could not be made.
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) != nullptr) _path = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!_path.empty()) std::filesystem::remove_all(_path, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return _path; }

 private:
  std::string _path;
};

// The shortest of `runs` timings of `run`, in seconds; -1 as soon as one run reports failure.
inline double bestOf(int runs, const std::function<bool()>& run) {
  foundation::Clock& clock = foundation::Clock::current();
  double best = -1;
  for (int i = 0; i < runs; ++i) {
    double start = clock.uptime();
    if (!run()) return -1;
    double seconds = clock.uptime() - start;
    if (best < 0 || seconds < best) best = seconds;
  }
  return best;
}

}  // namespace bench
