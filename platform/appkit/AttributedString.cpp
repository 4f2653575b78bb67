#include "appkit/AttributedString.h"

#include <algorithm>
#include <utility>

namespace appkit {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed UTF-8 sequence at `at`, or 0 when it is ill-formed; `consumed`
// is then the length of its maximal well-formed prefix (at least 1), which one U+FFFD replaces.
std::size_t sequenceLength(const std::string& text, std::size_t at, std::size_t& consumed) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(at);
  consumed = 1;
  if (lead >= 0x01 && lead <= 0x7F) return 1;
  std::size_t need;
  unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return 0;  // NUL, a continuation byte, or a lead byte that is never valid
  }
  for (std::size_t k = 1; k < need; ++k) {
    if (at + k >= text.size()) return 0;
    unsigned char b = byte(at + k);
    if (k == 1 ? (b < low || b > high) : (b < 0x80 || b > 0xBF)) return 0;
    consumed = k + 1;
  }
  return need;
}

// `text` with every ill-formed sequence and every NUL replaced by U+FFFD. Counts the result's
// UTF-16 units into `length` and the UTF-16 index of each four-byte character into `pairs`.
std::string repaired(std::string text, std::size_t& length, std::vector<std::size_t>& pairs) {
  std::string out;
  bool changed = false;
  length = 0;
  pairs.clear();
  for (std::size_t at = 0; at < text.size();) {
    std::size_t consumed;
    std::size_t n = sequenceLength(text, at, consumed);
    if (n == 0) {
      if (!changed) out.assign(text, 0, at);
      changed = true;
      out += kReplacement;
      at += consumed;
      length += 1;
      continue;
    }
    if (changed) out.append(text, at, n);
    if (n == 4) {
      pairs.push_back(length);
      length += 2;
    } else {
      length += 1;
    }
    at += n;
  }
  return changed ? out : std::move(text);
}

}  // namespace

AttributedString::AttributedString() = default;

AttributedString::AttributedString(std::string utf8) {
  _text = repaired(std::move(utf8), _length, _pairs);
  if (_length > 0) _spans.push_back(Span{_length, std::nullopt, std::nullopt});
}

AttributedString::AttributedString(std::string utf8, const Font& font, const Color& color)
    : AttributedString(std::move(utf8)) {
  if (!_spans.empty()) {
    _spans.front().color = color;
    _spans.front().font = font;
  }
}

bool AttributedString::insideSurrogatePair(std::size_t utf16Index) const {
  return utf16Index > 0 && std::binary_search(_pairs.begin(), _pairs.end(), utf16Index - 1);
}

TextRange AttributedString::clampedRange(TextRange range) const {
  std::size_t begin = std::min(range.location, _length);
  std::size_t end = begin + std::min(range.length, _length - begin);
  if (insideSurrogatePair(begin)) --begin;
  if (insideSurrogatePair(end)) ++end;
  return TextRange{begin, end - begin};
}

std::size_t AttributedString::splitAt(std::size_t utf16Index) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < _spans.size(); ++i) {
    if (utf16Index == start) return i;
    if (utf16Index < _spans[i].end) {
      Span first = _spans[i];
      first.end = utf16Index;
      _spans.insert(_spans.begin() + static_cast<std::ptrdiff_t>(i), first);
      return i + 1;
    }
    start = _spans[i].end;
  }
  return _spans.size();
}

template <typename Change>
void AttributedString::apply(TextRange range, Change change) {
  TextRange clamped = clampedRange(range);
  if (clamped.length == 0) return;
  std::size_t first = splitAt(clamped.location);
  std::size_t last = splitAt(clamped.end());
  for (std::size_t i = first; i < last; ++i) change(_spans[i]);
  // Merge neighbours that have come to match, keeping the representation canonical.
  std::vector<Span> merged;
  merged.reserve(_spans.size());
  for (Span& span : _spans) {
    if (!merged.empty() && merged.back().sameAttributes(span)) {
      merged.back().end = span.end;
    } else {
      merged.push_back(std::move(span));
    }
  }
  _spans = std::move(merged);
}

void AttributedString::setForegroundColor(const Color& color, TextRange range) {
  apply(range, [&](Span& span) { span.color = color; });
}

void AttributedString::setFont(const Font& font, TextRange range) {
  apply(range, [&](Span& span) { span.font = font; });
}

const AttributedString::Span* AttributedString::spanAt(std::size_t utf16Index) const {
  auto it = std::upper_bound(_spans.begin(), _spans.end(), utf16Index,
                             [](std::size_t index, const Span& span) { return index < span.end; });
  return it == _spans.end() ? nullptr : &*it;
}

std::optional<Color> AttributedString::foregroundColorAt(std::size_t utf16Index) const {
  const Span* span = spanAt(utf16Index);
  return span ? span->color : std::nullopt;
}

std::optional<Font> AttributedString::fontAt(std::size_t utf16Index) const {
  const Span* span = spanAt(utf16Index);
  return span ? span->font : std::nullopt;
}

std::vector<AttributedString::Run> AttributedString::runs() const {
  std::vector<Run> result;
  result.reserve(_spans.size());
  std::size_t utf16 = 0, byte = 0;
  for (const Span& span : _spans) {
    Run run{TextRange{utf16, span.end - utf16}, byte, byte, span.color, span.font};
    // Span edges never split a character, so whole characters are walked up to the edge.
    while (utf16 < span.end) {
      unsigned char lead = static_cast<unsigned char>(_text[byte]);
      std::size_t n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
      byte += n;
      utf16 += n == 4 ? 2 : 1;
    }
    run.utf8End = byte;
    result.push_back(std::move(run));
  }
  return result;
}

bool AttributedString::operator==(const AttributedString& other) const {
  if (_text != other._text || _alignment != other._alignment) return false;
  if (_spans.size() != other._spans.size()) return false;
  for (std::size_t i = 0; i < _spans.size(); ++i) {
    if (_spans[i].end != other._spans[i].end || !_spans[i].sameAttributes(other._spans[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace appkit
