// Rules::analyiTunesLogisSuccess against `grep -c` on the same 1 GiB updater log, in the same run.
// The log is valid UTF-8 with a failed restore near its end and no success, so both read it all.
// Best of 3 runs each, warm cache. Prints throughput, the ratio and the peak memory that our first
// call adds (VmHWM reset through /proc/self/clear_refs); exits non-zero when the answer is wrong
// or the peak exceeds 16 MiB.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "BenchSupport.h"
#include "ServiceConfig/Rules.h"
#include "UpdaterLog.h"
#include "foundation/Clock.h"

namespace {

constexpr std::size_t kFileSize = std::size_t{1} << 30;
constexpr int kRuns = 3;
constexpr long kMemoryLimitKiB = 16 * 1024;

long statusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  }
  return -1;
}

bool resetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5\n";
  return static_cast<bool>(clear);
}

bool grepCount(const std::string& path, const char* pattern, long* count) {
  std::string command = "LC_ALL=C grep -c -F -- '" + std::string(pattern) + "' '" + path + "'";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return false;
  char output[64] = {};
  bool read = std::fgets(output, sizeof output, pipe) != nullptr;
  int status = pclose(pipe);
  *count = std::atol(output);
  return read && status != -1;
}

}  // namespace

int main() {
  bench::TempFolder temp("log-bench");
  const std::string path = temp.path() + "/iPhoneUpdater.log";
  if (temp.path().empty() || path.find('\'') != std::string::npos ||
      !bench::writeFailedUpdaterLog(path, kFileSize)) {
    std::fprintf(stderr, "cannot write the log in the temporary folder\n");
    return 1;
  }
  // The first call is measured for memory (nothing of ours is resident yet) and brings the file
  // into the page cache; the timed calls follow.
  long rssBefore = statusKiB("VmRSS:");
  bool peakReset = resetPeak();
  bool answer = Rules::analyiTunesLogisSuccess(path);
  long peakExtra = statusKiB("VmHWM:") - rssBefore;
  double ours = bench::bestOf(kRuns, [&] { return !Rules::analyiTunesLogisSuccess(path); });

  long completed = 0, succeeded = 0;
  double grepCompleted =
      bench::bestOf(kRuns, [&] { return grepCount(path, "Restore completed", &completed); });
  double grepSucceeded = bench::bestOf(
      kRuns, [&] { return grepCount(path, "Restore completed, status:0", &succeeded); });
  if (ours < 0 || grepCompleted < 0 || grepSucceeded < 0) {
    std::printf("a contender failed\n");
    return 1;
  }

  auto mbps = [](double seconds) { return static_cast<double>(kFileSize) / 1e6 / seconds; };
  std::printf("Analysis of a %zu MiB updater log, best of %d, warm cache\n", kFileSize >> 20,
              kRuns);
  std::printf("  ours (UTF-8 check + both markers) %8.1f MB/s  answer %s (expected NO)\n",
              mbps(ours), answer ? "YES" : "NO");
  std::printf("  grep -c 'Restore completed'       %8.1f MB/s  count %ld\n", mbps(grepCompleted),
              completed);
  std::printf("  grep -c '..., status:0'           %8.1f MB/s  count %ld\n", mbps(grepSucceeded),
              succeeded);
  std::printf("  ours/grep throughput %.2f and %.2f\n", mbps(ours) / mbps(grepCompleted),
              mbps(ours) / mbps(grepSucceeded));
  if (peakReset) {
    std::printf("  peak extra memory of our call %ld KiB (limit %ld KiB)\n", peakExtra,
                kMemoryLimitKiB);
  } else {
    std::printf("  peak memory not measured: /proc/self/clear_refs can't be written\n");
  }
  bool ok =
      !answer && completed == 1 && succeeded == 0 && (!peakReset || peakExtra < kMemoryLimitKiB);
  return ok ? 0 : 1;
}
