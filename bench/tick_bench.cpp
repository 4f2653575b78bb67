// Rules::rulesForiTunesRepairError on a 1 GiB failed updater log in a temporary home with Mendkit
// installed: the first call, which reads the log (analysis and digest) and reports it, against the
// repeated call on the unchanged, already reported log, in the same run. For scale it also times
// what the repeated call would redo without its memory (analysis and digest of the same log) and
// the gate's three probes alone. Exits non-zero when an answer is wrong, a repeated call reads the
// log, or the median repeated call takes 1 ms or more past its gate (the gate's process-list scan
// costs the same whatever the log, and is shown apart). Skips (exit 0) with a message when the
// temporary folder has less than 1.2 GiB free.

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "ServiceConfig/Rules.h"
#include "UpdaterLog.h"
#include "foundation/Clock.h"

namespace {

constexpr std::size_t kFileSize = std::size_t{1} << 30;
constexpr std::uintmax_t kSpaceNeeded = (std::uintmax_t{12} << 30) / 10;
constexpr int kRepeats = 50;
constexpr double kRepeatLimit = 1e-3;

double secondsOf(const std::function<void()>& run) {
  foundation::Clock& clock = foundation::Clock::current();
  double start = clock.uptime();
  run();
  return clock.uptime() - start;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  std::error_code error;
  std::filesystem::space_info space =
      std::filesystem::space(std::filesystem::temp_directory_path(), error);
  if (error || space.available < kSpaceNeeded) {
    std::printf("skipped: the temporary folder has %.2f GiB free, 1.2 GiB are needed\n",
                error ? 0.0 : static_cast<double>(space.available) / (1 << 30));
    return 0;
  }

  bench::TempFolder temp("tick-bench");
  if (temp.path().empty()) {
    std::fprintf(stderr, "cannot make the temporary folder\n");
    return 1;
  }
  const std::string home = temp.path() + "/home";
  const std::string root = temp.path() + "/root";
  const std::string folder = home + "/Library/Logs/iPhone Updater Logs";
  const std::string log = folder + "/iPhoneUpdater.log";
  std::filesystem::create_directories(folder, error);
  std::filesystem::create_directories(root + "/Applications/Mendkit.app", error);
  setenv("HOME", home.c_str(), 1);
  setenv("PLATFORM_ROOT", root.c_str(), 1);
  if (error || !bench::writeFailedUpdaterLog(log, kFileSize)) {
    std::fprintf(stderr, "cannot write the log in the temporary folder\n");
    return 1;
  }
  // A log is remembered only once its last change lies 2 s back, as a reported log's does.
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));

  std::optional<std::string> word;
  const std::uint64_t readsBefore = Rules::logContentReads();
  bool firstAnswer = false;
  const double first = secondsOf([&] { firstAnswer = Rules::rulesForiTunesRepairError(&word); });
  const std::uint64_t firstReads = Rules::logContentReads() - readsBefore;

  // Each repeated call is paired with a run of the gate's probes just before it, so that the cost
  // of the call past its gate (what the log costs) is the difference within the pair.
  std::vector<double> repeated, gate, pastGate;
  bool repeatedAnswer = false;
  for (int i = 0; i < kRepeats; ++i) {
    gate.push_back(secondsOf([] {
      if (Rules::mendkitIsRemoved() && !Rules::mendkitIsRunning()) Rules::iTunesRepairNow();
    }));
    repeated.push_back(secondsOf(
        [&] { repeatedAnswer = Rules::rulesForiTunesRepairError(&word) || repeatedAnswer; }));
    pastGate.push_back(std::max(0.0, repeated.back() - gate.back()));
  }
  const std::uint64_t repeatedReads = Rules::logContentReads() - readsBefore - firstReads;

  const double rereading = secondsOf([&] {
    if (!Rules::analyiTunesLogisSuccess(log)) Rules::getFileSHA1string(log);
  });
  const double best = *std::min_element(repeated.begin(), repeated.end());
  const double middle = median(repeated);
  std::printf("rulesForiTunesRepairError on a %zu MiB failed updater log, warm cache\n",
              kFileSize >> 20);
  std::printf(
      "  first call (reads and reports it)     %10.3f ms  answer %s (expected YES), "
      "%llu reads\n",
      first * 1e3, firstAnswer ? "YES" : "NO", static_cast<unsigned long long>(firstReads));
  std::printf(
      "  repeated call, unchanged (%d runs)    %10.3f ms median, %.3f ms best, answers %s "
      "(expected NO), %llu reads\n",
      kRepeats, middle * 1e3, best * 1e3, repeatedAnswer ? "some YES" : "NO",
      static_cast<unsigned long long>(repeatedReads));
  std::printf("  first/repeated (median)               %10.0f x\n", first / middle);
  std::printf("  of it past the gate (median)          %10.3f ms, limit %.3f ms\n",
              median(pastGate) * 1e3, kRepeatLimit * 1e3);
  std::printf("  the gate's probes alone (median)      %10.3f ms\n", median(gate) * 1e3);
  std::printf("  analysis + digest without memory      %10.3f ms\n", rereading * 1e3);

  const bool ok = firstAnswer && !repeatedAnswer && word == "iPhone" && firstReads == 2 &&
                  repeatedReads == 0 && median(pastGate) < kRepeatLimit;
  return ok ? 0 : 1;
}
