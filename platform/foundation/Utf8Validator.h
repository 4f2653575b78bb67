#pragma once

#include <cstddef>
#include <cstdint>

namespace foundation {

// Checks UTF-8 as it arrives in pieces: shortest forms only, no surrogates, nothing above
// U+10FFFF; a sequence may be split between pieces anywhere. One object per text, one thread.
// The vector ways check whole 32-byte blocks and hold back what is left of a piece until the next
// one; every way gives the same answers.
class Utf8Validator {
 public:
  enum class Way { Portable, Sse2, Avx2 };
  // The fastest way this processor runs.
  static Way fastest();

  explicit Utf8Validator(Way way = fastest());

  // False once anything fed so far can't belong to valid UTF-8 (possibly only found a block or
  // a piece later than the byte at fault).
  bool feed(const unsigned char* bytes, std::size_t length);
  // True when everything fed was valid UTF-8 and no sequence is left unfinished. Ends the text.
  bool finish();

 private:
  bool feedPortable(const unsigned char* bytes, std::size_t length);
  void checkBlocks(const unsigned char* blocks, std::size_t count);

  Way _way;
  bool _valid = true;
  // The portable way's state: continuation bytes still owed, and the range the next one must lie
  // in.
  int _pending = 0;
  unsigned char _low = 0x80, _high = 0xBF;
  // The vector ways' state: the last block checked, and the start of the next one.
  unsigned char _previous[32] = {};
  unsigned char _partial[32] = {};
  std::size_t _partialLength = 0;
};

}  // namespace foundation
