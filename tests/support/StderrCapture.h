#pragma once

#include <string>

#include "foundation/FileDescriptor.h"

namespace testing_support {

// Sends the process's standard error (and so its log lines) to a file until finished or destroyed.
class StderrCapture {
 public:
  explicit StderrCapture(std::string path);
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Restores standard error and answers everything written meanwhile. Later calls answer the same.
  std::string finish();

 private:
  std::string _path;
  foundation::FileDescriptor _saved;  // the standard error to restore
};

// How often `part` occurs in `text`, overlapping occurrences counted.
size_t occurrences(const std::string& text, const std::string& part);

}  // namespace testing_support
