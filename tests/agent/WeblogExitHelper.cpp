// Child process for the exit tests: queues statistics sends and exits while the first one is in
// the readiness wait. Mode "real" uses the bundle's libraries (writing into $HOME's spool); mode
// "fake" installs an export object that reports every send, and any call after its release.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "fileUpload/FileUpload.h"
#include "support/RecordingExportObj.h"
#include "webLog/ProductLogManager.h"

namespace {

std::atomic<bool> g_released{false};
std::atomic<bool> g_queried{false};

void say(const std::string& text) {
  std::string line = text + "\n";
  (void)!::write(STDOUT_FILENO, line.data(), line.size());
}

void checkAlive(const char* operation) {
  if (g_released) {
    say(std::string("USED AFTER DESTROY: ") + operation);
    _exit(9);
  }
}

// Reachable from globals, as the library's own object is.
testing_support::RecordingExportObj* g_fake = nullptr;
ProductLogManager::Libraries g_library;

// The object stays, so that a call after its release is told, not undefined.
void releaseFake(ExportObj*) {
  say("destroyed");
  g_released = true;
}

}  // namespace

int main(int argc, char** argv) {
  // The singleton is made during static initialisation: it is there before main's first line.
  if (KVLogManager == nullptr || KVLogManager != ProductLogManager::defaultManager()) {
    std::puts("no statistics manager before main");
    return 4;
  }
  std::string mode = argc > 1 ? argv[1] : "";
  bool viaExit = argc > 2 && std::strcmp(argv[2], "exit") == 0;
  if (mode == "fake") {
    g_fake = new testing_support::RecordingExportObj();
    g_fake->readyOnCall = 0;  // never ready: the wait runs its full course
    g_fake->onSend = [](int32_t code) {
      checkAlive("SendLogMessage");
      say("send " + std::to_string(code));
    };
    g_fake->onQuery = [] {
      checkAlive("QueryStatus");
      g_queried = true;
    };
    g_library = ProductLogManager::setLibrariesForTesting(
        {g_fake, &releaseFake, &FileReport, &UpdateServerAddr});
  } else if (mode != "real") {
    return 2;
  }
  KVLogManager->setProductID(8);
  KVLogManager->setProductVersion("1.0");
  KVLogManager->setLanguageID(1033);
  for (int code = 1; code <= 5; ++code) KVLogManager->asyncSendLog(code);
  if (mode == "fake") {
    while (!g_queried) {
    }
  } else {
    // The spool appears at the first query: the first send is then in its readiness wait.
    std::string spool =
        std::string(std::getenv("HOME")) + "/Library/Application Support/Mendkit/UsageLog";
    while (!std::filesystem::is_directory(spool)) {
    }
  }
  say("ready " + mode);
  if (viaExit) std::exit(0);
  return 0;
}
