#include "RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "FileDescriptor.h"

namespace foundation {

std::optional<std::string> readRegularFile(const std::string& path, off_t maxSize) {
  // Non-blocking, so that opening a FIFO with no writer returns at once; it is then refused as
  // not regular.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) return std::nullopt;
  struct stat info {};
  std::optional<std::string> bytes;
  if (::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= maxSize) {
    // Read to the end rather than to the size seen, so a file that grows meanwhile is still
    // read whole up to the limit.
    bytes.emplace();
    char buffer[65536];
    for (;;) {
      ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 || bytes->size() + static_cast<size_t>(got) > static_cast<size_t>(maxSize)) {
        bytes.reset();
        break;
      }
      if (got == 0) break;
      bytes->append(buffer, static_cast<size_t>(got));
    }
  }
  return bytes;
}

}  // namespace foundation
