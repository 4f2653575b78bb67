#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/FileDescriptor.h"
#include "support/Deadline.h"

namespace testing_support {

// Where a child's standard output and standard error go.
enum class ChildOutput {
  Captured,     // each into its own pipe: ChildResult::out and ::err
  Interleaved,  // both into one pipe, in the order written: ChildResult::out
  Discarded,    // both to /dev/null
};

struct ChildOptions {
  // "NAME=value" entries replacing those of the same name in the test's environment, or added.
  std::vector<std::string> environment{};
  ChildOutput output = ChildOutput::Captured;
  // A pipe to the child's standard input (see Subprocess::send); otherwise /dev/null.
  bool input = false;
  // Whether the child counts as finished only once every holder of its output pipes (the child
  // and whatever it left running) has closed them; otherwise its own end is enough.
  bool untilOutputCloses = true;
  // Whether the child leads a process group of its own; otherwise it joins the test's.
  bool newProcessGroup = false;
};

// What a child did, once it ended or was killed.
struct ChildResult {
  bool finished = false;  // ended (see ChildOptions::untilOutputCloses) within the bound
  bool exited = false;    // ended through exit() or a return from main
  int exitStatus = -1;    // its exit status when it exited, else -1
  int signal = 0;         // the signal that ended it, if any
  std::string out, err;   // what it wrote
  double seconds = 0;     // real time from its start to its end (or to the bound)
};

// One child process started with posix_spawn. A child still running when the object is destroyed
// is killed (SIGKILL) and reaped. Use from one thread.
class Subprocess {
 public:
  // Starts argv[0] (a path, not looked up on PATH) with `argv`. Fails the test, and pid() is -1,
  // when it cannot start.
  explicit Subprocess(const std::vector<std::string>& argv, const ChildOptions& options = {});
  ~Subprocess();
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  pid_t pid() const { return _pid; }

  // Writes all of `bytes` to the child's standard input; false when it cannot.
  bool send(std::string_view bytes);
  // Collects the child's output until `out` holds `text` at least `times` times, for up to
  // `seconds` of real time; true when it does.
  bool awaitOutput(std::string_view text, double seconds, size_t times = 1);
  // Closes the child's standard input and waits up to `seconds` of real time for the child to
  // finish; kills it when it has not ended by then. Answers what it did; a second call answers
  // the same.
  ChildResult wait(double seconds);
  // Gives the child up: neither waited for nor killed here; the caller reaps it.
  pid_t release();

 private:
  using Clock = std::chrono::steady_clock;

  bool ended() const { return _status.has_value(); }
  bool outputOpen() const { return _out.valid() || _err.valid(); }
  // Reaps the child if it has ended, without blocking.
  void reapIfEnded();
  // Reads what the output pipes hold and notes the child's end, waiting until `deadline` for
  // either to happen; false when nothing did by then.
  bool collect(const Deadline& deadline);
  void kill();

  pid_t _pid = -1;
  Clock::time_point _start;
  bool _untilOutputCloses = true;
  foundation::FileDescriptor _input, _out, _err, _pidfd;
  std::optional<int> _status;  // the wait status, once reaped
  ChildResult _result;
  bool _waited = false;
};

// Starts `argv` as a Subprocess and waits for it, up to `seconds`.
ChildResult runChild(const std::vector<std::string>& argv, const ChildOptions& options = {},
                     double seconds = 60);

// Waits up to `seconds` of real time for `pid`, a child of this process however started, to end,
// and reaps it; kills and reaps it when it has not ended by then, and answers nullopt. Otherwise
// the wait status.
std::optional<int> waitForChild(pid_t pid, double seconds);

}  // namespace testing_support
