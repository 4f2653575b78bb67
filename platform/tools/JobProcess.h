#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace launchd {

// A process as /proc/<pid>/stat shows it.
struct ProcessStatus {
  char state = '?';  // 'Z' for a zombie
  pid_t processGroup = 0;
  pid_t session = 0;
  std::uint64_t startTime = 0;  // clock ticks after boot
};

// nullopt when no process has that pid.
std::optional<ProcessStatus> processStatus(pid_t pid);

// This boot's identity, "" when the system doesn't tell it.
std::string currentBootId();

// The process a load started: leader of its own session and process group. Start time and boot
// tell it apart from a later process that got the same pid.
struct JobProcess {
  pid_t pid = 0;
  std::uint64_t startTime = 0;
  std::string bootId;
};

// The identity of the running process `pid`; nullopt when it is gone.
std::optional<JobProcess> identifyProcess(pid_t pid);

// True while any process of the job's group is alive (zombies don't count). Once the leader's pid
// belongs to another process, the job's group has long gone: the answer is false, and the
// signalling functions below leave that process alone.
bool isAlive(const JobProcess& job);

// Sends `signal` to the job's process group when it is alive.
void signalJob(const JobProcess& job, int signal);

// SIGTERM to the group, then SIGKILL when it is still alive after `graceSeconds`. Returns once the
// group is gone (or, should even SIGKILL not end it, a few seconds later).
void stopJob(const JobProcess& job, int graceSeconds);

// SIGTERM to the group now and returns at once; a detached watchdog sends SIGKILL should the group
// outlive `graceSeconds`.
void stopJobInBackground(const JobProcess& job, int graceSeconds);

}  // namespace launchd
