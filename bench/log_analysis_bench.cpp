// Rules::analyiTunesLogisSuccess against `grep -c -F` (one marker at a time), `rg -c -F` with
// both markers (skipped with a message when ripgrep is missing) and two plain reads of the file
// (whole into memory, and in the pieces the analysis reads), on the same 1 GiB updater log, in the
// same run. The log is valid
// UTF-8 with a failed restore near its end and no success, so every contender reads it all. Best
// of 3 runs each, warm cache. Prints throughput, the ratios and the peak memory that our first
// call adds (VmHWM reset through /proc/self/clear_refs); exits non-zero when the answer is wrong,
// the peak exceeds 16 MiB, or the analysis is slower than one-marker grep or than twice a whole
// read of the file into memory. The read in pieces, into a buffer that stays in the cache, is the
// floor.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "ServiceConfig/Rules.h"
#include "UpdaterLog.h"
#include "foundation/Clock.h"
#include "foundation/FileDescriptor.h"

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

bool countLines(const std::string& command, long* count) {
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return false;
  char output[64] = {};
  bool read = std::fgets(output, sizeof output, pipe) != nullptr;
  int status = pclose(pipe);
  *count = std::atol(output);
  return read && status != -1;
}

bool grepCount(const std::string& path, const char* pattern, long* count) {
  return countLines("LC_ALL=C grep -c -F -- '" + std::string(pattern) + "' '" + path + "'", count);
}

bool ripgrepCount(const std::string& path, long* count) {
  return countLines(
      "rg -c -F -e 'Restore completed' -e 'Restore completed, status:0' -- '" + path + "'", count);
}

bool ripgrepInstalled() { return std::system("rg --version > /dev/null 2>&1") == 0; }

// The whole file read into memory at once, as a program that then searches it would.
bool readIntoMemory(const std::string& path, std::vector<char>& memory) {
  foundation::FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return false;
  std::size_t filled = 0;
  while (true) {
    if (filled == memory.size()) memory.resize(memory.size() + (std::size_t{1} << 20));
    const ssize_t got = ::read(file.get(), memory.data() + filled, memory.size() - filled);
    if (got <= 0) return got == 0;
    filled += static_cast<std::size_t>(got);
  }
}

// The whole file read in the analysis's pieces and thrown away.
bool readPlainly(const std::string& path) {
  foundation::FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return false;
  std::vector<char> piece(Rules::kLogReadChunkSize);
  while (true) {
    const ssize_t got = ::read(file.get(), piece.data(), piece.size());
    if (got <= 0) return got == 0;
  }
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
  const bool ripgrep = ripgrepInstalled();
  long both = 0;
  const double rgBoth =
      ripgrep ? bench::bestOf(kRuns, [&] { return ripgrepCount(path, &both); }) : 0;
  const double plain = bench::bestOf(kRuns, [&] { return readPlainly(path); });
  std::vector<char> memory(kFileSize + (std::size_t{1} << 20));
  const double whole = bench::bestOf(kRuns, [&] { return readIntoMemory(path, memory); });
  memory = {};
  if (ours < 0 || grepCompleted < 0 || grepSucceeded < 0 || rgBoth < 0 || plain < 0 || whole < 0) {
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
  if (ripgrep) {
    std::printf("  rg -c -F both markers             %8.1f MB/s  count %ld\n", mbps(rgBoth), both);
  } else {
    std::printf("  rg: not installed (Debian package ripgrep), left out\n");
  }
  std::printf("  plain read into memory, whole     %8.1f MB/s\n", mbps(whole));
  std::printf("  plain read in the same pieces     %8.1f MB/s\n", mbps(plain));
  std::printf("  ours/grep throughput %.2f and %.2f", mbps(ours) / mbps(grepCompleted),
              mbps(ours) / mbps(grepSucceeded));
  if (ripgrep) std::printf(", ours/rg %.2f", mbps(ours) / mbps(rgBoth));
  std::printf(
      ", ours/read into memory %.2f, ours/read in pieces %.2f (targets: >= 1 against grep and rg, "
      ">= 0.5 against the read into memory)\n",
      mbps(ours) / mbps(whole), mbps(ours) / mbps(plain));
  if (peakReset) {
    std::printf("  peak extra memory of our call %ld KiB (limit %ld KiB)\n", peakExtra,
                kMemoryLimitKiB);
  } else {
    std::printf("  peak memory not measured: /proc/self/clear_refs can't be written\n");
  }
  bool ok = !answer && completed == 1 && succeeded == 0 && (!ripgrep || both == 1) &&
            (!peakReset || peakExtra < kMemoryLimitKiB) && ours <= grepCompleted &&
            ours <= 2 * whole;
  return ok ? 0 : 1;
}
