#include "appkit/Workspace.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "support/RunningProgram.h"
#include "support/TestHome.h"

using appkit::RunningApplication;
using appkit::Workspace;
using testing_support::RunningProgram;

namespace {

const RunningApplication* find(const std::vector<RunningApplication>& applications, pid_t pid) {
  for (const RunningApplication& application : applications) {
    if (application.processIdentifier == pid) return &application;
  }
  return nullptr;
}

class WorkspaceTest : public testing_support::HomeTest {};

TEST_F(WorkspaceTest, ListsProcessesOfThisSessionWithTheirExecutables) {
  std::string executable = sandbox.inHome("Volume/Tool.app/Contents/MacOS/Tool");
  RunningProgram child(executable);
  ASSERT_GT(child.pid(), 0);

  std::vector<RunningApplication> applications = Workspace::runningApplications();
  const RunningApplication* found = find(applications, child.pid());
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->executablePath, executable);
  EXPECT_TRUE(std::is_sorted(applications.begin(), applications.end(),
                             [](const RunningApplication& a, const RunningApplication& b) {
                               return a.processIdentifier < b.processIdentifier;
                             }));
}

TEST_F(WorkspaceTest, ProcessesUnderAnotherHomeBelongToAnotherSession) {
  std::string executable = sandbox.inHome("bin/other");
  RunningProgram elsewhere(executable, {"HOME=" + sandbox.base()});
  RunningProgram here(executable, {"HOME=" + sandbox.home() + "/"});
  ASSERT_GT(elsewhere.pid(), 0);
  ASSERT_GT(here.pid(), 0);

  std::vector<RunningApplication> applications = Workspace::runningApplications();
  EXPECT_EQ(find(applications, elsewhere.pid()), nullptr);
  EXPECT_NE(find(applications, here.pid()), nullptr) << "a trailing separator is the same home";
}

TEST_F(WorkspaceTest, AProcessThatEndedIsNoLongerListed) {
  pid_t pid = 0;
  {
    RunningProgram child(sandbox.inHome("bin/short"));
    pid = child.pid();
    ASSERT_NE(find(Workspace::runningApplications(), pid), nullptr);
  }
  EXPECT_EQ(find(Workspace::runningApplications(), pid), nullptr);
}

}  // namespace

TEST_F(WorkspaceTest, AnyApplicationAcceptsOnlyAMatchOfThisSession) {
  std::string executable = sandbox.inHome("Disk/Tool.app/Contents/MacOS/Tool");
  auto runsTool = [&](const RunningApplication& application) {
    return application.executablePath == executable;
  };
  RunningProgram elsewhere(executable, {"HOME=" + sandbox.base()});
  ASSERT_GT(elsewhere.pid(), 0);
  EXPECT_FALSE(Workspace::anyApplication(runsTool)) << "a match under another home";

  RunningProgram here(executable);
  ASSERT_GT(here.pid(), 0);
  EXPECT_TRUE(Workspace::anyApplication(runsTool));
  EXPECT_FALSE(Workspace::anyApplication([](const RunningApplication&) { return false; }));
}
