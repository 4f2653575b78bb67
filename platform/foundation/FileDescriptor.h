#pragma once

#include <unistd.h>

#include <utility>

namespace foundation {

// Owns one open file descriptor and closes it when it goes out of scope. Move-only; -1 stands
// for "none". Not thread-safe: one owner at a time.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : _fd(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&& other) noexcept : _fd(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  int get() const { return _fd; }
  bool valid() const { return _fd >= 0; }
  explicit operator bool() const { return valid(); }

  // Closes the descriptor held, if any, and takes `fd` instead.
  void reset(int fd = -1) {
    if (_fd >= 0) ::close(_fd);
    _fd = fd;
  }
  // Gives up ownership: the caller closes the answer.
  int release() { return std::exchange(_fd, -1); }

 private:
  int _fd = -1;
};

}  // namespace foundation
