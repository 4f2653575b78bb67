#include "foundation/Utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using foundation::appendUtf8;
using foundation::decodeUtf8;
using foundation::isValidUtf8;

namespace {

// Every scalar value encodes to its shortest form and decodes back whole; the UTF-16 length
// counts a pair for each character past the basic plane.
TEST(Utf8Test, EveryScalarValueRoundTrips) {
  for (char32_t code = 0; code <= 0x10FFFF; ++code) {
    if (code >= 0xD800 && code <= 0xDFFF) continue;
    std::string bytes;
    appendUtf8(bytes, code);
    foundation::Utf8Character decoded = decodeUtf8(bytes);
    ASSERT_TRUE(decoded.valid) << std::hex << static_cast<std::uint32_t>(code);
    ASSERT_EQ(decoded.codePoint, code);
    ASSERT_EQ(decoded.length, bytes.size());
    ASSERT_EQ(foundation::utf8SequenceLength(static_cast<unsigned char>(bytes[0])), bytes.size());
    ASSERT_EQ(foundation::utf16Length(bytes), code >= 0x10000 ? 2u : 1u);
  }
}

// An ill-formed sequence takes the bytes that could still have begun a well-formed one: one
// U+FFFD for each, as the Unicode standard's practice has it.
TEST(Utf8Test, IllFormedSequencesTakeTheirLongestPossibleStart) {
  struct Case {
    const char* what;
    std::string bytes;
    std::size_t length;
  };
  const Case cases[] = {
      {"overlong two bytes", "\xC0\x80", 1},
      {"overlong three bytes", "\xE0\x80\x80", 1},
      {"overlong four bytes", "\xF0\x8F\xBF\xBF", 1},
      {"a surrogate", "\xED\xA0\x80", 1},
      {"past U+10FFFF", "\xF4\x90\x80\x80", 1},
      {"a lead byte never used", "\xF5\x80\x80\x80", 1},
      {"a lone continuation", "\x80", 1},
      {"truncated three bytes", "\xE2\x82", 2},
      {"truncated four bytes", "\xF0\x9F\x98", 3},
      {"an invalid third byte",
       "\xE2\x82"
       "A",
       2},
      {"an invalid second byte",
       "\xC3"
       "A",
       1},
  };
  for (const Case& c : cases) {
    foundation::Utf8Character decoded = decodeUtf8(c.bytes);
    EXPECT_FALSE(decoded.valid) << c.what;
    EXPECT_EQ(decoded.codePoint, U'\uFFFD') << c.what;
    EXPECT_EQ(decoded.length, c.length) << c.what;
    EXPECT_FALSE(isValidUtf8("ok " + c.bytes)) << c.what;
  }
  EXPECT_TRUE(isValidUtf8(std::string("a\0b\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 12)));
  EXPECT_TRUE(isValidUtf8(""));
}

}  // namespace
