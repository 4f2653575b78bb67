// AppDelegate: the pop-up's text in the user's language.

#include "AppDelegate.h"

void AppDelegate::updateWindowString(std::int64_t) {}

std::optional<std::string> AppDelegate::mendkitConfigLanguageCode() const { return std::nullopt; }

std::string AppDelegate::analysizeLanguageCode() const { return "en"; }

appkit::AttributedString AppDelegate::attributeString(const appkit::AttributedString& text,
                                                      const std::optional<std::string>&,
                                                      const appkit::Color&) {
  return text;
}
