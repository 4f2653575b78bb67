#pragma once

#include <dirent.h>

#include <string>
#include <utility>

namespace foundation {

// Owns one open directory stream and closes it when it goes out of scope. Move-only; a stream
// that could not be opened is "none". Not thread-safe: one owner at a time.
class DirectoryStream {
 public:
  DirectoryStream() = default;
  // Opens `path` for listing; valid() is false (and errno says why) when it cannot be opened.
  explicit DirectoryStream(const std::string& path) : _dir(::opendir(path.c_str())) {}
  ~DirectoryStream() { reset(); }
  DirectoryStream(const DirectoryStream&) = delete;
  DirectoryStream& operator=(const DirectoryStream&) = delete;
  DirectoryStream(DirectoryStream&& other) noexcept : _dir(std::exchange(other._dir, nullptr)) {}
  DirectoryStream& operator=(DirectoryStream&& other) noexcept {
    if (this != &other) {
      reset();
      _dir = std::exchange(other._dir, nullptr);
    }
    return *this;
  }

  bool valid() const { return _dir != nullptr; }
  explicit operator bool() const { return valid(); }
  DIR* get() const { return _dir; }

  // The next entry, "." and ".." included, or null at the end (or on none); the entry stays
  // valid until the next call.
  const dirent* next() { return _dir ? ::readdir(_dir) : nullptr; }

  // Closes the stream held, if any.
  void reset() {
    if (_dir) ::closedir(std::exchange(_dir, nullptr));
  }

 private:
  DIR* _dir = nullptr;
};

}  // namespace foundation
