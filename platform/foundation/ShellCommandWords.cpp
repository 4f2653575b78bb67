#include "ShellCommandWords.h"

#include <string>

namespace foundation {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Characters that end an unquoted word.
bool endsWord(char c) {
  return isBlank(c) || c == '\n' || c == ';' || c == '&' || c == '|' || c == '(' || c == ')' ||
         c == '<' || c == '>';
}

bool isNameStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool isNameCharacter(char c) { return isNameStart(c) || (c >= '0' && c <= '9'); }

// NAME=value, as written (the name itself unquoted).
bool isAssignment(std::string_view text) {
  if (text.empty() || !isNameStart(text[0])) return false;
  size_t at = 1;
  while (at < text.size() && isNameCharacter(text[at])) ++at;
  return at < text.size() && text[at] == '=';
}

bool isDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Reserved words after which the next word is again a command word.
bool leadsACommand(std::string_view text) {
  for (std::string_view reserved :
       {"!", "{", "if", "then", "else", "elif", "do", "while", "until"}) {
    if (text == reserved) return true;
  }
  return false;
}

// Reads the text as the shell parses it, far enough to tell command words from the rest. Each
// reading function starts at `_at` on its construct's first character and, on success, leaves
// `_at` just past it; false means the text is not followed further.
class Reader {
 public:
  Reader(std::string_view text, std::string_view wanted) : _text(text), _wanted(wanted) {}

  std::vector<size_t> offsets() {
    list(false);
    return std::move(_found);
  }

 private:
  enum class CaseStage { kSubject, kIn, kPattern, kBody };

  bool atEnd() const { return _at >= _text.size(); }
  char peek(size_t ahead = 0) const {
    return _at + ahead < _text.size() ? _text[_at + ahead] : '\0';
  }

  // A command list, up to the end of the text or, when `inParentheses`, its closing ")" (taken).
  bool list(bool inParentheses) {
    std::vector<CaseStage> cases;
    bool command = true;  // the next word stands where a command word may
    bool redirectTarget = false;
    while (!atEnd()) {
      char c = peek();
      CaseStage stage = cases.empty() ? CaseStage::kBody : cases.back();
      bool inPattern = !cases.empty() && stage == CaseStage::kPattern;
      if (isBlank(c)) {
        ++_at;
      } else if (c == '\\' && peek(1) == '\n') {
        _at += 2;  // a line continuation joins the lines
      } else if (c == '\n') {
        if (redirectTarget) return false;
        ++_at;
        command = true;
      } else if (c == '#') {
        while (!atEnd() && peek() != '\n') ++_at;
      } else if (c == ')') {
        if (redirectTarget) return false;
        ++_at;
        if (inPattern) {
          cases.back() = CaseStage::kBody;
          command = true;
        } else {
          return inParentheses && cases.empty();
        }
      } else if (c == '(') {
        if (!inPattern && !command) return false;  // a function definition or a syntax error
        ++_at;
        if (!inPattern) {
          if (!list(true)) return false;
          command = false;
        }
      } else if (c == ';' || c == '&' || c == '|') {
        if (redirectTarget) return false;
        if (c == ';' && peek(1) == ';') {
          if (cases.empty() || stage != CaseStage::kBody) return false;
          cases.back() = CaseStage::kPattern;
          _at += 2;
          continue;
        }
        if (inPattern) {
          if (c != '|') return false;
          ++_at;  // between the alternatives of one pattern
          continue;
        }
        _at += (c != ';' && peek(1) == c) ? 2 : 1;
        command = true;
      } else if (c == '<' || c == '>') {
        if (redirectTarget || inPattern) return false;
        if (c == '<' && peek(1) == '<') return false;  // a here-document's body is not followed
        ++_at;
        char second = peek();
        if (second == '>' || second == '&' || second == '|') ++_at;
        redirectTarget = true;
      } else {
        size_t start = _at;
        bool plain = true;
        if (!word(plain)) return false;
        std::string_view text = _text.substr(start, _at - start);
        if (redirectTarget) {
          redirectTarget = false;
        } else if (isDigits(text) && (peek() == '<' || peek() == '>')) {
          // the descriptor number of a redirection
        } else if (inPattern) {
          if (plain && text == "esac") {
            cases.pop_back();
            command = false;
          }
        } else if (!cases.empty() && stage == CaseStage::kSubject) {
          cases.back() = CaseStage::kIn;
        } else if (!cases.empty() && stage == CaseStage::kIn) {
          if (!plain || text != "in") return false;
          cases.back() = CaseStage::kPattern;
        } else if (command) {
          if (plain && text == _wanted) {
            if (_recording == 0) _found.push_back(start);
            command = false;
          } else if (plain && leadsACommand(text)) {
            // the command follows
          } else if (plain && text == "case") {
            cases.push_back(CaseStage::kSubject);
            command = false;
          } else if (plain && text == "esac") {
            if (cases.empty()) return false;
            cases.pop_back();
            command = false;
          } else if (!isAssignment(text)) {
            command = false;
          }
        }
      }
    }
    return !inParentheses && cases.empty() && !redirectTarget;
  }

  // One unquoted word; `plain` is cleared when any part of it is quoted, escaped or expanded.
  bool word(bool& plain) {
    while (!atEnd() && !endsWord(peek())) {
      char c = peek();
      if (c == '\\') {
        plain = false;
        _at += 2;
      } else if (c == '\'') {
        plain = false;
        if (!singleQuoted()) return false;
      } else if (c == '"') {
        plain = false;
        if (!doubleQuoted()) return false;
      } else if (c == '$') {
        if (!dollar(false)) return false;
        plain = false;
      } else if (c == '`') {
        plain = false;
        if (!backquoted()) return false;
      } else {
        ++_at;
      }
    }
    if (_at > _text.size()) _at = _text.size();  // a backslash that ends the text
    return true;
  }

  bool singleQuoted() {
    size_t close = _text.find('\'', _at + 1);
    if (close == std::string_view::npos) return false;
    _at = close + 1;
    return true;
  }

  bool doubleQuoted() {
    ++_at;
    while (!atEnd()) {
      char c = peek();
      if (c == '"') {
        ++_at;
        return true;
      }
      if (c == '\\') {
        _at += 2;
      } else if (c == '$') {
        if (!dollar(true)) return false;
      } else if (c == '`') {
        if (!backquoted()) return false;
      } else {
        ++_at;
      }
    }
    return false;
  }

  // Its text is read again by the shell once the backslashes are taken out: nothing in it counts.
  bool backquoted() {
    ++_at;
    while (!atEnd()) {
      char c = peek();
      if (c == '`') {
        ++_at;
        return true;
      }
      _at += c == '\\' ? 2 : 1;
    }
    return false;
  }

  // "$" and what it starts: $(list), $((arithmetic)), ${parameter}, or a plain "$name".
  bool dollar(bool inDoubleQuotes) {
    ++_at;
    if (peek() == '(' && peek(1) == '(') {
      _at += 2;
      return ignored([&] { return balanced('(', ')', 2, inDoubleQuotes); });
    }
    if (peek() == '(') {
      ++_at;
      return list(true);
    }
    if (peek() == '{') {
      ++_at;
      return ignored([&] { return balanced('{', '}', 1, inDoubleQuotes); });
    }
    return true;
  }

  // Reads up to where `depth` unmatched `close` characters have closed, minding quotes and
  // substitutions on the way.
  bool balanced(char open, char close, int depth, bool inDoubleQuotes) {
    while (!atEnd()) {
      char c = peek();
      if (c == close) {
        ++_at;
        if (--depth == 0) return true;
      } else if (c == open) {
        ++_at;
        ++depth;
      } else if (c == '\\') {
        _at += 2;
      } else if (c == '\'' && !inDoubleQuotes) {
        if (!singleQuoted()) return false;
      } else if (c == '"') {
        if (!doubleQuoted()) return false;
      } else if (c == '$') {
        if (!dollar(inDoubleQuotes)) return false;
      } else if (c == '`') {
        if (!backquoted()) return false;
      } else {
        ++_at;
      }
    }
    return false;
  }

  template <typename Read>
  bool ignored(Read read) {
    ++_recording;
    bool ok = read();
    --_recording;
    return ok;
  }

  std::string_view _text;
  std::string_view _wanted;
  size_t _at = 0;
  int _recording = 0;  // above zero inside text whose command words don't count
  std::vector<size_t> _found;
};

}  // namespace

std::vector<size_t> commandWordOffsets(std::string_view script, std::string_view word) {
  return Reader(script, word).offsets();
}

}  // namespace foundation
