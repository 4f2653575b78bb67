#include "foundation/Utf8Validator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using foundation::Utf8Validator;

using Way = Utf8Validator::Way;

bool validInPieces(Way way, const std::string& text, std::size_t piece) {
  Utf8Validator validator(way);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t at = 0; at < text.size(); at += piece) {
    validator.feed(bytes + at, std::min(piece, text.size() - at));
  }
  return validator.finish();
}

// Every sequence at every place around the 16- and 32-byte edges, alone at the end of the text
// or followed by more, fed whole or in pieces: each way gives the table's answer.
TEST(Utf8ValidatorTest, EveryWayAgreesOnTrickySequencesAtEveryBlockEdge) {
  const struct {
    const char* bytes;
    bool valid;
  } sequences[] = {
      {"\xC2\x80", true},
      {"\xC3\xA9", true},
      {"\xDF\xBF", true},
      {"\xE0\xA0\x80", true},
      {"\xE2\x9C\x93", true},
      {"\xED\x9F\xBF", true},
      {"\xEE\x80\x80", true},
      {"\xF0\x90\x80\x80", true},
      {"\xF4\x8F\xBF\xBF", true},
      {"\xC0\x80", false},
      {"\xC1\xBF", false},
      {"\xE0\x80\x80", false},
      {"\xE0\x9F\xBF", false},
      {"\xF0\x80\x80\x80", false},
      {"\xF0\x8F\xBF\xBF", false},
      {"\xED\xA0\x80", false},
      {"\xED\xBF\xBF", false},
      {"\xF4\x90\x80\x80", false},
      {"\xF5\x80\x80\x80", false},
      {"\xF8\x88\x80\x80", false},
      {"\xFF", false},
      {"\x80", false},
      {"\xBF\x80", false},
      {"\xC3", false},
      {"\xE2\x9C", false},
      {"\xF0\x90\x80", false},
      {"\xC3\x41", false},
      {"\xE2\x41\x80", false},
      {"\xC3\xA9\xA9", false},
      {"\xF0\x90\x80\x80\x80", false},
  };
  std::vector<Way> ways = {Way::Portable, Way::Sse2};
  if (Utf8Validator::fastest() == Way::Avx2) ways.push_back(Way::Avx2);
  for (const auto& sequence : sequences) {
    for (std::size_t offset = 0; offset <= 70; ++offset) {
      for (const char* tail :
           {"", "z", "tail of the text, longer than a block: 0123456789abcdef"}) {
        const std::string text = std::string(offset, 'a') + sequence.bytes + tail;
        for (std::size_t piece :
             {std::size_t{1}, std::size_t{7}, std::size_t{32}, std::size_t{33}, text.size()}) {
          for (Way way : ways) {
            EXPECT_EQ(validInPieces(way, text, piece), sequence.valid)
                << "way " << static_cast<int>(way) << ", offset " << offset << ", piece " << piece
                << ", tail " << std::string(tail).size();
          }
        }
      }
    }
  }
}

}  // namespace
