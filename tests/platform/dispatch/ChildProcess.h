#pragma once

#include <string>
#include <vector>

#include "support/Subprocess.h"

namespace platform_tests {

// The former result of runChild, for the callers not yet moved to testing_support::runChild.
struct ChildResult {
  bool finished = false;  // false: the bound passed and the child was killed
  bool exited = false;    // ended through exit() or return from main
  int exitStatus = -1;
  int signal = 0;      // the signal that ended it, if any
  std::string output;  // standard output and standard error, interleaved
};

// testing_support::runChild with the output interleaved, in the former result's shape.
inline ChildResult runChild(const std::vector<std::string>& argv, double realSecondsBound = 60) {
  testing_support::ChildResult run = testing_support::runChild(
      argv, {.output = testing_support::ChildOutput::Interleaved}, realSecondsBound);
  return ChildResult{run.finished, run.exited, run.exitStatus, run.signal, std::move(run.out)};
}

}  // namespace platform_tests
