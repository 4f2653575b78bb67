#pragma once

#include "dispatch/MainThread.h"

namespace appkit {

// Logs `function` and aborts: an appkit entry point that belongs to the main thread was called
// from another one.
[[noreturn]] void mainThreadViolation(const char* function);

}  // namespace appkit

// In debug builds, every appkit entry point that belongs to the main thread starts with this;
// release builds check nothing.
#ifdef NDEBUG
#define APPKIT_ASSERT_MAIN_THREAD() ((void)0)
#else
#define APPKIT_ASSERT_MAIN_THREAD() \
  (dispatch::isMainThread() ? (void)0 : ::appkit::mainThreadViolation(__func__))
#endif
