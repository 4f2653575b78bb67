#include "support/DesktopEntry.h"

#include <gtest/gtest.h>

#include <string_view>

namespace testing_support {

std::vector<std::string> execArguments(const std::string& entry) {
  size_t start = entry.find("\nExec=");
  if (start == std::string::npos) {
    ADD_FAILURE() << "no Exec line in\n" << entry;
    return {};
  }
  start += 6;
  std::string value;
  for (size_t index = start; index < entry.size() && entry[index] != '\n'; ++index) {
    if (entry[index] != '\\') {
      value += entry[index];
      continue;
    }
    char next = ++index < entry.size() ? entry[index] : '\0';
    std::string_view escapes = "s n t r \\";
    if (next == '\0' || next == ' ' || escapes.find(next) == std::string_view::npos) {
      ADD_FAILURE() << "invalid escape in " << entry.substr(start);
      return {};
    }
    value += next == 's'   ? ' '
             : next == 'n' ? '\n'
             : next == 't' ? '\t'
             : next == 'r' ? '\r'
                           : '\\';
  }
  std::vector<std::string> words;
  std::string word;
  bool inWord = false, quoted = false;
  for (size_t index = 0; index < value.size(); ++index) {
    char c = value[index];
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else if (c == '\\') {
        char next = ++index < value.size() ? value[index] : '\0';
        EXPECT_NE(std::string_view("\"`$\\").find(next), std::string_view::npos)
            << "stray backslash in " << value;
        word += next;
      } else {
        word += c;
      }
    } else if (c == ' ') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else if (c == '"' && !inWord) {
      quoted = inWord = true;
    } else {
      EXPECT_EQ(std::string_view("\t\n\"'\\><~|&;$*?#()`").find(c), std::string_view::npos)
          << "unquoted reserved character in " << value;
      word += c;
      inWord = true;
    }
  }
  EXPECT_FALSE(quoted) << "unterminated quote in " << value;
  if (inWord) words.push_back(word);
  for (std::string& argument : words) {
    std::string plain;
    for (size_t index = 0; index < argument.size(); ++index) {
      plain += argument[index];
      if (argument[index] != '%') continue;
      EXPECT_TRUE(index + 1 < argument.size() && argument[index + 1] == '%')
          << "field code in " << value;
      ++index;
    }
    argument = plain;
  }
  return words;
}

}  // namespace testing_support
