// AppDelegate: the pop-up's text in the user's language.

#include <set>
#include <vector>

#include "AppDelegate.h"
#include "appkit/Font.h"
#include "appkit/TextField.h"
#include "appkit/UserDefaultsController.h"
#include "foundation/Bundle.h"
#include "foundation/Locale.h"
#include "foundation/Log.h"
#include "foundation/Mutex.h"
#include "foundation/Paths.h"
#include "foundation/PropertyList.h"
#include "foundation/StringsTable.h"
#include "foundation/UserDefaults.h"
#include "foundation/Utf8.h"

namespace {

constexpr const char* kFallbackLanguage = "en";
constexpr const char* kMendkitConfigPath = "~/Library/Application Support/Mendkit/config.plist";
constexpr const char* kLanguageCodeKey = "LanguageCode";
constexpr const char* kTableName = "localization";
constexpr const char* kTableType = "strings";
constexpr double kPhraseFontSize = 14;

// What one pop-up style shows: the table key of its format and those of its red phrases.
struct MessageKeys {
  const char* format;
  std::vector<const char*> phrases;
};

// Logs `text` the first time this process meets `fault`; later calls are silent.
void logFaultOnce(const std::string& fault, const std::string& text) {
  static foundation::Mutex mutex;
  static std::set<std::string> logged GUARDED_BY(mutex);
  {
    foundation::MutexLock lock(mutex);
    if (!logged.insert(fault).second) return;
  }
  foundation::logLine(text);
}

// The message table of `language` in the bundle; nullopt when there is none or it can't be read.
std::optional<foundation::StringsTable> messageTable(const foundation::Bundle* bundle,
                                                     const std::string& language) {
  if (!bundle) return std::nullopt;
  std::optional<std::string> path = bundle->pathForResource(kTableName, kTableType, {}, language);
  if (!path) return std::nullopt;
  return foundation::readStringsTable(*path);
}

const std::string* entry(const std::optional<foundation::StringsTable>& table,
                         const std::string& key) {
  if (!table) return nullptr;
  auto found = table->find(key);
  return found == table->end() ? nullptr : &found->second;
}

bool isBlank(char c) { return c == ' '; }
bool closesPhrase(char c) {
  return c == '.' || c == ',' || c == ';' || c == ':' || c == '!' || c == '?' || c == ')';
}

// `format` with each "%@" replaced by the next argument, "%%" by "%", and every other "%"
// copied as it is. A null argument, or a "%@" past the last argument, renders as nothing and
// takes one joining character with it, so that "your device %@." reads "your device." and
// "%@-Geräte" reads "Geräte": the blank before it when a blank, a closing mark or the end follows;
// else a hyphen or blank after it when nothing or a blank comes before. `missing` counts the "%@"
// past the last argument. Table text is never handed to printf.
std::string formatMessage(std::string_view format,
                          const std::vector<std::optional<std::string>>& arguments,
                          size_t* missing) {
  std::string result;
  size_t next = 0;
  *missing = 0;
  for (size_t at = 0; at < format.size(); ++at) {
    char c = format[at];
    if (c != '%' || at + 1 == format.size()) {
      result += c;
      continue;
    }
    char directive = format[at + 1];
    if (directive == '%') {
      result += '%';
      ++at;
      continue;
    }
    if (directive != '@') {
      result += c;
      continue;
    }
    ++at;
    const std::optional<std::string>* argument = nullptr;
    if (next < arguments.size()) {
      argument = &arguments[next];
    } else {
      ++*missing;
    }
    ++next;
    if (argument && *argument && !(*argument)->empty()) {
      result += **argument;
      continue;
    }
    bool atEnd = at + 1 == format.size();
    char following = atEnd ? '\0' : format[at + 1];
    bool blankBefore = !result.empty() && isBlank(result.back());
    if (blankBefore && (atEnd || isBlank(following) || closesPhrase(following))) {
      result.pop_back();
    } else if ((result.empty() || blankBefore) && (following == '-' || isBlank(following))) {
      ++at;
    }
  }
  return result;
}

// The first occurrence of `phrase` in the valid UTF-8 `text` that begins and ends on character
// boundaries, in UTF-16 units.
std::optional<appkit::TextRange> rangeOfPhrase(const std::string& text, const std::string& phrase) {
  if (phrase.empty()) return std::nullopt;
  for (size_t at = text.find(phrase); at != std::string::npos; at = text.find(phrase, at + 1)) {
    size_t end = at + phrase.size();
    if (foundation::isUtf8Continuation(text[at]) ||
        (end < text.size() && foundation::isUtf8Continuation(text[end]))) {
      continue;
    }
    return appkit::TextRange{foundation::utf16Length(std::string_view(text).substr(0, at)),
                             foundation::utf16Length(phrase)};
  }
  return std::nullopt;
}

// Writes every pair of `table` into the user defaults the window's captions are bound to, then
// saves them once.
void publish(const foundation::StringsTable& table) {
  foundation::UserDefaults& defaults = appkit::UserDefaultsController::shared().defaults();
  for (const auto& [key, value] : table) defaults.setObject(key, foundation::PlistValue(value));
  if (!table.empty() && !defaults.synchronize()) {
    logFaultOnce("synchronize", "The pop-up's messages could not be saved to the user defaults");
  }
}

}  // namespace

void AppDelegate::updateWindowString(std::int64_t style) {
  std::optional<std::string> configured = mendkitConfigLanguageCode();
  std::string language = configured ? *configured : analysizeLanguageCode();
  if (language.empty()) language = kFallbackLanguage;

  const foundation::Bundle* bundle = foundation::Bundle::main();
  std::optional<foundation::StringsTable> chosen = messageTable(bundle, language);
  if (!chosen) {
    logFaultOnce("table " + language, "The message table for " + language +
                                          " is missing or unreadable; English is used");
  }
  std::optional<foundation::StringsTable> english =
      language == kFallbackLanguage ? chosen : messageTable(bundle, kFallbackLanguage);
  if (!english && language != kFallbackLanguage) {
    logFaultOnce("table en", "The English message table is missing or unreadable");
  }

  // English stands in for whatever the chosen table lacks, so no caption keeps an old text.
  foundation::StringsTable published = english.value_or(foundation::StringsTable{});
  if (chosen) {
    for (const auto& [key, value] : *chosen) published.insert_or_assign(key, value);
  }
  publish(published);

  std::optional<std::string> device = deviceType();
  std::optional<std::string> suffix;
  if (device && !device->empty()) suffix = "(" + *device + ")";

  MessageKeys keys{"", {}};
  std::vector<std::optional<std::string>> arguments;
  if (style == 0) {
    keys = {"iTunes_Dont_FixFailed", {"Wont_Update"}};
    arguments = {suffix, device};
  } else if (style == 1) {
    keys = {"Device_On_Stuck", {"Black_Freeze", "Wont_Turn_On"}};
    arguments = {suffix};
  } else {
    if (_textFieldContent) _textFieldContent->setAttributedStringValue(std::nullopt);
    return;
  }

  // The format and its red phrases come from one table: the chosen one, else English.
  const std::optional<foundation::StringsTable>* source = nullptr;
  std::string sourceLanguage;
  if (entry(chosen, keys.format)) {
    source = &chosen;
    sourceLanguage = language;
  } else if (entry(english, keys.format)) {
    source = &english;
    sourceLanguage = kFallbackLanguage;
  }
  if (chosen && source != &chosen) {
    logFaultOnce("key " + language + " " + keys.format,
                 "The message table for " + language + " has no " + keys.format);
  }

  std::string message;
  if (!source) {
    logFaultOnce("no key " + language + " " + keys.format,
                 "Neither the message table for " + language + " nor the English one has " +
                     keys.format + "; the key is shown");
    message = keys.format;
  } else {
    size_t missing = 0;
    message = formatMessage(*entry(*source, keys.format), arguments, &missing);
    if (missing > 0) {
      logFaultOnce("arguments " + sourceLanguage + " " + keys.format,
                   "The message " + std::string(keys.format) + " for " + sourceLanguage +
                       " asks for more values than it is given");
    }
  }
  if (!_textFieldContent) return;

  _textFieldContent->setStringValue(message);
  const appkit::Color red = appkit::Color::redColor();
  appkit::AttributedString text =
      attributeString(_textFieldContent->attributedStringValue(), device, red);
  for (const char* phraseKey : keys.phrases) {
    const std::string* phrase = source ? entry(*source, phraseKey) : nullptr;
    text = attributeString(text, phrase ? std::optional<std::string>(*phrase) : std::nullopt, red);
  }
  _textFieldContent->setAttributedStringValue(std::move(text));
}

std::optional<std::string> AppDelegate::mendkitConfigLanguageCode() const {
  foundation::Result<foundation::PlistValue> config =
      foundation::readPropertyListFile(foundation::expandTildeInPath(kMendkitConfigPath));
  if (!config) return std::nullopt;
  const foundation::PlistValue* code = config->objectForKey(kLanguageCodeKey);
  if (!code || !code->string()) return std::nullopt;

  const foundation::Bundle* bundle = foundation::Bundle::main();
  if (!bundle) return kFallbackLanguage;
  for (const std::string& name : bundle->localizations()) {
    if (name == *code->string()) return name;
  }
  return kFallbackLanguage;
}

std::string AppDelegate::analysizeLanguageCode() const {
  const foundation::Bundle* bundle = foundation::Bundle::main();
  if (!bundle) return kFallbackLanguage;
  const std::string preferred = foundation::Locale::preferredLanguages().front();
  for (const std::string& name : bundle->localizations()) {
    if (!name.empty() && preferred.find(name) != std::string::npos) return name;
  }
  return kFallbackLanguage;
}

appkit::AttributedString AppDelegate::attributeString(const appkit::AttributedString& text,
                                                      const std::optional<std::string>& phrase,
                                                      const appkit::Color& color) {
  appkit::AttributedString copy = text;
  if (!phrase) return copy;
  if (std::optional<appkit::TextRange> range = rangeOfPhrase(copy.string(), *phrase)) {
    copy.setForegroundColor(color, *range);
    copy.setFont(appkit::Font::systemFontOfSize(kPhraseFontSize), *range);
  }
  return copy;
}
