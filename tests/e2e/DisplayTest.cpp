#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "appkit/GraphicsHandles.h"
#include "foundation/PropertyList.h"
#include "support/Deadline.h"
#include "support/Subprocess.h"
#include "support/TestHome.h"
#include "support/VirtualDisplay.h"

using testing_support::ChildOptions;
using testing_support::ChildOutput;
using testing_support::ChildResult;
using testing_support::Subprocess;
using testing_support::VirtualDisplay;

namespace {

constexpr const char* kLabel = "com.kelvanoria.Mendkit.agent";
constexpr const char* kXdotool = "/usr/bin/xdotool";
constexpr std::uint32_t kDesktop = 0x2080C0;

// Whether `holds()` turns true within `seconds` of real time.
bool within(double seconds, const std::function<bool()>& holds) {
  for (testing_support::Deadline deadline(seconds); !holds();) {
    if (deadline.passed()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// The built agent on a private X server, in a sandbox home and root, with no off-screen backend.
class AgentDisplay : public testing_support::HomeTest {
 protected:
  void SetUp() override {
    if (!display.available()) GTEST_SKIP() << display.why();
  }

  ChildOptions options(ChildOutput output = ChildOutput::Interleaved) const {
    return {.environment = {"DISPLAY=" + display.name(), "PLATFORM_BACKEND="}, .output = output};
  }
  ChildResult run(const std::string& argument, double seconds = 20) const {
    return testing_support::runChild({MENDKIT_AGENT_EXECUTABLE, argument}, options(), seconds);
  }
  std::unique_ptr<Subprocess> start(const std::string& argument) const {
    return std::make_unique<Subprocess>(
        std::vector<std::string>{MENDKIT_AGENT_EXECUTABLE, argument}, options());
  }

  std::string spool() const {
    return testing_support::readFile(
               sandbox.inHome("Library/Application Support/Mendkit/UsageLog/events.jsonl"))
        .value_or("");
  }
  std::string settings() const {
    return sandbox.inHome("Library/Preferences/" + std::string(kLabel) + ".plist");
  }
  bool stored(const char* key) const {
    auto defaults = foundation::readPropertyListFile(settings());
    return defaults && defaults->objectForKey(key);
  }

  VirtualDisplay display;
};

}  // namespace

// A server that accepts and never answers: the modes without a window never connect to it, and
// those that would show one give up within the bound, show nothing and stay answerable.
TEST_F(AgentDisplay, AStoppedServerHangsNoMode) {
  display.stopServer();
  for (const char* argument : {"-i", "-k", "-x"}) {
    ChildResult done = run(argument);
    ASSERT_TRUE(done.exited) << argument << " hangs\n" << done.out;
    EXPECT_EQ(done.exitStatus, 0) << argument;
    EXPECT_EQ(done.out.find("does not answer"), std::string::npos)
        << argument << " asked the display";
  }

  // Run mode without its job file: the first tick ends it.
  ChildResult ran = run("-r");
  ASSERT_TRUE(ran.exited) << "run mode hangs\n" << ran.out;
  EXPECT_LT(ran.seconds, 9);
  EXPECT_NE(ran.out.find("Service will be close!"), std::string::npos) << ran.out;

  std::filesystem::remove(settings());  // -i stored the day's date
  auto debug = start("-debug1");
  EXPECT_TRUE(debug->awaitOutput("does not answer", 5)) << "the pop-up waits for the display";
  kill(debug->pid(), SIGTERM);
  ChildResult ended = debug->wait(5);
  EXPECT_TRUE(ended.exited) << ended.out;
  EXPECT_EQ(spool(), "") << "a pop-up nobody saw was counted";
  EXPECT_FALSE(stored("PopDialogDate"));
}

// Run mode finds a failed restore while its display does not answer: nothing is shown, counted or
// used up, and a later tick shows the pop-up once the display answers.
TEST_F(AgentDisplay, APopUpWaitsForItsDisplay) {
  std::filesystem::create_directories(sandbox.inRoot("Applications/Mendkit.app/Contents"));
  testing_support::writeFile(sandbox.inHome("Library/Logs/iPod Updater Logs/iPodUpdater.log"),
                             "Restore started\nRestore completed, status:3194\n");
  testing_support::writeFile(
      sandbox.inHome("Library/LaunchAgents/" + std::string(kLabel) + ".plist"),
      "<plist><dict/></plist>");
  display.stopServer();
  auto agent = start("-r");
  ASSERT_TRUE(agent->awaitOutput("does not answer", 5));
  // The first tick (its own probe of up to 2 s) has passed meanwhile.
  std::this_thread::sleep_for(std::chrono::seconds(4));
  EXPECT_EQ(spool(), "");
  EXPECT_FALSE(stored("PopDialogDate"));
  EXPECT_FALSE(stored("LastFileSha1")) << "the failure was used up without a pop-up";

  display.continueServer();
  EXPECT_TRUE(within(15, [&] { return spool().find("\"event\":10210") != std::string::npos; }))
      << "no pop-up once the display answers";
  EXPECT_TRUE(stored("LastFileSha1"));
  kill(agent->pid(), SIGTERM);
  EXPECT_TRUE(agent->wait(5).exited);
}

// "Not Now", then the agent ends within the 0.8 s slide-out: the answer's date is stored all the
// same, whether a termination signal or the display's end ends it.
TEST_F(AgentDisplay, TheAnswerOutlivesAnEndingDuringTheSlideOut) {
  if (access(kXdotool, X_OK) != 0) GTEST_SKIP() << "xdotool is not installed";
  display.setDesktopColor(kDesktop);
  for (int ending : {SIGTERM, SIGHUP, SIGKILL}) {
    std::filesystem::remove(settings());
    std::filesystem::remove_all(sandbox.inHome("Library/Application Support/Mendkit"));
    auto agent = start("-debug1");
    // At rest, the pop-up's left edge is 360 pixels from the screen's right edge.
    ASSERT_TRUE(within(10, [&] {
      appkit::CairoSurface shot = display.screenshot();
      bool resting = VirtualDisplay::rgbAt(shot.get(), 1440 - 358, 90) != kDesktop;
      return resting;
    })) << "no pop-up";
    ChildResult clicked = testing_support::runChild(
        {kXdotool, "mousemove", "1235", "150", "click", "1"}, options(ChildOutput::Captured), 10);
    ASSERT_EQ(clicked.exitStatus, 0) << clicked.err;
    ASSERT_TRUE(within(0.5, [&] { return spool().find("\"event\":10214") != std::string::npos; }))
        << "the dismiss button was not clicked";
    if (ending == SIGKILL) {
      display.killServer();
    } else {
      kill(agent->pid(), ending);
    }
    ChildResult ended = agent->wait(5);
    EXPECT_TRUE(ended.exited && ended.exitStatus == 0)
        << strsignal(ending) << ": ended by signal " << ended.signal << "\n"
        << ended.out;
    EXPECT_TRUE(stored("PopDialogDate")) << strsignal(ending) << ": the answer is lost";
  }
}
