// Child process for the exit tests: leaves operations queued or running on purpose, then exits.
// Every operation touches static objects built before main, which exit destroys: an operation run
// while they are destroyed shows up as a crash or a sanitizer report.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/OperationQueue.h"

namespace {

std::mutex g_mutex;
std::vector<std::string> g_log;
std::atomic<bool> g_mainExiting{false};
std::atomic<bool> g_started{false};
// Process-wide queues are leaked on purpose, reachable from a global as the agent's are.
foundation::OperationQueue* g_queue = nullptr;

void touchStatics() {
  std::lock_guard<std::mutex> guard(g_mutex);
  g_log.push_back("operation");
  if (g_log.size() > 64) g_log.erase(g_log.begin());
}

void fill(foundation::OperationQueue& queue, int count) {
  for (int i = 0; i < count; ++i) queue.addOperation(touchStatics);
}

void waitForStart() {
  while (!g_started.load()) {
  }
}

void ready(const char* mode) {
  std::printf("ready %s\n", mode);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "";
  if (std::strcmp(mode, "return-with-queued") == 0 || std::strcmp(mode, "exit-with-queued") == 0) {
    auto* queue = g_queue = new foundation::OperationQueue();
    queue->setMaxConcurrentOperationCount(1);
    queue->addOperation([] { g_started = true; });
    fill(*queue, 200000);
    waitForStart();
    ready(mode);
    if (mode[0] == 'e') std::exit(0);
    return 0;
  }
  if (std::strcmp(mode, "static-queue") == 0) {
    static foundation::OperationQueue queue;  // destroyed during exit
    queue.setMaxConcurrentOperationCount(2);
    queue.addOperation([] { g_started = true; });
    fill(queue, 200000);
    waitForStart();
    ready(mode);
    return 0;
  }
  if (std::strcmp(mode, "exit-from-operation") == 0) {
    auto* queue = g_queue = new foundation::OperationQueue();
    queue->setMaxConcurrentOperationCount(1);
    queue->addOperation([mode] {
      ready(mode);
      std::exit(0);
    });
    fill(*queue, 200000);
    queue->waitUntilAllOperationsAreFinished();  // never returns: the operation ends the process
    return 1;
  }
  if (std::strcmp(mode, "running-at-exit") == 0) {
    auto* queue = g_queue = new foundation::OperationQueue();
    queue->addOperation([] {
      g_started = true;
      while (!g_mainExiting.load()) {
      }
      for (int i = 0; i < 20000; ++i) touchStatics();
    });
    waitForStart();
    ready(mode);
    g_mainExiting = true;
    return 0;
  }
  std::printf("unknown mode %s\n", mode);
  return 2;
}
