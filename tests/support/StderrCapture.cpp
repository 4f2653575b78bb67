#include "support/StderrCapture.h"

#include <fcntl.h>
#include <unistd.h>

#include "support/TestHome.h"

namespace testing_support {

StderrCapture::StderrCapture(std::string path)
    : _path(std::move(path)), _saved(::dup(STDERR_FILENO)) {
  foundation::FileDescriptor file(
      ::open(_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  ::dup2(file.get(), STDERR_FILENO);
}

StderrCapture::~StderrCapture() { finish(); }

std::string StderrCapture::finish() {
  if (_saved) {
    ::dup2(_saved.get(), STDERR_FILENO);
    _saved.reset();
  }
  return readFile(_path).value_or("");
}

size_t occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

}  // namespace testing_support
