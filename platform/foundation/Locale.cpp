#include "Locale.h"

#include <algorithm>
#include <cstdlib>

namespace foundation {
namespace {

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The value of an environment variable that is set and not empty.
std::optional<std::string> environmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  return std::string(value);
}

// The name without its codeset and modifier: "de_DE.UTF-8@euro" → "de_DE".
std::string_view localePart(std::string_view name) {
  return name.substr(0, std::min(name.find('.'), name.find('@')));
}

bool isCLocale(std::string_view name) {
  std::string_view locale = localePart(name);
  return name.empty() || locale == "C" || locale == "POSIX";
}

std::string_view scriptOfModifier(std::string_view modifier) {
  if (modifier == "latin") return "Latn";
  if (modifier == "cyrillic") return "Cyrl";
  if (modifier == "devanagari") return "Deva";
  return {};
}

}  // namespace

std::optional<std::string> Locale::languageOfLocaleName(std::string_view name) {
  if (isCLocale(name)) return std::string("en");
  std::string_view locale = localePart(name);
  std::string_view modifier;
  if (size_t at = name.find('@'); at != std::string_view::npos) modifier = name.substr(at + 1);

  size_t separator = locale.find_first_of("_-");
  std::string_view language = locale.substr(0, separator);
  std::string_view region =
      separator == std::string_view::npos ? std::string_view() : locale.substr(separator + 1);
  if (language.size() < 2 || language.size() > 3 ||
      !std::all_of(language.begin(), language.end(), isAsciiLetter)) {
    return std::nullopt;
  }
  if (separator != std::string_view::npos) {
    bool letters = region.size() == 2 && std::all_of(region.begin(), region.end(), isAsciiLetter);
    bool digits = region.size() == 3 && std::all_of(region.begin(), region.end(), isAsciiDigit);
    if (!letters && !digits) return std::nullopt;
  }

  std::string result;
  for (char c : language) result += lower(c);
  std::string upperRegion;
  for (char c : region) upperRegion += upper(c);
  std::string_view script = scriptOfModifier(modifier);
  if (script.empty() && result == "zh") {
    script = upperRegion == "TW" || upperRegion == "HK" || upperRegion == "MO" ? "Hant" : "Hans";
  }
  if (!script.empty()) result += "-" + std::string(script);
  if (!upperRegion.empty()) result += "-" + upperRegion;
  return result;
}

std::vector<std::string> Locale::preferredLanguages() {
  std::optional<std::string> messagesLocale = environmentValue("LC_ALL");
  if (!messagesLocale) messagesLocale = environmentValue("LC_MESSAGES");
  if (!messagesLocale) messagesLocale = environmentValue("LANG");

  std::vector<std::string> names;
  if (messagesLocale && !isCLocale(*messagesLocale)) {
    if (std::optional<std::string> list = environmentValue("LANGUAGE")) {
      std::string_view rest = *list;
      while (!rest.empty()) {
        size_t colon = rest.find(':');
        std::string_view entry = rest.substr(0, colon);
        if (!entry.empty()) names.emplace_back(entry);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
      }
    }
  }
  if (messagesLocale) names.push_back(*messagesLocale);

  std::vector<std::string> languages;
  for (const std::string& name : names) {
    std::optional<std::string> language = languageOfLocaleName(name);
    if (language && std::find(languages.begin(), languages.end(), *language) == languages.end()) {
      languages.push_back(std::move(*language));
    }
  }
  if (languages.empty()) languages.emplace_back("en");
  return languages;
}

}  // namespace foundation
