#include <gtest/gtest.h>

#include <algorithm>

#include "support/Subprocess.h"
#include "support/TestHome.h"

namespace {

constexpr const char* kInfoPlist = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
	<key>CFBundleIdentifier</key><string>com.example.helper</string>
	%NIB%
</dict>
</plist>
)";

constexpr const char* kLayout = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
	<key>Objects</key>
	<array>
		<dict>
			<key>id</key><string>delegate</string>
			<key>class</key><string>%CLASS%</string>
		</dict>
	</array>
	<key>ApplicationDelegate</key><string>delegate</string>
</dict>
</plist>
)";

std::string replaced(std::string text, const std::string& marker, const std::string& value) {
  text.replace(text.find(marker), marker.size(), value);
  return text;
}

int occurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// Runs the helper as a real application from a bundle in the sandbox.
class ApplicationMainTest : public testing_support::HomeTest {
 protected:
  std::string makeBundle(bool withNibKey = true,
                         const std::string& delegateClass = "HelperDelegate",
                         const std::string& name = "Helper") {
    std::string bundle = sandbox.base() + "/" + name + ".app";
    testing_support::writeFile(
        bundle + "/Contents/Info.plist",
        replaced(kInfoPlist, "%NIB%",
                 withNibKey ? "<key>NSMainNibFile</key><string>Main</string>" : ""));
    testing_support::writeFile(bundle + "/Contents/Resources/Main.layout",
                               replaced(kLayout, "%CLASS%", delegateClass));
    return bundle;
  }

  testing_support::ChildResult run(const std::string& bundle, const std::string& scenario) {
    return testing_support::runChild({APPKIT_APP_HELPER, bundle, scenario},
                                     {.output = testing_support::ChildOutput::Interleaved}, 60);
  }
};

TEST_F(ApplicationMainTest, TerminateOnTheMainThreadRunsWillTerminateAndExitsWithZero) {
  auto result = run(makeBundle(), "terminate-main");
  ASSERT_TRUE(result.finished) << result.out;
  EXPECT_TRUE(result.exited) << "signal " << result.signal << "\n" << result.out;
  EXPECT_EQ(result.exitStatus, 0) << result.out;
  EXPECT_NE(result.out.find("launched main=1 arguments=3 scenario=terminate-main"),
            std::string::npos)
      << result.out;
  EXPECT_EQ(occurrences(result.out, "willTerminate main=1"), 1) << result.out;
  EXPECT_EQ(result.out.find("terminate returned"), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find("applicationMain returned"), std::string::npos) << result.out;
}

TEST_F(ApplicationMainTest, TerminateFromATimerTickWithATimerArmedExitsOnceWithZero) {
  auto result = run(makeBundle(), "terminate-background");
  ASSERT_TRUE(result.finished) << result.out;
  EXPECT_TRUE(result.exited) << "signal " << result.signal << "\n" << result.out;
  EXPECT_EQ(result.exitStatus, 0) << result.out;
  EXPECT_EQ(occurrences(result.out, "willTerminate"), 1) << result.out;
  EXPECT_NE(result.out.find("willTerminate main=1"), std::string::npos) << result.out;
}

TEST_F(ApplicationMainTest, StoppingTheRunLoopReturnsZeroFromTheEntry) {
  auto result = run(makeBundle(), "stop");
  ASSERT_TRUE(result.finished) << result.out;
  EXPECT_EQ(result.exitStatus, 0) << result.out;
  EXPECT_NE(result.out.find("applicationMain returned 0"), std::string::npos) << result.out;
}

TEST_F(ApplicationMainTest, FailsWithAReasonWhenLaunchingIsImpossible) {
  struct Case {
    const char* what;
    std::string bundle;
    const char* expected;
  };
  std::vector<Case> cases = {
      {"not in a bundle", "-", "not inside a bundle"},
      {"no NSMainNibFile", makeBundle(false, "HelperDelegate", "NoNib"), "names no NSMainNibFile"},
      {"unknown delegate class", makeBundle(true, "NoSuchDelegate", "BadClass"),
       "unknown class 'NoSuchDelegate'"},
  };
  for (const auto& test : cases) {
    auto result = run(test.bundle, "none");
    ASSERT_TRUE(result.finished) << test.what << "\n" << result.out;
    EXPECT_EQ(result.exitStatus, 1) << test.what << "\n" << result.out;
    EXPECT_NE(result.out.find(test.expected), std::string::npos) << test.what << "\n" << result.out;
    EXPECT_NE(result.out.find("applicationMain returned 1"), std::string::npos) << test.what << "\n"
                                                                                << result.out;
    EXPECT_EQ(result.out.find("launched"), std::string::npos) << test.what;
  }
}

TEST_F(ApplicationMainTest, FailsWhenTheLayoutFileIsMissing) {
  std::string bundle = makeBundle();
  std::remove((bundle + "/Contents/Resources/Main.layout").c_str());
  auto result = run(bundle, "none");
  ASSERT_TRUE(result.finished) << result.out;
  EXPECT_EQ(result.exitStatus, 1) << result.out;
  EXPECT_NE(result.out.find("Unable to find the window layout Main.layout"), std::string::npos)
      << result.out;
}

}  // namespace
