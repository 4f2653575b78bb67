#include "StringsTable.h"

#include <sys/types.h>

#include <cerrno>
#include <cstdint>

#include "PropertyList.h"
#include "RegularFile.h"
#include "Utf8.h"

namespace foundation {
namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

bool isHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
char32_t combineSurrogates(char32_t high, char32_t low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// UTF-16 (after its byte-order mark) to UTF-8; nullopt for an odd length or an unpaired surrogate.
std::optional<std::string> utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  auto unitAt = [&](size_t index) -> char32_t {
    auto first = static_cast<unsigned char>(bytes[index]);
    auto second = static_cast<unsigned char>(bytes[index + 1]);
    return bigEndian ? (first << 8 | second) : (second << 8 | first);
  };
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); i += 2) {
    char32_t unit = unitAt(i);
    if (isLowSurrogate(unit)) return std::nullopt;
    if (isHighSurrogate(unit)) {
      if (i + 2 >= bytes.size()) return std::nullopt;
      char32_t low = unitAt(i + 2);
      if (!isLowSurrogate(low)) return std::nullopt;
      unit = combineSurrogates(unit, low);
      i += 2;
    }
    appendUtf8(out, unit);
  }
  return out;
}

bool isUnquotedCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c == '/' || c == ':' || c == '.' || c == '-';
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The old-style text form, over well-formed UTF-8 without a byte-order mark. One pass.
class TextParser {
 public:
  explicit TextParser(std::string_view text) : _text(text) {}

  std::optional<StringsTable> parse() {
    StringsTable table;
    for (;;) {
      if (!skipSpaceAndComments()) return std::nullopt;
      if (atEnd()) return table;
      std::optional<std::string> key = readString();
      if (!key || !skipSpaceAndComments() || atEnd()) return std::nullopt;
      if (peek() == ';') {
        ++_pos;
        std::string value = *key;
        table.insert_or_assign(std::move(*key), std::move(value));
        continue;
      }
      if (peek() != '=') return std::nullopt;
      ++_pos;
      if (!skipSpaceAndComments()) return std::nullopt;
      std::optional<std::string> value = readString();
      if (!value || !skipSpaceAndComments() || atEnd() || peek() != ';') return std::nullopt;
      ++_pos;
      table.insert_or_assign(std::move(*key), std::move(*value));
    }
  }

 private:
  bool atEnd() const { return _pos >= _text.size(); }
  char peek(size_t ahead = 0) const {
    return _pos + ahead < _text.size() ? _text[_pos + ahead] : '\0';
  }

  // False when a block comment is left open.
  bool skipSpaceAndComments() {
    while (!atEnd()) {
      char c = peek();
      if (isSpace(c)) {
        ++_pos;
      } else if (c == '/' && peek(1) == '/') {
        size_t end = _text.find('\n', _pos + 2);
        _pos = end == std::string_view::npos ? _text.size() : end + 1;
      } else if (c == '/' && peek(1) == '*') {
        size_t end = _text.find("*/", _pos + 2);
        if (end == std::string_view::npos) return false;
        _pos = end + 2;
      } else {
        break;
      }
    }
    return true;
  }

  std::optional<std::string> readString() {
    char c = peek();
    if (c == '"' || c == '\'') {
      ++_pos;
      return readQuoted(c);
    }
    size_t start = _pos;
    while (!atEnd() && isUnquotedCharacter(peek())) ++_pos;
    if (_pos == start) return std::nullopt;
    return std::string(_text.substr(start, _pos - start));
  }

  std::optional<std::string> readQuoted(char quote) {
    std::string out;
    for (;;) {
      size_t stop = _text.find_first_of(quote == '"' ? "\"\\" : "'\\", _pos);
      if (stop == std::string_view::npos) return std::nullopt;
      out.append(_text.substr(_pos, stop - _pos));
      _pos = stop + 1;
      if (_text[stop] == quote) return out;
      if (atEnd()) return std::nullopt;
      readEscape(out);
    }
  }

  // After a backslash, with at least one character left.
  void readEscape(std::string& out) {
    char c = _text[_pos++];
    switch (c) {
      case 'a':
        out += '\a';
        return;
      case 'b':
        out += '\b';
        return;
      case 'f':
        out += '\f';
        return;
      case 'n':
        out += '\n';
        return;
      case 'r':
        out += '\r';
        return;
      case 't':
        out += '\t';
        return;
      case 'v':
        out += '\v';
        return;
      case 'U':
        readUnicodeEscape(out);
        return;
      default:
        break;
    }
    if (c >= '0' && c <= '7') {
      char32_t code = static_cast<char32_t>(c - '0');
      for (int digits = 1; digits < 3 && peek() >= '0' && peek() <= '7'; ++digits) {
        code = code * 8 + static_cast<char32_t>(_text[_pos++] - '0');
      }
      appendUtf8(out, code);
      return;
    }
    // Any other character, a quote, a backslash or a newline among them, stands for itself.
    out += c;
  }

  char32_t readHexUnit() {
    char32_t unit = 0;
    for (int digits = 0; digits < 4 && !atEnd() && hexValue(peek()) >= 0; ++digits) {
      unit = unit * 16 + static_cast<char32_t>(hexValue(_text[_pos++]));
    }
    return unit;
  }

  // "\U" and up to four hex digits: one UTF-16 unit. A high surrogate joins a directly following
  // "\U" low surrogate; an unpaired surrogate becomes U+FFFD.
  void readUnicodeEscape(std::string& out) {
    char32_t unit = readHexUnit();
    if (isHighSurrogate(unit)) {
      if (peek() == '\\' && peek(1) == 'U') {
        size_t mark = _pos;
        _pos += 2;
        char32_t low = readHexUnit();
        if (isLowSurrogate(low)) {
          appendUtf8(out, combineSurrogates(unit, low));
          return;
        }
        _pos = mark;
      }
      appendUtf8(out, kReplacementCharacter);
      return;
    }
    appendUtf8(out, isLowSurrogate(unit) ? kReplacementCharacter : unit);
  }

  std::string_view _text;
  size_t _pos = 0;
};

std::optional<StringsTable> tableFromPropertyList(std::string_view bytes) {
  size_t dropped = 0;  // a text the reader left out (not UTF-8, say) makes the table unreadable
  std::optional<PlistValue> root = parsePropertyList(bytes, &dropped);
  if (!root || !root->dictionary() || dropped > 0) return std::nullopt;
  StringsTable table;
  for (const auto& [key, value] : *root->dictionary()) {
    const std::string* text = value.string();
    if (!text || !isValidUtf8(key) || !isValidUtf8(*text)) return std::nullopt;
    table.emplace(key, *text);
  }
  return table;
}

bool startsWith(std::string_view bytes, std::string_view prefix) {
  return bytes.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::optional<StringsTable> parseStringsTable(std::string_view bytes) {
  if (startsWith(bytes, "bplist")) return tableFromPropertyList(bytes);

  std::string decoded;
  std::string_view text = bytes;
  if (startsWith(bytes, "\xFF\xFE") || startsWith(bytes, "\xFE\xFF")) {
    std::optional<std::string> utf8 = utf16ToUtf8(bytes.substr(2), bytes[0] == '\xFE');
    if (!utf8) return std::nullopt;
    decoded = std::move(*utf8);
    text = decoded;
  } else if (startsWith(bytes, "\xEF\xBB\xBF")) {
    text.remove_prefix(3);
  }
  if (!isValidUtf8(text)) return std::nullopt;

  size_t first = 0;
  while (first < text.size() && isSpace(text[first])) ++first;
  if (first < text.size() && text[first] == '<') return tableFromPropertyList(text);
  return TextParser(text).parse();
}

std::optional<StringsTable> readStringsTable(const std::string& path) {
  // Message tables are small; a larger file is refused unread.
  constexpr off_t kMaxTableSize = 64LL << 20;
  Result<std::string> bytes = readRegularFile(path, kMaxTableSize);
  if (!bytes) return std::nullopt;
  return parseStringsTable(*bytes);
}

}  // namespace foundation
