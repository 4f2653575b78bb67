#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace foundation {

// Well-formed UTF-8 throughout: shortest forms only, no surrogates, nothing above U+10FFFF. NUL is
// a character like any other here; callers that refuse it say so. Utf8Validator checks the same
// rule over large texts, and texts that arrive in pieces, with vector instructions.

// One step of decoding: the character at the start of a text.
struct Utf8Character {
  char32_t codePoint = 0;  // U+FFFD when ill-formed
  // The bytes it takes: a whole sequence, or for an ill-formed one the longest start that could
  // still have begun a well-formed sequence (at least 1), which one U+FFFD stands for.
  std::size_t length = 0;
  bool valid = false;
};

// The character at the start of `text`, which is not empty.
Utf8Character decodeUtf8(std::string_view text);

bool isValidUtf8(std::string_view text);

// Appends `codePoint` (at most U+10FFFF) in UTF-8.
void appendUtf8(std::string& out, char32_t codePoint);

// In valid UTF-8: the length of the sequence that `lead` begins, and whether `byte` continues one.
std::size_t utf8SequenceLength(unsigned char lead);
inline bool isUtf8Continuation(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// How many UTF-16 units the valid UTF-8 `text` takes.
std::size_t utf16Length(std::string_view text);

}  // namespace foundation
