// Throughput of CSHA1::HashFile against sha1sum and openssl on one 256 MiB file of pseudo-random
// bytes, warm in the page cache. Each contender runs three times and its best time counts. Exits
// non-zero when a contender fails or the three digests disagree.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "ServiceConfig/SHAex.h"
#include "foundation/Clock.h"

namespace {

constexpr std::size_t kFileSize = std::size_t{256} << 20;
constexpr int kRuns = 3;

// splitmix64: fast, reproducible filler bytes that no digest can shortcut.
bool writeRandomFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  std::vector<uint64_t> chunk((std::size_t{1} << 20) / sizeof(uint64_t));
  uint64_t seed = 0x5EED1234ABCDull;
  bool ok = true;
  for (std::size_t written = 0; ok && written < kFileSize;
       written += chunk.size() * sizeof(uint64_t)) {
    for (uint64_t& word : chunk) {
      uint64_t z = (seed += 0x9E3779B97F4A7C15ull);
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      word = z ^ (z >> 31);
    }
    ok = std::fwrite(chunk.data(), sizeof(uint64_t), chunk.size(), file) == chunk.size();
  }
  return std::fclose(file) == 0 && ok;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::optional<std::string> ourDigest(const std::string& path) {
  CSHA1 sha;
  if (!sha.HashFile(path.c_str())) return std::nullopt;
  sha.Final();
  std::string text;
  if (!sha.ReportHashStl(text, CSHA1::REPORT_HEX_PLAIN)) return std::nullopt;
  return lower(text);
}

// Runs `command` through the shell; the digest is the first word of its output.
std::optional<std::string> toolDigest(const std::string& command) {
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  std::string output;
  char buffer[256];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, got);
  if (pclose(pipe) != 0) return std::nullopt;
  const std::string word = output.substr(0, output.find_first_of(" \t\n"));
  const bool hex = std::all_of(word.begin(), word.end(),
                               [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
  if (word.size() != 40 || !hex) return std::nullopt;
  return lower(word);
}

struct Result {
  std::string name;
  std::optional<std::string> digest;
  double bestSeconds = 0;
};

Result measure(const std::string& name, const std::function<std::optional<std::string>()>& run) {
  Result result{name, std::nullopt, 0};
  foundation::Clock& clock = foundation::Clock::current();
  for (int i = 0; i < kRuns; ++i) {
    const double start = clock.uptime();
    std::optional<std::string> digest = run();
    const double seconds = clock.uptime() - start;
    if (!digest || (result.digest && *digest != *result.digest)) return Result{name, {}, 0};
    result.digest = digest;
    if (i == 0 || seconds < result.bestSeconds) result.bestSeconds = seconds;
  }
  return result;
}

double megabytesPerSecond(const Result& r) {
  return static_cast<double>(kFileSize) / 1e6 / r.bestSeconds;
}

}  // namespace

int main() {
  bench::TempFolder folder("sha1-bench");
  if (folder.path().empty()) {
    std::fprintf(stderr, "cannot create a temporary folder\n");
    return 1;
  }
  const std::string path = folder.path() + "/random.bin";
  if (path.find('\'') != std::string::npos) {
    std::fprintf(stderr, "temporary folder %s can't be quoted for the shell\n", path.c_str());
    return 1;
  }
  if (!writeRandomFile(path)) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return 1;
  }
  // One untimed pass so that every contender reads from the page cache.
  if (!ourDigest(path)) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return 1;
  }

  const std::string quoted = "'" + path + "'";
  const Result results[] = {
      measure("CSHA1::HashFile", [&] { return ourDigest(path); }),
      measure("sha1sum", [&] { return toolDigest("sha1sum " + quoted); }),
      measure("openssl sha1", [&] { return toolDigest("openssl sha1 -r " + quoted); }),
  };

  std::printf("SHA-1 of %zu MiB, best of %d, warm cache\n", kFileSize >> 20, kRuns);
  bool ok = true;
  for (const Result& r : results) {
    if (!r.digest) {
      std::printf("  %-16s failed\n", r.name.c_str());
      ok = false;
      continue;
    }
    std::printf("  %-16s %8.1f MB/s  %.3f s  %s\n", r.name.c_str(), megabytesPerSecond(r),
                r.bestSeconds, r.digest->c_str());
  }
  if (!ok) return 1;
  if (*results[1].digest != *results[0].digest || *results[2].digest != *results[0].digest) {
    std::printf("digests disagree\n");
    return 1;
  }
  std::printf("  digests agree\n");
  std::printf("  ours/sha1sum %.2f   ours/openssl %.2f\n",
              megabytesPerSecond(results[0]) / megabytesPerSecond(results[1]),
              megabytesPerSecond(results[0]) / megabytesPerSecond(results[2]));
  return 0;
}
