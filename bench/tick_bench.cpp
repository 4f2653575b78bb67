// First, a check tick that asks every probe (Mendkit installed, no updater log, no device, the job
// file in place) in a small temporary home, against reading the whole list of this session's
// applications, as the running-Mendkit probe once did, in the same run; exits non-zero when its
// median reaches 2 ms.
//
// Then Rules::rulesForiTunesRepairError on a 1 GiB failed updater log in a temporary home with
// Mendkit installed: the first call, which reads the log (analysis and digest) and reports it,
// against the repeated call on the unchanged, already reported log, in the same run. For scale it
// also times what the repeated call would redo without its memory (analysis and digest of the same
// log) and the gate's three probes alone. Exits non-zero when an answer is wrong, a repeated call
// reads the log, or the median repeated call takes 1 ms or more past its gate (the gate's
// process-list scan costs the same whatever the log, and is shown apart). Skips (exit 0) with a
// message when the temporary folder has less than 1.2 GiB free.

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "Mendkit/MKDeviceManager.h"
#include "ServiceConfig/MendkitAgentManager.h"
#include "ServiceConfig/Rules.h"
#include "UpdaterLog.h"
#include "appkit/Workspace.h"
#include "foundation/Clock.h"

namespace {

constexpr std::size_t kFileSize = std::size_t{1} << 30;
constexpr std::uintmax_t kSpaceNeeded = (std::uintmax_t{12} << 30) / 10;
constexpr int kRepeats = 50;
constexpr double kRepeatLimit = 1e-3;
constexpr int kTicks = 200;
constexpr double kTickLimit = 2e-3;

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

std::size_t processCount() {
  std::size_t count = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos) ++count;
  }
  return count;
}

// What a tick asks when every gate passes and nothing is found, in the tick's order.
bool probingTick() {
  std::optional<std::string> word;
  if (Rules::rulesForiTunesRepairError(&word)) return false;
  if (MKDeviceManager::shared()->deviceHandle()) return false;
  return MendkitAgentManager::launchAgentIsInstall("com.kelvanoria.Mendkit.agent");
}

// The probing tick in a temporary home and root; false when an answer is wrong or the median
// reaches the limit.
bool benchProbingTick() {
  bench::TempFolder temp("probing-tick");
  const std::string home = temp.path() + "/home";
  const std::string root = temp.path() + "/root";
  std::error_code error;
  std::filesystem::create_directories(root + "/Applications/Mendkit.app", error);
  std::filesystem::create_directories(root + "/sys/bus/usb/devices", error);
  std::filesystem::create_directories(home + "/Library/LaunchAgents", error);
  if (temp.path().empty() || error) {
    std::fprintf(stderr, "cannot make the temporary home\n");
    return false;
  }
  { std::ofstream(home + "/Library/LaunchAgents/com.kelvanoria.Mendkit.agent.plist") << "x"; }
  setenv("HOME", home.c_str(), 1);
  setenv("PLATFORM_ROOT", root.c_str(), 1);
  MKDeviceManager::shared()->startIOSConnectListener();

  std::vector<double> ticks, lists;
  bool answers = true;
  std::size_t listed = 0;
  for (int i = 0; i < kTicks; ++i) {
    ticks.push_back(secondsOf([&] { answers = probingTick() && answers; }));
    lists.push_back(secondsOf([&] { listed = appkit::Workspace::runningApplications().size(); }));
  }
  const double tick = median(ticks), list = median(lists);
  std::printf(
      "A tick asking every probe (no log, no device), %d runs, %zu of this session's\n"
      "processes among %zu\n",
      kTicks, listed, processCount());
  std::printf("  tick (median)                         %10.3f ms, %.3f ms best, limit %.3f ms\n",
              tick * 1e3, *std::min_element(ticks.begin(), ticks.end()) * 1e3, kTickLimit * 1e3);
  std::printf("  baseline: the session's whole list    %10.3f ms median\n", list * 1e3);
  std::printf("  tick/baseline                         %10.2f\n\n", tick / list);
  if (!answers) std::fprintf(stderr, "a probe answered wrongly\n");
  return answers && tick < kTickLimit;
}

}  // namespace

int main() {
  const bool tickOk = benchProbingTick();
  std::error_code error;
  std::filesystem::space_info space =
      std::filesystem::space(std::filesystem::temp_directory_path(), error);
  if (error || space.available < kSpaceNeeded) {
    std::printf("skipped: the temporary folder has %.2f GiB free, 1.2 GiB are needed\n",
                error ? 0.0 : static_cast<double>(space.available) / (1 << 30));
    return tickOk ? 0 : 1;
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

  const bool ok = tickOk && firstAnswer && !repeatedAnswer && word == "iPhone" && firstReads == 2 &&
                  repeatedReads == 0 && median(pastGate) < kRepeatLimit;
  return ok ? 0 : 1;
}
