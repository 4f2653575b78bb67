#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace foundation {

// The user's languages, named as the platform names them: a language code, then a script and a
// region when known ("en", "de-DE", "pt-BR", "zh-Hans-CN", "sr-Latn-RS").
class Locale {
 public:
  // The user's preferred languages, most preferred first, without repeats; never empty ("en"
  // when nothing else is known). Read from the environment at each call: the entries of
  // `LANGUAGE` (a colon-separated list) in order, then the messages locale (the first of
  // `LC_ALL`, `LC_MESSAGES`, `LANG` that is set and not empty). As the C library does, `LANGUAGE`
  // counts only when that locale is set and is not "C" or "POSIX" (with or without a codeset):
  // for that locale the answer is "en". Entries that name no language are skipped. Any thread
  // that does not race a change of the environment.
  static std::vector<std::string> preferredLanguages();

  // The language of one POSIX locale name (language[_REGION][.codeset][@modifier]), or nullopt
  // when it names none. "C", "POSIX" and "" are "en". The codeset and modifiers other than
  // "latin", "cyrillic" and "devanagari" (which give the script) are dropped; Chinese takes its
  // script from the region (Hant for TW, HK and MO, else Hans).
  static std::optional<std::string> languageOfLocaleName(std::string_view name);
};

}  // namespace foundation
