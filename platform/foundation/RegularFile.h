#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace foundation {

// The whole content of the regular file at `path`; nullopt when it is missing, not a regular file
// (a FIFO or device in its place is refused without blocking), larger than `maxSize` bytes, or
// cannot be read. Any thread.
std::optional<std::string> readRegularFile(const std::string& path, off_t maxSize);

}  // namespace foundation
