#include "MarkerSearch.h"

#include <string.h>

#include <cstring>

#include "foundation/VectorInstructions.h"

namespace {

// The first place of `marker` in [from, end), by the C library's search.
const char* findPlainly(const char* from, const char* end, std::string_view marker) {
  if (from >= end) return nullptr;
  return static_cast<const char*>(
      memmem(from, static_cast<std::size_t>(end - from), marker.data(), marker.size()));
}

#if MENDKIT_X86

__attribute__((target("avx2"))) const char* findAvx2(const char* from, const char* end,
                                                     std::string_view marker) {
  const std::size_t last = marker.size() - 1;
  const __m256i first = _mm256_set1_epi8(marker.front());
  const __m256i final = _mm256_set1_epi8(marker.back());
  const char* at = from;
  for (; end - at >= static_cast<std::ptrdiff_t>(32 + last); at += 32) {
    const __m256i starts = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i ends = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + last));
    auto candidates = static_cast<unsigned>(_mm256_movemask_epi8(
        _mm256_and_si256(_mm256_cmpeq_epi8(starts, first), _mm256_cmpeq_epi8(ends, final))));
    while (candidates != 0) {
      const char* candidate = at + __builtin_ctz(candidates);
      if (std::memcmp(candidate + 1, marker.data() + 1, last - 1) == 0) return candidate;
      candidates &= candidates - 1;
    }
  }
  return findPlainly(at, end, marker);
}

const char* findSse2(const char* from, const char* end, std::string_view marker) {
  const std::size_t last = marker.size() - 1;
  const __m128i first = _mm_set1_epi8(marker.front());
  const __m128i final = _mm_set1_epi8(marker.back());
  const char* at = from;
  for (; end - at >= static_cast<std::ptrdiff_t>(16 + last); at += 16) {
    const __m128i starts = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i ends = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + last));
    auto candidates = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_and_si128(_mm_cmpeq_epi8(starts, first), _mm_cmpeq_epi8(ends, final))));
    while (candidates != 0) {
      const char* candidate = at + __builtin_ctz(candidates);
      if (std::memcmp(candidate + 1, marker.data() + 1, last - 1) == 0) return candidate;
      candidates &= candidates - 1;
    }
  }
  return findPlainly(at, end, marker);
}

#endif

}  // namespace

MarkerSearch::MarkerSearch(std::string_view marker) : _marker(marker), _avx2(false) {
#if MENDKIT_X86
  _avx2 = __builtin_cpu_supports("avx2");
#endif
}

const char* MarkerSearch::find(const char* from, const char* end) const {
  if (_marker.size() < 2) return findPlainly(from, end, _marker);
#if MENDKIT_X86
  return _avx2 ? findAvx2(from, end, _marker) : findSse2(from, end, _marker);
#else
  return findPlainly(from, end, _marker);
#endif
}
