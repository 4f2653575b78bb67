// Rules::latestLogFileWithiTunes against `ls -t` on the same folder of 10,000 entries, in the same
// run: once with every entry a log of the source (each one's creation time must be read), once
// with one entry in ten a log. Best of 7 runs each, warm cache. Prints both times and the ratio;
// exits non-zero when our answer is not a newest log of the folder.

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "BenchSupport.h"
#include "ServiceConfig/Rules.h"
#include "foundation/Clock.h"
#include "foundation/FileManager.h"

namespace {

constexpr int kEntries = 10000;
constexpr int kRuns = 7;

// Fills `folder` with kEntries small files, one in `logEvery` named as a log of the source.
bool fill(const std::string& folder, int logEvery) {
  std::filesystem::create_directories(folder);
  for (int i = 0; i < kEntries; ++i) {
    char name[64];
    std::snprintf(name, sizeof name,
                  i % logEvery == 0 ? "iPhoneUpdater-%05d.log" : "other-%05d.txt", i);
    std::FILE* file = std::fopen((folder + "/" + name).c_str(), "w");
    if (!file) return false;
    std::fputs("x\n", file);
    if (std::fclose(file) != 0) return false;
  }
  return true;
}

std::optional<std::string> newestByLs(const std::string& folder) {
  std::string command = "LC_ALL=C ls -t -- '" + folder + "'";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string output;
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  if (pclose(pipe) != 0) return std::nullopt;
  return output.substr(0, output.find('\n'));
}

bool runCase(const std::string& folder, int logEvery) {
  if (!fill(folder, logEvery)) {
    std::fprintf(stderr, "cannot fill %s\n", folder.c_str());
    return false;
  }
  std::optional<std::string> ours;
  double oursSeconds = bench::bestOf(kRuns, [&] {
    ours = Rules::latestLogFileWithiTunes(folder, "iPhoneUpdater");
    return ours.has_value();
  });
  std::optional<std::string> theirs;
  double lsSeconds = bench::bestOf(kRuns, [&] {
    theirs = newestByLs(folder);
    return theirs.has_value();
  });
  if (oursSeconds < 0 || lsSeconds < 0) {
    std::printf("  a contender failed\n");
    return false;
  }

  // Ours must carry the latest creation time of all the folder's logs.
  std::optional<foundation::Date> oursTime =
      foundation::FileManager::creationDateOfItemAtPath(*ours);
  bool newest = oursTime.has_value();
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    if (name.find("iPhoneUpdater") == std::string::npos || !name.ends_with("log")) continue;
    auto time = foundation::FileManager::creationDateOfItemAtPath(entry.path().string());
    if (!time || (oursTime && *time > *oursTime)) newest = false;
  }
  std::printf("  %5d entries, one in %2d a log: ours %8.3f ms   ls -t %8.3f ms   ours/ls %.2f%s\n",
              kEntries, logEvery, oursSeconds * 1e3, lsSeconds * 1e3, oursSeconds / lsSeconds,
              newest ? "" : "   WRONG ANSWER");
  return newest;
}

}  // namespace

int main() {
  bench::TempFolder temp("log-bench");
  if (temp.path().empty() || temp.path().find('\'') != std::string::npos) {
    std::fprintf(stderr, "no usable temporary folder\n");
    return 1;
  }
  std::printf("Newest log of a folder, best of %d, warm cache (ratio below 1: ours is faster)\n",
              kRuns);
  bool ok = runCase(temp.path() + "/all logs", 1);
  ok = runCase(temp.path() + "/some logs", 10) && ok;
  return ok ? 0 : 1;
}
