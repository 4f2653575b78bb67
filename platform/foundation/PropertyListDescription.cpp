#include "PropertyListDescription.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <type_traits>

namespace foundation {
namespace {

bool isBareCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.' || c == '$' || c == '/' || c == ':' || c == '-';
}

std::string quotedIfNeeded(const std::string& text) {
  bool bare = !text.empty();
  for (char c : text) bare = bare && isBareCharacter(c);
  if (bare) return text;
  std::string quoted = "\"";
  for (char c : text) {
    switch (c) {
      case '"':
        quoted += "\\\"";
        break;
      case '\\':
        quoted += "\\\\";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\t':
        quoted += "\\t";
        break;
      default:
        quoted += c;
    }
  }
  return quoted + "\"";
}

std::string dateText(Date date) {
  double whole = std::floor(date.timeIntervalSince1970);
  // Years 1 to 9999 only, as a property list holds them; beyond, the conversion would overflow.
  if (!(whole >= -62135596800.0 && whole < 253402300800.0)) return "\"\"";
  std::time_t seconds = static_cast<std::time_t>(whole);
  std::tm parts{};
  if (!::gmtime_r(&seconds, &parts)) return "\"\"";
  char text[64];
  std::snprintf(text, sizeof text, "\"%04d-%02d-%02d %02d:%02d:%02d +0000\"", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

std::string dataText(const PlistData& data) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text = "<";
  for (size_t i = 0; i < data.size(); ++i) {
    if (i > 0 && i % 4 == 0) text += ' ';
    text += kHex[data[i] >> 4];
    text += kHex[data[i] & 0xf];
  }
  return text + ">";
}

void describe(const PlistValue& value, int level, std::string& out) {
  std::string indent(static_cast<size_t>(level) * 4, ' ');
  std::string inner = indent + "    ";
  std::visit(
      [&](const auto& item) {
        using T = std::decay_t<decltype(item)>;
        if constexpr (std::is_same_v<T, std::string>) {
          out += quotedIfNeeded(item);
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          out += std::to_string(item);
        } else if constexpr (std::is_same_v<T, double>) {
          char text[32];
          auto [end, error] = std::to_chars(text, text + sizeof text, item);
          out.append(text, error == std::errc() ? end : text);
        } else if constexpr (std::is_same_v<T, bool>) {
          out += item ? "1" : "0";
        } else if constexpr (std::is_same_v<T, Date>) {
          out += dateText(item);
        } else if constexpr (std::is_same_v<T, PlistData>) {
          out += dataText(item);
        } else if constexpr (std::is_same_v<T, PlistArray>) {
          out += "(\n";
          for (size_t i = 0; i < item.size(); ++i) {
            out += inner;
            describe(item[i], level + 1, out);
            out += i + 1 < item.size() ? ",\n" : "\n";
          }
          out += indent + ")";
        } else {
          out += "{\n";
          for (const auto& [key, member] : item) {
            out += inner + quotedIfNeeded(key) + " = ";
            describe(member, level + 1, out);
            out += ";\n";
          }
          out += indent + "}";
        }
      },
      value.storage());
}

}  // namespace

std::string descriptionOfPropertyList(const PlistValue& value) {
  std::string out;
  describe(value, 0, out);
  return out;
}

}  // namespace foundation
