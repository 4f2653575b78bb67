#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "appkit/Color.h"
#include "appkit/Font.h"

namespace appkit {

// A range of text in UTF-16 code units, the units the platform's strings count in (a character
// outside the Basic Multilingual Plane counts two).
struct TextRange {
  std::size_t location = 0;
  std::size_t length = 0;
  std::size_t end() const { return location + length; }
  bool operator==(const TextRange&) const = default;
};

// How the lines of a piece of text sit within the width they are shown in.
enum class TextAlignment { Left, Center, Right };

// Text in UTF-8 with a foreground colour and a font over ranges of it, and one alignment for the
// whole. A plain value; any thread. Text without a colour draws black, text without a font in
// the system font of Font::kSystemFontSize points.
//
// Input that is not valid UTF-8 is repaired when the string is made: each ill-formed sequence (and
// each NUL, which text cannot show) becomes U+FFFD, so string() is always valid UTF-8.
//
// Ranges given to the setters are forgiving: a range reaching past the end is cut at the end (one
// starting there changes nothing), and an edge that falls between the two halves of a surrogate
// pair moves outwards to take the whole character.
class AttributedString {
 public:
  using TextAlignment = appkit::TextAlignment;

  // A stretch of text whose attributes do not change: `range` in UTF-16 units and the same stretch
  // as byte offsets into string().
  struct Run {
    TextRange range;
    std::size_t utf8Begin = 0;
    std::size_t utf8End = 0;
    std::optional<Color> foregroundColor;
    std::optional<Font> font;
  };

  AttributedString();
  explicit AttributedString(std::string utf8);
  // The whole text in `font` and `color`.
  AttributedString(std::string utf8, const Font& font, const Color& color);

  const std::string& string() const { return _text; }
  // In UTF-16 code units.
  std::size_t length() const { return _length; }
  bool empty() const { return _length == 0; }

  void setForegroundColor(const Color& color, TextRange range);
  void setFont(const Font& font, TextRange range);
  // The attribute of the character at `utf16Index`; nullopt where none was set or past the end.
  std::optional<Color> foregroundColorAt(std::size_t utf16Index) const;
  std::optional<Font> fontAt(std::size_t utf16Index) const;

  void setAlignment(TextAlignment alignment) { _alignment = alignment; }
  TextAlignment alignment() const { return _alignment; }

  // The text cut into maximal stretches of equal attributes, in order, covering it all; none when
  // the text is empty.
  std::vector<Run> runs() const;

  // `range` as it is applied: cut at the end and widened to whole characters.
  TextRange clampedRange(TextRange range) const;

  // Same text, same attributes character by character, same alignment.
  bool operator==(const AttributedString& other) const;

 private:
  struct Span {
    std::size_t end;  // in UTF-16 units; the span starts where the one before ends
    std::optional<Color> color;
    std::optional<Font> font;
    bool sameAttributes(const Span& other) const {
      return color == other.color && font == other.font;
    }
  };

  template <typename Change>
  void apply(TextRange range, Change change);
  // Splits the span holding `utf16Index` so that a span ends there; returns the index of the first
  // span starting at or after it.
  std::size_t splitAt(std::size_t utf16Index);
  const Span* spanAt(std::size_t utf16Index) const;
  bool insideSurrogatePair(std::size_t utf16Index) const;

  std::string _text;
  std::size_t _length = 0;
  std::vector<std::size_t> _pairs;  // UTF-16 index of each character that takes two units
  std::vector<Span> _spans;         // cover [0, _length) in order; neighbours never equal
  TextAlignment _alignment = TextAlignment::Left;
};

}  // namespace appkit
