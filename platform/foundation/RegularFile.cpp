#include "RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "Paths.h"

namespace foundation {
namespace {

Error tooLarge(const std::string& path, off_t maxSize) {
  return Error::fromErrno("read", path + " is larger than " + std::to_string(maxSize) + " bytes",
                          EFBIG);
}

}  // namespace

FileDescriptor openRegularFile(const std::string& path) {
  // Non-blocking, so that opening a FIFO with no writer returns at once; it is then refused as
  // not regular.
  FileDescriptor fd(::open(platformPath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) return fd;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return FileDescriptor();
  if (!S_ISREG(info.st_mode)) {
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return FileDescriptor();
  }
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  return fd;
}

Result<std::string> readRegularFile(const std::string& path, off_t maxSize) {
  FileDescriptor fd = openRegularFile(path);
  if (!fd) return Error::fromErrno("open", "cannot open " + path);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return Error::fromErrno("fstat", "cannot read " + path);
  if (info.st_size > maxSize) return tooLarge(path, maxSize);
  // Read to the end rather than to the size seen, so a file that grows meanwhile is still read
  // whole up to the limit.
  std::string bytes;
  char buffer[65536];
  for (;;) {
    ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Error::fromErrno("read", "cannot read " + path);
    if (bytes.size() + static_cast<size_t>(got) > static_cast<size_t>(maxSize)) {
      return tooLarge(path, maxSize);
    }
    if (got == 0) break;
    bytes.append(buffer, static_cast<size_t>(got));
  }
  return bytes;
}

}  // namespace foundation
