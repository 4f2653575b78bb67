#include "foundation/Locale.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

using foundation::Locale;
using Languages = std::vector<std::string>;

namespace {

// Clears the four locale variables for one test and restores them afterwards.
class LocaleTest : public ::testing::Test {
 protected:
  static constexpr const char* kNames[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};

  LocaleTest() {
    for (const char* name : kNames) {
      if (const char* value = std::getenv(name)) _saved[name] = value;
      unsetenv(name);
    }
  }
  ~LocaleTest() override {
    for (const char* name : kNames) {
      auto saved = _saved.find(name);
      if (saved == _saved.end()) {
        unsetenv(name);
      } else {
        setenv(name, saved->second.c_str(), 1);
      }
    }
  }
  static void set(const char* name, const char* value) { setenv(name, value, 1); }

 private:
  std::map<std::string, std::string> _saved;
};

}  // namespace

TEST_F(LocaleTest, LocaleNamesBecomeLanguageTags) {
  EXPECT_EQ(Locale::languageOfLocaleName("de_DE.UTF-8"), "de-DE");
  EXPECT_EQ(Locale::languageOfLocaleName("pt_BR"), "pt-BR");
  EXPECT_EQ(Locale::languageOfLocaleName("fr_CA.utf8@euro"), "fr-CA");
  EXPECT_EQ(Locale::languageOfLocaleName("zh_CN.GB18030"), "zh-Hans-CN");
  EXPECT_EQ(Locale::languageOfLocaleName("zh_SG"), "zh-Hans-SG");
  EXPECT_EQ(Locale::languageOfLocaleName("zh_TW.UTF-8"), "zh-Hant-TW");
  EXPECT_EQ(Locale::languageOfLocaleName("zh_HK"), "zh-Hant-HK");
  EXPECT_EQ(Locale::languageOfLocaleName("zh_MO"), "zh-Hant-MO");
  EXPECT_EQ(Locale::languageOfLocaleName("zh"), "zh-Hans");
  EXPECT_EQ(Locale::languageOfLocaleName("sr@latin"), "sr-Latn");
  EXPECT_EQ(Locale::languageOfLocaleName("sr_RS@latin"), "sr-Latn-RS");
  EXPECT_EQ(Locale::languageOfLocaleName("es_419"), "es-419");
  EXPECT_EQ(Locale::languageOfLocaleName("ast_ES"), "ast-ES");
  for (const char* c : {"C", "POSIX", "", "C.UTF-8", "POSIX@x"}) {
    EXPECT_EQ(Locale::languageOfLocaleName(c), "en") << c;
  }
  for (const char* junk : {"../en", "de\n", "d", "deutsch", "de_DEU", "de_", "1e_DE", "de DE"}) {
    EXPECT_EQ(Locale::languageOfLocaleName(junk), std::nullopt) << junk;
  }
}

TEST_F(LocaleTest, TheMessagesLocaleFollowsTheCLibrarysPrecedence) {
  EXPECT_EQ(Locale::preferredLanguages(), Languages{"en"}) << "nothing set";
  set("LANG", "fr_CA.UTF-8");
  EXPECT_EQ(Locale::preferredLanguages(), Languages{"fr-CA"});
  set("LC_MESSAGES", "ja_JP.UTF-8");
  EXPECT_EQ(Locale::preferredLanguages(), Languages{"ja-JP"});
  set("LC_ALL", "");  // empty counts as unset
  EXPECT_EQ(Locale::preferredLanguages(), Languages{"ja-JP"});
  set("LC_ALL", "ko_KR.UTF-8");
  EXPECT_EQ(Locale::preferredLanguages(), Languages{"ko-KR"});
  set("LC_ALL", "C.UTF-8");
  EXPECT_EQ(Locale::preferredLanguages(), Languages{"en"});
}

TEST_F(LocaleTest, LanguageListComesFirstUnlessTheLocaleIsC) {
  set("LANGUAGE", "pt_BR::en:pt_BR.UTF-8:bogus name:zh_TW");
  EXPECT_EQ(Locale::preferredLanguages(), Languages{"en"}) << "no locale: C, list ignored";
  set("LANG", "C");
  EXPECT_EQ(Locale::preferredLanguages(), Languages{"en"});
  set("LANG", "de_DE.UTF-8");
  EXPECT_EQ(Locale::preferredLanguages(), (Languages{"pt-BR", "en", "zh-Hant-TW", "de-DE"}));
  set("LANGUAGE", "::");
  EXPECT_EQ(Locale::preferredLanguages(), Languages{"de-DE"});
  set("LANG", "nonsense");
  set("LANGUAGE", "also nonsense");
  EXPECT_EQ(Locale::preferredLanguages(), Languages{"en"}) << "never empty";
}
