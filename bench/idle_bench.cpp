// The built agent in run mode, idle, against `sleep` for the same time in the same run. In a
// temporary home and platform root (no devices, no logs, off-screen), the agent is first installed
// with -i, which closes the day's pop-up gate and leaves its job file in place; then `MendkitAgent
// -r` and `sleep SECONDS` (60 unless given) start together. For each: the CPU time and voluntary
// context switches of its threads from 2 s after the start to the end (start-up and the first
// check left out; /proc/<pid>/task/*/schedstat and status), its VmRSS at the end, and over its
// whole life the CPU time, voluntary switches and peak RSS that wait4 reports. Exits non-zero when
// the agent's steady CPU exceeds 5 ms a minute, its RSS exceeds 12 MB, its threads woke more than
// twice a check (the timer thread and the worker that runs the check) and once more, or it ends by
// itself.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"

extern char** environ;

namespace {

constexpr double kSteadyFrom = 2;
constexpr double kSampleBeforeEnd = 0.3;  // the last sample, before sleep ends
constexpr double kCpuLimitMsPerMinute = 5;
constexpr double kRssLimitMB = 12;
constexpr long kSwitchesPerCheck = 2;

pid_t spawn(const std::vector<std::string>& arguments, const std::string& output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// What the live threads of a process have used so far.
struct Sample {
  double cpuMs = 0;
  long voluntary = 0;
  long rssKiB = 0;
};

long field(const std::string& statusFile, const std::string& name) {
  std::ifstream status(statusFile);
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(name, 0) == 0) return std::atol(line.c_str() + name.size());
  }
  return 0;
}

Sample sample(pid_t pid) {
  Sample result;
  const std::string folder = "/proc/" + std::to_string(pid);
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator(folder + "/task", error)) {
    std::ifstream schedstat(task.path() / "schedstat");
    unsigned long long runNs = 0;
    schedstat >> runNs;
    result.cpuMs += static_cast<double>(runNs) / 1e6;
    result.voluntary += field((task.path() / "status").string(), "voluntary_ctxt_switches:");
  }
  result.rssKiB = field(folder + "/status", "VmRSS:");
  return result;
}

struct Life {
  bool exited = false;
  double cpuMs = 0;
  long voluntary = 0;
  long peakKiB = 0;
};

// Reaps the process, first ending it (SIGTERM, SIGKILL 2 s later) unless it has ended by itself.
Life reap(pid_t pid) {
  Life life;
  int status = 0;
  rusage usage{};
  life.exited = wait4(pid, &status, WNOHANG, &usage) == pid;
  if (!life.exited) {
    ::kill(pid, SIGTERM);
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (wait4(pid, &status, WNOHANG, &usage) != pid) {
      if (std::chrono::steady_clock::now() > giveUp) {
        ::kill(pid, SIGKILL);
        wait4(pid, &status, 0, &usage);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  auto ms = [](timeval t) { return static_cast<double>(t.tv_sec) * 1e3 + t.tv_usec / 1e3; };
  life.cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
  life.voluntary = usage.ru_nvcsw;
  life.peakKiB = usage.ru_maxrss;
  return life;
}

double ratio(double a, double b) { return b > 0 ? a / b : 0; }

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 60;
  if (seconds < kSteadyFrom + 5) {
    std::fprintf(stderr, "usage: idle_bench [SECONDS >= 7]\n");
    return 2;
  }
  bench::TempFolder temp("idle-bench");
  const std::string home = temp.path() + "/home";
  const std::string root = temp.path() + "/root";
  const std::string output = temp.path() + "/agent.log";
  std::error_code error;
  std::filesystem::create_directories(home, error);
  std::filesystem::create_directories(root + "/sys/bus/usb/devices", error);
  if (temp.path().empty() || error) {
    std::fprintf(stderr, "cannot make the temporary home\n");
    return 1;
  }
  setenv("HOME", home.c_str(), 1);
  setenv("PLATFORM_ROOT", root.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
  unsetenv("DISPLAY");

  const std::string agent = MENDKIT_AGENT_EXECUTABLE;
  pid_t installer = spawn({agent, "-i"}, output);
  int status = 0;
  if (installer < 0 || waitpid(installer, &status, 0) != installer || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "installing the agent failed\n");
    return 1;
  }
  const std::string jobFile = home + "/Library/LaunchAgents/com.kelvanoria.Mendkit.agent.plist";
  if (!std::filesystem::exists(jobFile)) {
    std::fprintf(stderr, "the installer left no job file at %s\n", jobFile.c_str());
    return 1;
  }

  auto start = std::chrono::steady_clock::now();
  auto at = [&](double s) {
    return start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(s));
  };
  pid_t running = spawn({agent, "-r"}, output);
  pid_t sleeper = spawn({"/bin/sleep", std::to_string(seconds)}, output);
  if (running < 0 || sleeper < 0) {
    std::fprintf(stderr, "cannot start the agent or sleep\n");
    return 1;
  }
  std::this_thread::sleep_until(at(kSteadyFrom));
  Sample agentFrom = sample(running), sleepFrom = sample(sleeper);
  std::this_thread::sleep_until(at(seconds - kSampleBeforeEnd));
  Sample agentTo = sample(running), sleepTo = sample(sleeper);
  const double window = seconds - kSampleBeforeEnd - kSteadyFrom;

  Life agentLife = reap(running);
  std::this_thread::sleep_until(at(seconds + 0.5));
  Life sleepLife = reap(sleeper);

  const double agentCpu = agentTo.cpuMs - agentFrom.cpuMs;
  const double sleepCpu = sleepTo.cpuMs - sleepFrom.cpuMs;
  const long agentSwitches = agentTo.voluntary - agentFrom.voluntary;
  const long sleepSwitches = sleepTo.voluntary - sleepFrom.voluntary;
  const double agentPerMinute = agentCpu * 60 / window;
  std::printf(
      "Idle run mode over %.0f s (steady window %.1f s from %.0f s), off-screen, no devices\n",
      seconds, window, kSteadyFrom);
  std::printf("                          %12s %12s %10s\n", "agent -r", "sleep", "ratio");
  std::printf("  steady CPU (ms)         %12.2f %12.2f %10.1f\n", agentCpu, sleepCpu,
              ratio(agentCpu, sleepCpu));
  std::printf("  steady CPU (ms/min)     %12.2f %12.2f   limit %.0f\n", agentPerMinute,
              sleepCpu * 60 / window, kCpuLimitMsPerMinute);
  const long checks = static_cast<long>(std::floor((seconds - kSampleBeforeEnd) / 10) -
                                        std::floor(kSteadyFrom / 10));
  const long switchLimit = kSwitchesPerCheck * checks + 1;
  std::printf("  steady voluntary sw.    %12ld %12ld %10.1f  (checks every 10 s: %ld, limit %ld)\n",
              agentSwitches, sleepSwitches, ratio(agentSwitches, sleepSwitches), checks,
              switchLimit);
  std::printf("  VmRSS at the end (MB)   %12.2f %12.2f %10.1f  limit %.0f\n",
              agentTo.rssKiB * 1024 / 1e6, sleepTo.rssKiB * 1024 / 1e6,
              ratio(agentTo.rssKiB, sleepTo.rssKiB), kRssLimitMB);
  std::printf("  whole life CPU (ms)     %12.2f %12.2f %10.1f\n", agentLife.cpuMs, sleepLife.cpuMs,
              ratio(agentLife.cpuMs, sleepLife.cpuMs));
  std::printf("  whole life voluntary sw.%12ld %12ld %10.1f\n", agentLife.voluntary,
              sleepLife.voluntary, ratio(agentLife.voluntary, sleepLife.voluntary));
  std::printf("  whole life peak RSS (MB)%12.2f %12.2f %10.1f\n", agentLife.peakKiB * 1024 / 1e6,
              sleepLife.peakKiB * 1024 / 1e6, ratio(agentLife.peakKiB, sleepLife.peakKiB));
  if (agentLife.exited) std::printf("  the agent ended by itself before the end\n");

  const bool ok = !agentLife.exited && agentPerMinute <= kCpuLimitMsPerMinute &&
                  agentSwitches <= switchLimit && agentTo.rssKiB * 1024 / 1e6 <= kRssLimitMB;
  return ok ? 0 : 1;
}
