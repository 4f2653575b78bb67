#pragma once

#include <sys/types.h>

#include <string>

#include "FileDescriptor.h"
#include "Result.h"

namespace foundation {

// The paths given are agent paths, mapped as platformPath maps them.

// The regular file at `path` opened for reading (blocking reads, close-on-exec); an invalid
// descriptor when it is missing, not a regular file (a FIFO or device in its place is refused
// without blocking) or cannot be opened, with errno saying why (EISDIR or EINVAL for what is not a
// regular file). The caller owns the answer. Any thread.
FileDescriptor openRegularFile(const std::string& path);

// The whole content of the regular file at `path`; an error when openRegularFile refuses it, it is
// larger than `maxSize` bytes (EFBIG), or it cannot be read. Any thread.
Result<std::string> readRegularFile(const std::string& path, off_t maxSize);

}  // namespace foundation
