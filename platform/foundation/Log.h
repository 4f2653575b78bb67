#pragma once

#include <string>

namespace foundation {

// Writes one line to the system log: on standard error as
// "YYYY-MM-DD HH:MM:SS.mmm <process name>[pid:tid] text" (local time, milliseconds truncated, a
// newline added unless the text ends with one), and to syslog. printf-style. Thread-safe; lines
// from several threads never interleave.
void NSLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logLine(const std::string& text);

// The log line for `text` at the given time, as logLine writes it (without syslog).
std::string formatLogLine(double timeIntervalSince1970, const std::string& processName, long pid,
                          long tid, const std::string& text);

}  // namespace foundation
