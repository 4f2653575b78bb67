#include "Utf8Validator.h"

#include <algorithm>
#include <cstring>

#include "VectorInstructions.h"

namespace foundation {

namespace {

#if MENDKIT_X86

// The block check looks at each byte with the one, two and three before it. A byte and the one
// before it are classified by three tables, on the high and low half of the earlier byte and the
// high half of the later one; a pair is wrong where the three share a bit. Bits:
constexpr unsigned char kTooShort = 1 << 0;          // a lead byte, then no continuation byte
constexpr unsigned char kTooLong = 1 << 1;           // ASCII, then a continuation byte
constexpr unsigned char kOverlong3 = 1 << 2;         // E0, then 80-9F
constexpr unsigned char kTooLarge = 1 << 3;          // F4 then 90-BF, or F5-FF then 90-BF
constexpr unsigned char kSurrogate = 1 << 4;         // ED, then A0-BF
constexpr unsigned char kOverlong2 = 1 << 5;         // C0 or C1, then a continuation byte
constexpr unsigned char kTooLarge1000 = 1 << 6;      // F5-FF, then 80-8F
constexpr unsigned char kOverlong4 = 1 << 6;         // F0, then 80-8F
constexpr unsigned char kTwoContinuations = 1 << 7;  // right only as a third or fourth byte
constexpr unsigned char kCarry = kTooShort | kTooLong | kTwoContinuations;

// By the earlier byte's high half.
constexpr unsigned char kFirstHigh[16] = {
    kTooLong,
    kTooLong,
    kTooLong,
    kTooLong,
    kTooLong,
    kTooLong,
    kTooLong,
    kTooLong,
    kTwoContinuations,
    kTwoContinuations,
    kTwoContinuations,
    kTwoContinuations,
    kTooShort | kOverlong2,
    kTooShort,
    kTooShort | kOverlong3 | kSurrogate,
    kTooShort | kTooLarge | kTooLarge1000 | kOverlong4,
};
// By the earlier byte's low half.
constexpr unsigned char kFirstLow[16] = {
    kCarry | kOverlong3 | kOverlong2 | kOverlong4,
    kCarry | kOverlong2,
    kCarry,
    kCarry,
    kCarry | kTooLarge,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000 | kSurrogate,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
};
// By the later byte's high half.
constexpr unsigned char kSecondHigh[16] = {
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooLong | kOverlong2 | kTwoContinuations | kOverlong3 | kTooLarge1000 | kOverlong4,
    kTooLong | kOverlong2 | kTwoContinuations | kOverlong3 | kTooLarge,
    kTooLong | kOverlong2 | kTwoContinuations | kSurrogate | kTooLarge,
    kTooLong | kOverlong2 | kTwoContinuations | kSurrogate | kTooLarge,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
};

__attribute__((target("avx2"))) __m256i table(const unsigned char (&entries)[16]) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(entries)));
}

// The bytes of `current` each moved `n` places later, the last `n` of `previous` coming in first.
template <int n>
__attribute__((target("avx2"))) __m256i earlier(__m256i current, __m256i previous) {
  return _mm256_alignr_epi8(current, _mm256_permute2x128_si256(previous, current, 0x21), 16 - n);
}

// Non-zero where `blocks` (count whole blocks of 32 bytes, following `previous`) hold anything
// that isn't valid UTF-8; `previous` becomes the last block.
__attribute__((target("avx2"))) bool blocksHaveErrorAvx2(const unsigned char* blocks,
                                                         std::size_t count,
                                                         unsigned char* previous) {
  const __m256i firstHigh = table(kFirstHigh);
  const __m256i firstLow = table(kFirstLow);
  const __m256i secondHigh = table(kSecondHigh);
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i highBit = _mm256_set1_epi8(static_cast<char>(0x80));
  const __m256i thirdFrom = _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80));
  const __m256i fourthFrom = _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80));
  __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(previous));
  __m256i error = _mm256_setzero_si256();
  for (std::size_t index = 0; index < count; ++index) {
    const __m256i input = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(blocks) + index);
    if (_mm256_movemask_epi8(_mm256_or_si256(input, before)) == 0) {
      before = input;  // ASCII after ASCII: nothing to check
      continue;
    }
    const __m256i one = earlier<1>(input, before);
    const __m256i classes = _mm256_and_si256(
        _mm256_and_si256(
            _mm256_shuffle_epi8(firstHigh, _mm256_and_si256(_mm256_srli_epi16(one, 4), nibble)),
            _mm256_shuffle_epi8(firstLow, _mm256_and_si256(one, nibble))),
        _mm256_shuffle_epi8(secondHigh, _mm256_and_si256(_mm256_srli_epi16(input, 4), nibble)));
    // Third and fourth bytes of a sequence: two and three places after an E0-FF lead.
    const __m256i owed =
        _mm256_and_si256(_mm256_or_si256(_mm256_subs_epu8(earlier<2>(input, before), thirdFrom),
                                         _mm256_subs_epu8(earlier<3>(input, before), fourthFrom)),
                         highBit);
    error = _mm256_or_si256(error, _mm256_xor_si256(owed, classes));
    before = input;
  }
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(previous), before);
  return !_mm256_testz_si256(error, error);
}

#endif

// Plain ASCII at bytes[i..]: how many bytes on from i, in whole words of the way's width.
std::size_t asciiRun(const unsigned char* bytes, std::size_t i, std::size_t length, bool sse2) {
  const std::size_t start = i;
#if MENDKIT_X86
  if (sse2) {
    while (i + 16 <= length) {
      const __m128i word = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
      if (_mm_movemask_epi8(word) != 0) break;
      i += 16;
    }
  }
#else
  (void)sse2;
#endif
  while (i + 8 <= length) {
    std::uint64_t word;
    std::memcpy(&word, bytes + i, 8);
    if (word & 0x8080808080808080ull) break;
    i += 8;
  }
  return i - start;
}

}  // namespace

Utf8Validator::Way Utf8Validator::fastest() {
#if MENDKIT_X86
  if (__builtin_cpu_supports("avx2")) return Way::Avx2;
  if (__builtin_cpu_supports("sse2")) return Way::Sse2;
#endif
  return Way::Portable;
}

Utf8Validator::Utf8Validator(Way way) : _way(way) {
#if !MENDKIT_X86
  _way = Way::Portable;
#endif
}

bool Utf8Validator::feed(const unsigned char* bytes, std::size_t length) {
  if (!_valid) return false;
  if (_way != Way::Avx2) return _valid = feedPortable(bytes, length);
  if (_partialLength > 0) {
    const std::size_t taken = std::min(length, sizeof _partial - _partialLength);
    std::memcpy(_partial + _partialLength, bytes, taken);
    _partialLength += taken;
    bytes += taken;
    length -= taken;
    if (_partialLength < sizeof _partial) return true;
    checkBlocks(_partial, 1);
    _partialLength = 0;
  }
  checkBlocks(bytes, length / 32);
  _partialLength = length % 32;
  std::memcpy(_partial, bytes + length - _partialLength, _partialLength);
  return _valid;
}

bool Utf8Validator::finish() {
  if (_way != Way::Avx2) return _valid && _pending == 0;
  // ASCII after the end: a sequence left unfinished is then one cut short.
  std::memset(_partial + _partialLength, 0, sizeof _partial - _partialLength);
  checkBlocks(_partial, 1);
  _partialLength = 0;
  return _valid;
}

void Utf8Validator::checkBlocks(const unsigned char* blocks, std::size_t count) {
#if MENDKIT_X86
  if (count > 0 && blocksHaveErrorAvx2(blocks, count, _previous)) _valid = false;
#else
  (void)blocks;
  (void)count;
#endif
}

bool Utf8Validator::feedPortable(const unsigned char* bytes, std::size_t length) {
  const bool sse2 = _way == Way::Sse2;
  std::size_t i = 0;
  while (i < length) {
    if (_pending == 0) {
      i += asciiRun(bytes, i, length, sse2);
      if (i == length) break;
      unsigned char lead = bytes[i++];
      if (lead < 0x80) continue;
      if (lead < 0xC2 || lead > 0xF4) return false;
      _low = 0x80;
      _high = 0xBF;
      if (lead < 0xE0) {
        _pending = 1;
      } else if (lead < 0xF0) {
        _pending = 2;
        if (lead == 0xE0) _low = 0xA0;
        if (lead == 0xED) _high = 0x9F;
      } else {
        _pending = 3;
        if (lead == 0xF0) _low = 0x90;
        if (lead == 0xF4) _high = 0x8F;
      }
      continue;
    }
    unsigned char next = bytes[i++];
    if (next < _low || next > _high) return false;
    _low = 0x80;
    _high = 0xBF;
    --_pending;
  }
  return true;
}

}  // namespace foundation
