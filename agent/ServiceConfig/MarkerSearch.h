#pragma once

#include <string>
#include <string_view>

// Finds a fixed text of at least two bytes in memory. Candidates are where the text's first and
// last bytes both stand at the right distance, compared 32 or 16 places at once where the
// processor can (AVX2, SSE2), and only those are compared whole. Any thread; immutable.
class MarkerSearch {
 public:
  explicit MarkerSearch(std::string_view marker);

  // The first place in [from, end) where the whole marker lies, or null.
  const char* find(const char* from, const char* end) const;

 private:
  std::string _marker;
  bool _avx2;
};
