#pragma once

#include <mutex>
#include <utility>

namespace dispatch {

// The token of a once-per-process action; usually a function-local or file-scope static.
class OnceFlag {
 public:
  OnceFlag() = default;
  OnceFlag(const OnceFlag&) = delete;
  OnceFlag& operator=(const OnceFlag&) = delete;

 private:
  template <class F>
  friend void once(OnceFlag& flag, F&& action);
  std::once_flag _flag;
};

// Runs `action` exactly once per flag, however many threads call at once; every caller returns
// after the action has completed and sees its effects. Calling once() on the same flag from
// inside its own action deadlocks. The action must not throw.
template <class F>
void once(OnceFlag& flag, F&& action) {
  std::call_once(flag._flag, std::forward<F>(action));
}

}  // namespace dispatch
