#include "Log.h"

#include <sys/syscall.h>
#include <syslog.h>
#include <unistd.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <vector>

#include "Clock.h"
#include "ProcessInfo.h"

namespace foundation {

std::string formatLogLine(double timeIntervalSince1970, const std::string& processName, long pid,
                          long tid, const std::string& text) {
  double whole = std::floor(timeIntervalSince1970);
  std::time_t seconds = static_cast<std::time_t>(whole);
  int millis = static_cast<int>((timeIntervalSince1970 - whole) * 1000.0);
  if (millis > 999) millis = 999;
  std::tm parts{};
  localtime_r(&seconds, &parts);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &parts);
  char prefix[96];
  std::snprintf(prefix, sizeof prefix, "%s.%03d ", stamp, millis);
  std::string line =
      prefix + processName + "[" + std::to_string(pid) + ":" + std::to_string(tid) + "] " + text;
  if (line.empty() || line.back() != '\n') line += '\n';
  return line;
}

void logLine(const std::string& text) {
  static std::mutex s_logMutex;
  static std::once_flag s_syslogOnce;
  const std::string& name = ProcessInfo::processName();
  std::call_once(s_syslogOnce, [&] { openlog(name.c_str(), LOG_PID, LOG_USER); });
  std::string line =
      formatLogLine(Clock::current().now().timeIntervalSince1970, name, static_cast<long>(getpid()),
                    static_cast<long>(syscall(SYS_gettid)), text);
  std::lock_guard<std::mutex> guard(s_logMutex);
  // One write per line keeps lines whole even against other processes sharing the stream.
  ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
  (void)ignored;
  syslog(LOG_NOTICE, "%s", text.c_str());
}

void NSLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (length > 0) {
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    text.assign(buffer.data(), static_cast<size_t>(length));
  }
  va_end(args);
  logLine(text);
}

}  // namespace foundation
