#include "Utf8.h"

namespace foundation {

Utf8Character decodeUtf8(std::string_view text) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return {lead, 1, true};
  constexpr Utf8Character kIllFormed{0xFFFD, 1, false};
  std::size_t need;
  char32_t code;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 3;
    code = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 4;
    code = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return kIllFormed;  // a continuation byte, or a lead byte that is never valid
  }
  for (std::size_t k = 1; k < need; ++k) {
    if (k >= text.size()) return {0xFFFD, k, false};
    const unsigned char next = byte(k);
    if (k == 1 ? (next < low || next > high) : (next < 0x80 || next > 0xBF)) {
      return {0xFFFD, k, false};
    }
    code = (code << 6) | (next & 0x3F);
  }
  return {code, need, true};
}

bool isValidUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    if (static_cast<unsigned char>(text[at]) < 0x80) {
      ++at;
      continue;
    }
    Utf8Character character = decodeUtf8(text.substr(at));
    if (!character.valid) return false;
    at += character.length;
  }
  return true;
}

void appendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::size_t utf8SequenceLength(unsigned char lead) {
  return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

std::size_t utf16Length(std::string_view text) {
  std::size_t units = 0;
  for (unsigned char byte : text) {
    if ((byte & 0xC0) != 0x80) ++units;
    if (byte >= 0xF0) ++units;  // a pair of surrogates
  }
  return units;
}

}  // namespace foundation
