#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace usage_spool {

// The statistics spool of the current user: ~/Library/Application Support/Mendkit/UsageLog, with
// append-only files of one JSON object a line. The home is read anew on every call (`HOME`, else
// the user database). Stateless and thread-safe; appends from several threads or processes never
// interleave: each one holds an exclusive flock on its file, and a failed append is rolled back,
// so a file only ever grows by whole lines. A spool file is a regular file or nothing: a FIFO or
// device in its place gives -EINVAL and a symbolic link -ELOOP, at once and without blocking.
class UsageSpool {
 public:
  static std::string directory();
  // Creates the folder (and its parents) when missing. 0, or a negative errno value.
  static int prepare();
  // Appends `line` and a newline to `fileName` in the folder, creating both as needed (files with
  // mode 0600). 0, or a negative errno value.
  static int appendLine(const std::string& fileName, const std::string& line);
  // As appendLine, numbering the line: `makeLine` gets 1 + the number of lines already in the file
  // and runs under the file's lock. Stores the number in `*number` on success.
  static int appendNumberedLine(const std::string& fileName,
                                const std::function<std::string(int64_t)>& makeLine,
                                int64_t* number);
  // The number of whole lines in `fileName`: 0 when it does not exist, else a negative errno value.
  static int64_t countLines(const std::string& fileName);
  // Flushes `fileName` to the disk. 0 (also when it does not exist), or a negative errno value.
  static int sync(const std::string& fileName);
  // The current time as ISO 8601 in UTC with milliseconds: 2024-05-01T12:34:56.789Z.
  static std::string timestamp();
};

}  // namespace usage_spool
