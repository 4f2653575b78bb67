#include "appkit/AttributedString.h"

#include <algorithm>
#include <utility>

#include "foundation/Utf8.h"

namespace appkit {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// `text` with every ill-formed sequence and every NUL replaced by U+FFFD. Counts the result's
// UTF-16 units into `length` and the UTF-16 index of each four-byte character into `pairs`.
std::string repaired(std::string text, std::size_t& length, std::vector<std::size_t>& pairs) {
  std::string out;
  bool changed = false;
  length = 0;
  pairs.clear();
  for (std::size_t at = 0; at < text.size();) {
    foundation::Utf8Character character = foundation::decodeUtf8(std::string_view(text).substr(at));
    if (!character.valid || character.codePoint == 0) {
      if (!changed) out.assign(text, 0, at);
      changed = true;
      out += kReplacement;
      at += character.length;
      length += 1;
      continue;
    }
    std::size_t n = character.length;
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
      std::size_t n = foundation::utf8SequenceLength(static_cast<unsigned char>(_text[byte]));
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
