#include "support/Subprocess.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

using testing_support::ChildOutput;
using testing_support::runChild;
using testing_support::Subprocess;
using testing_support::waitForChild;

// True when `pid` is no child of this process any more: reaped, nothing left behind.
bool reaped(pid_t pid) {
  int status = 0;
  return ::waitpid(pid, &status, WNOHANG) < 0 && errno == ECHILD;
}

TEST(Subprocess, CapturesEachStreamApartOrInterleavedWithTheGivenEnvironment) {
  const std::vector<std::string> argv = {"/bin/sh", "-c",
                                         "echo \"$GREETING\"; echo oops >&2; echo done; exit 3"};
  auto apart = runChild(argv, {.environment = {"GREETING=hello"}}, 30);
  EXPECT_TRUE(apart.finished);
  EXPECT_TRUE(apart.exited);
  EXPECT_EQ(apart.exitStatus, 3);
  EXPECT_EQ(apart.out, "hello\ndone\n");
  EXPECT_EQ(apart.err, "oops\n");

  auto together = runChild(argv, {.output = ChildOutput::Interleaved}, 30);
  EXPECT_EQ(together.out, "\noops\ndone\n");  // GREETING is not the test's own
  EXPECT_EQ(together.err, "");
}

TEST(Subprocess, WaitingEndsTheInputSoThatAReaderFinishes) {
  Subprocess cat({"/bin/cat"}, {.input = true});
  ASSERT_TRUE(cat.send("hello\n"));
  ASSERT_TRUE(cat.awaitOutput("hello", 30));
  EXPECT_FALSE(cat.awaitOutput("\n", 0, 2)) << "one line counted as two";
  ASSERT_TRUE(cat.send("again\n"));
  ASSERT_TRUE(cat.awaitOutput("\n", 30, 2));
  auto result = cat.wait(30);
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "hello\nagain\n");
}

TEST(Subprocess, KillsAndReapsAChildThatOutlivesTheBound) {
  Subprocess child({"/bin/sleep", "30"});
  ASSERT_GT(child.pid(), 0);
  auto result = child.wait(0);
  EXPECT_FALSE(result.finished);
  EXPECT_FALSE(result.exited);
  EXPECT_EQ(result.signal, SIGKILL);
  EXPECT_TRUE(reaped(child.pid()));
}

// What a child leaves running may hold its output open: finished only once that is closed too,
// unless the child's own end is all that is asked for.
TEST(Subprocess, OutputHeldByWhatTheChildLeftRunningKeepsItUnfinished) {
  const std::vector<std::string> argv = {"/bin/sh", "-c", "sleep 30 & echo $!"};
  auto held = runChild(argv, {}, 0.2);
  EXPECT_FALSE(held.finished);
  EXPECT_TRUE(held.exited);
  EXPECT_EQ(held.exitStatus, 0);
  auto ownEnd = runChild(argv, {.untilOutputCloses = false}, 30);
  EXPECT_TRUE(ownEnd.finished);
  EXPECT_LT(ownEnd.seconds, 20);
  for (const auto& run : {held, ownEnd}) {
    pid_t sleeper = static_cast<pid_t>(std::stol("0" + run.out));
    ASSERT_GT(sleeper, 0) << run.out;
    ::kill(sleeper, SIGKILL);
  }
}

TEST(Subprocess, CanLeadAProcessGroupOfItsOwn) {
  Subprocess joined({"/bin/sleep", "30"}, {.output = ChildOutput::Discarded});
  Subprocess leader({"/bin/sleep", "30"},
                    {.output = ChildOutput::Discarded, .newProcessGroup = true});
  ASSERT_GT(joined.pid(), 0);
  ASSERT_GT(leader.pid(), 0);
  EXPECT_EQ(::getpgid(joined.pid()), ::getpgrp());
  EXPECT_EQ(::getpgid(leader.pid()), leader.pid());
}

// A failed start answers -1: waiting on that must neither block nor reap another child.
TEST(Subprocess, WaitingForNoChildLeavesTheOthersAlone) {
  Subprocess other({"/bin/sleep", "30"});
  ASSERT_GT(other.pid(), 0);
  EXPECT_EQ(waitForChild(-1, 30), std::nullopt);
  EXPECT_EQ(waitForChild(0, 30), std::nullopt);
  int status = 0;
  EXPECT_EQ(::waitpid(other.pid(), &status, WNOHANG), 0) << "the other child was reaped";
}

}  // namespace
