#pragma once

// The large updater log that the log benchmarks judge.

#include <cstdint>
#include <cstdio>
#include <string>

namespace bench {

// Writes at least `size` bytes of lines like an updater's, some with non-ASCII text, to a new file
// at `path`: valid UTF-8 recording a failed restore about 1 MiB before the end and no success.
// False when the file can't be written whole.
inline bool writeFailedUpdaterLog(const std::string& path, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  std::string chunk;
  std::size_t written = 0;
  bool failureWritten = false;
  for (unsigned line = 0; written < size; ++line) {
    char text[160];
    int length =
        std::snprintf(text, sizeof text,
                      "2026-12-08 01:%02u:%02u.%03u [%u] <Restore Device %p>: step %u "
                      "— écriture de la partition %u ✓\n",
                      line / 60 % 60, line % 60, line % 1000, line % 7,
                      reinterpret_cast<void*>(std::uintptr_t{0x7f00} + line), line % 97, line % 13);
    chunk.append(text, static_cast<std::size_t>(length));
    if (!failureWritten && written + chunk.size() > size - (1 << 20)) {
      chunk += "Restore completed, status:1602\n";
      failureWritten = true;
    }
    if (chunk.size() >= (1 << 20)) {
      if (std::fwrite(chunk.data(), 1, chunk.size(), file) != chunk.size()) break;
      written += chunk.size();
      chunk.clear();
    }
  }
  return std::fclose(file) == 0 && written >= size;
}

}  // namespace bench
