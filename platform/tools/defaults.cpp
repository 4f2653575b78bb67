// defaults: reads and changes user defaults from the command line.
//
//   defaults read DOMAIN [KEY]        the whole domain as an old-style property list, or one value
//   defaults read-type DOMAIN KEY     "Type is string" (integer, float, boolean, date, data,
//                                     array, dictionary)
//   defaults write DOMAIN KEY [-string|-int|-integer|-float|-bool|-boolean|-date] VALUE
//                                     a plain VALUE is a string; -bool takes YES/NO, TRUE/FALSE,
//                                     1/0 in any case; dates as DateArgument.h lists them
//   defaults delete DOMAIN [KEY]      one key, or every key of the domain
//
// DOMAIN is a bundle identifier (~/Library/Preferences/DOMAIN.plist) or, when it holds a "/", the
// path of a property-list file (".plist" added when missing; "~" expanded). Every change goes
// through the same user defaults the agent uses: under their lock, merged with what other
// processes wrote meanwhile, and written atomically, so a running agent loses nothing.
//
// A single value prints plainly: a string as it is, a date as "2026-12-07 10:00:00 +0000", a
// boolean as 1 or 0. A domain with no keys does not exist.
//
// Exit status: 0 done; 1 a missing domain or key, a bad value, a file that could not be written,
// or a usage error.
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "DateArgument.h"
#include "foundation/Paths.h"
#include "foundation/PropertyListDescription.h"
#include "foundation/UserDefaults.h"

namespace {

using foundation::PlistValue;
using foundation::UserDefaults;

constexpr int kFailed = 1;

int usage() {
  std::fputs(
      "usage: defaults read DOMAIN [KEY]\n"
      "       defaults read-type DOMAIN KEY\n"
      "       defaults write DOMAIN KEY [-string|-int|-float|-bool|-date] VALUE\n"
      "       defaults delete DOMAIN [KEY]\n"
      "DOMAIN is a bundle identifier or the path of a property-list file.\n",
      stderr);
  return kFailed;
}

std::string pathForDomain(const std::string& domain) {
  if (domain.find('/') == std::string::npos) return UserDefaults::pathForDomain(domain);
  std::string path = foundation::platformPath(foundation::expandTildeInPath(domain));
  if (!path.ends_with(".plist")) path += ".plist";
  return path;
}

void domainMissing(const std::string& domain) {
  std::fprintf(stderr, "Domain %s does not exist\n", domain.c_str());
}

void pairMissing(const std::string& domain, const std::string& key) {
  std::fprintf(stderr, "The domain/default pair of (%s, %s) does not exist\n", domain.c_str(),
               key.c_str());
}

// A value on a line of its own: strings and dates bare, everything else in the old-style form.
std::string plainText(const PlistValue& value) {
  if (const std::string* text = value.string()) return *text;
  std::string described = foundation::descriptionOfPropertyList(value);
  if (value.date() && described.size() >= 2) return described.substr(1, described.size() - 2);
  return described;
}

const char* typeName(const PlistValue& value) {
  return std::visit(
      [](const auto& item) {
        using T = std::decay_t<decltype(item)>;
        if constexpr (std::is_same_v<T, std::string>) return "string";
        if constexpr (std::is_same_v<T, std::int64_t>) return "integer";
        if constexpr (std::is_same_v<T, double>) return "float";
        if constexpr (std::is_same_v<T, bool>) return "boolean";
        if constexpr (std::is_same_v<T, foundation::Date>) return "date";
        if constexpr (std::is_same_v<T, foundation::PlistData>) return "data";
        if constexpr (std::is_same_v<T, foundation::PlistArray>) return "array";
        return "dictionary";
      },
      value.storage());
}

std::optional<std::int64_t> parseInteger(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || std::isspace(static_cast<unsigned char>(text[0]))) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(value);
}

// A finite decimal number: sign, digits with at most one point, an optional exponent. Hexadecimal,
// "inf", "nan" and numbers beyond a double's range are refused.
std::optional<double> parseReal(const std::string& text) {
  size_t at = text.empty() || (text[0] != '+' && text[0] != '-') ? 0 : 1;
  size_t digits = 0, points = 0;
  for (;
       at < text.size() && (std::isdigit(static_cast<unsigned char>(text[at])) || text[at] == '.');
       ++at) {
    text[at] == '.' ? ++points : ++digits;
  }
  if (digits == 0 || points > 1) return std::nullopt;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    size_t start = ++at < text.size() && (text[at] == '+' || text[at] == '-') ? at + 1 : at;
    for (at = start; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
    }
    if (at == start) return std::nullopt;
  }
  if (at != text.size()) return std::nullopt;
  const char* begin = text.c_str() + (text[0] == '+' ? 1 : 0);
  double value = 0;
  auto [end, error] = std::from_chars(begin, text.c_str() + text.size(), value);
  if (error != std::errc() || end != text.c_str() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<bool> parseBool(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (text == "yes" || text == "true" || text == "1") return true;
  if (text == "no" || text == "false" || text == "0") return false;
  return std::nullopt;
}

// The value `type` names, read from `text`; nullopt (after saying why) when it is not one.
std::optional<PlistValue> valueFor(const std::string& type, const std::string& text) {
  std::optional<PlistValue> value;
  const char* expected = nullptr;
  if (type == "-string") {
    value = PlistValue(text);
  } else if (type == "-int" || type == "-integer") {
    if (auto number = parseInteger(text)) value = PlistValue(*number);
    expected = "an integer";
  } else if (type == "-float") {
    if (auto number = parseReal(text)) value = PlistValue(*number);
    expected = "a finite decimal number";
  } else if (type == "-bool" || type == "-boolean") {
    if (auto truth = parseBool(text)) value = PlistValue(*truth);
    expected = "YES, NO, TRUE, FALSE, 1 or 0";
  } else if (type == "-date") {
    if (auto date = tools::parseDateArgument(text)) value = PlistValue(*date);
    expected = "a date such as \"2026-12-07 10:00:00 +0000\" or 2026-12-07T10:00:00Z";
  } else {
    std::fprintf(stderr, "defaults: unknown value type %s\n", type.c_str());
    return std::nullopt;
  }
  if (!value) {
    std::fprintf(stderr, "defaults: \"%s\" is not %s\n", text.c_str(), expected);
  }
  return value;
}

bool synchronize(UserDefaults& defaults) {
  if (defaults.synchronize()) return true;
  std::fprintf(stderr, "defaults: could not write %s; nothing was changed\n",
               defaults.path().c_str());
  return false;
}

int read(const std::string& domain, const std::vector<std::string>& keys, bool typeOnly) {
  UserDefaults defaults(pathForDomain(domain));
  foundation::PlistDictionary all = defaults.dictionaryRepresentation();
  if (all.empty()) {
    domainMissing(domain);
    return kFailed;
  }
  if (keys.empty()) {
    std::printf("%s\n", foundation::descriptionOfPropertyList(PlistValue(std::move(all))).c_str());
    return 0;
  }
  auto found = all.find(keys.front());
  if (found == all.end()) {
    pairMissing(domain, keys.front());
    return kFailed;
  }
  if (typeOnly) {
    std::printf("Type is %s\n", typeName(found->second));
  } else {
    std::printf("%s\n", plainText(found->second).c_str());
  }
  return 0;
}

int write(const std::string& domain, const std::string& key, const std::vector<std::string>& rest) {
  std::optional<PlistValue> value;
  if (rest.size() == 1) {
    value = PlistValue(rest[0]);
  } else if (rest.size() == 2) {
    value = valueFor(rest[0], rest[1]);
  } else {
    return usage();
  }
  if (!value) return kFailed;
  UserDefaults defaults(pathForDomain(domain));
  if (!defaults.setObject(key, std::move(*value))) {
    std::fprintf(stderr, "defaults: the value for %s cannot be stored\n", key.c_str());
    return kFailed;
  }
  return synchronize(defaults) ? 0 : kFailed;
}

int remove(const std::string& domain, const std::vector<std::string>& keys) {
  UserDefaults defaults(pathForDomain(domain));
  foundation::PlistDictionary all = defaults.dictionaryRepresentation();
  if (all.empty()) {
    std::fprintf(stderr, "Domain (%s) not found.\nDefaults have not been changed.\n",
                 domain.c_str());
    return kFailed;
  }
  if (keys.empty()) {
    // Key by key, so that a key another process adds meanwhile is kept.
    for (const auto& [key, value] : all) defaults.removeObjectForKey(key);
  } else if (all.count(keys.front()) == 0) {
    pairMissing(domain, keys.front());
    return kFailed;
  } else {
    defaults.removeObjectForKey(keys.front());
  }
  return synchronize(defaults) ? 0 : kFailed;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.size() < 2) return usage();
  const std::string command = arguments[0];
  const std::string domain = arguments[1];
  std::vector<std::string> rest(arguments.begin() + 2, arguments.end());
  if (domain.empty()) return usage();

  if (command == "read" && rest.size() <= 1) return read(domain, rest, false);
  if (command == "read-type" && rest.size() == 1) return read(domain, rest, true);
  if (command == "write" && rest.size() >= 2) {
    std::string key = rest.front();
    rest.erase(rest.begin());
    return write(domain, key, rest);
  }
  if (command == "delete" && rest.size() <= 1) return remove(domain, rest);
  return usage();
}
