#include "ToolsTest.h"

#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>

#include "foundation/PropertyList.h"

namespace tools_tests {

ToolsTest::~ToolsTest() {
  for (pid_t pid : _tracked) {
    if (pid <= 0 || !isRunning(pid)) continue;
    if (sessionOf(pid) == pid) ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
  }
}

pid_t ToolsTest::reportedPid(const std::vector<std::string>& record) {
  pid_t pid = record.empty() ? -1 : static_cast<pid_t>(std::atoi(record.front().c_str()));
  EXPECT_GT(pid, 0) << "no pid reported";
  track(pid);
  return pid;
}

void ToolsTest::writeScript(const std::string& path, const std::string& body) {
  testing_support::writeFile(path, "#!/bin/sh\n" + body + "\n");
  ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
}

void ToolsTest::writeBundle(const std::string& path, const std::string& body,
                            const std::string& executable) {
  foundation::PlistDictionary info{{"CFBundleExecutable", executable},
                                   {"CFBundleIdentifier", "com.example.test"}};
  testing_support::writeFile(path + "/Contents/Info.plist", "");
  ASSERT_TRUE(foundation::writePropertyListFile(path + "/Contents/Info.plist", info));
  writeScript(path + "/Contents/MacOS/App", body);
}

std::string shellWord(const std::string& value) {
  std::string word = "'";
  for (char c : value) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}

}  // namespace tools_tests
