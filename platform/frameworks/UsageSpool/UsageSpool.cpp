#include "UsageSpool.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <utility>
#include <vector>

#include "foundation/FileDescriptor.h"

namespace usage_spool {
namespace {

std::string home() {
  if (const char* value = std::getenv("HOME"); value && *value) return value;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir) {
    return found->pw_dir;
  }
  return "/";
}

// Opens the spool file at `path` without blocking on it: a FIFO or device in its place is refused
// with -EINVAL, a symbolic link with -ELOOP, so that no line ends up anywhere but in a plain file
// of the spool. `flags` are open's flags. The descriptor, or a negative errno value.
int openSpoolFile(const std::string& path, int flags, foundation::FileDescriptor* file) {
  foundation::FileDescriptor opened(
      ::open(path.c_str(), flags | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600));
  if (!opened) return -errno;
  struct stat status {};
  if (::fstat(opened.get(), &status) != 0) return -errno;
  if (!S_ISREG(status.st_mode)) return -EINVAL;
  *file = std::move(opened);
  return 0;
}

// An open spool file held under an exclusive flock until destroyed (closing releases the lock).
class LockedFile {
 public:
  LockedFile(const std::string& path, int flags) {
    _error = openSpoolFile(path, flags, &_file);
    if (_error != 0) return;
    while (::flock(_file.get(), LOCK_EX) != 0) {
      if (errno != EINTR) {
        _error = -errno;
        return;
      }
    }
  }

  int fd() const { return _file.get(); }
  int error() const { return _error; }

 private:
  foundation::FileDescriptor _file;
  int _error = 0;
};

int writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    if (written == 0) return -EIO;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return 0;
}

int64_t countNewlines(int fd) {
  int64_t lines = 0;
  char buffer[65536];
  off_t offset = 0;
  for (;;) {
    ssize_t got = ::pread(fd, buffer, sizeof buffer, offset);
    if (got < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    if (got == 0) return lines;
    for (ssize_t i = 0; i < got; ++i) lines += buffer[i] == '\n';
    offset += got;
  }
}

// Appends `line` and a newline to the locked file. A torn last line (left by a writer that was
// killed mid-write) is ended first so that the new line stands alone; a failed write is undone.
int appendLocked(int fd, const std::string& line) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return -errno;
  std::string text;
  if (status.st_size > 0) {
    char last = '\n';
    ssize_t got;
    while ((got = ::pread(fd, &last, 1, status.st_size - 1)) < 0 && errno == EINTR) {
    }
    // Without knowing the last byte, the new line could end up glued to a torn one.
    if (got < 0) return -errno;
    if (got != 1) return -EIO;
    if (last != '\n') text += '\n';
  }
  text += line;
  text += '\n';
  int result = writeAll(fd, text.data(), text.size());
  if (result != 0) {
    while (::ftruncate(fd, status.st_size) != 0 && errno == EINTR) {
    }
  }
  return result;
}

std::string pathOf(const std::string& fileName) { return UsageSpool::directory() + "/" + fileName; }

}  // namespace

std::string UsageSpool::directory() {
  std::string base = home();
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (base == "/") base.clear();
  return base + "/Library/Application Support/Mendkit/UsageLog";
}

int UsageSpool::prepare() {
  std::error_code error;
  std::filesystem::path folder = directory();
  std::filesystem::create_directories(folder, error);
  if (error) return -error.value();
  if (!std::filesystem::is_directory(folder, error)) return error ? -error.value() : -ENOTDIR;
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return -errno;
  return 0;
}

int UsageSpool::appendLine(const std::string& fileName, const std::string& line) {
  if (int prepared = prepare(); prepared != 0) return prepared;
  LockedFile file(pathOf(fileName), O_RDWR | O_APPEND | O_CREAT);
  if (file.error() != 0) return file.error();
  return appendLocked(file.fd(), line);
}

int UsageSpool::appendNumberedLine(const std::string& fileName,
                                   const std::function<std::string(int64_t)>& makeLine,
                                   int64_t* number) {
  if (int prepared = prepare(); prepared != 0) return prepared;
  LockedFile file(pathOf(fileName), O_RDWR | O_APPEND | O_CREAT);
  if (file.error() != 0) return file.error();
  int64_t lines = countNewlines(file.fd());
  if (lines < 0) return static_cast<int>(lines);
  int result = appendLocked(file.fd(), makeLine(lines + 1));
  if (result == 0 && number) *number = lines + 1;
  return result;
}

int64_t UsageSpool::countLines(const std::string& fileName) {
  foundation::FileDescriptor file;
  int opened = openSpoolFile(pathOf(fileName), O_RDONLY, &file);
  if (opened != 0) return opened == -ENOENT ? 0 : opened;
  return countNewlines(file.get());
}

int UsageSpool::sync(const std::string& fileName) {
  foundation::FileDescriptor file;
  int opened = openSpoolFile(pathOf(fileName), O_RDONLY, &file);
  if (opened != 0) return opened == -ENOENT ? 0 : opened;
  return ::fsync(file.get()) == 0 ? 0 : -errno;
}

std::string UsageSpool::timestamp() {
  using namespace std::chrono;
  auto now = system_clock::now();
  auto milliseconds = duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000);
  int millis = static_cast<int>(milliseconds % 1000);
  if (millis < 0) {
    millis += 1000;
    --seconds;
  }
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, millis);
  return text;
}

}  // namespace usage_spool
