#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include "AppDelegate.h"
#include "appkit/Button.h"
#include "appkit/ClassRegistry.h"
#include "appkit/Layout.h"
#include "appkit/TextField.h"
#include "appkit/TextLayout.h"
#include "foundation/Bundle.h"
#include "foundation/PropertyList.h"
#include "foundation/StringsTable.h"
#include "foundation/UserDefaults.h"
#include "support/StderrCapture.h"
#include "support/TestHome.h"

using appkit::AttributedString;
using appkit::Color;
using appkit::Font;
using testing_support::writeFile;

namespace {

constexpr const char* kLocaleVariables[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
const char* const kLanguages[] = {"en",    "de", "fr",      "es",      "it",
                                  "pt-BR", "ja", "zh-Hans", "zh-Hant", "ko"};

// The delegate as the application's layout makes it, with the bundle the test chooses: its
// message field (320 points wide, 13-pt system font) and an accept button whose title is bound to
// "values.Open_Mendkit". Every test has its own home and no locale variables.
class PopupTextTest : public testing_support::HomeTest {
 protected:
  void SetUp() override {
    for (const char* name : kLocaleVariables) {
      if (const char* value = std::getenv(name)) _savedLocale[name] = value;
      unsetenv(name);
    }
  }

  void TearDown() override {
    _layout.reset();
    foundation::Bundle::setMainForTesting(std::nullopt);
    for (const char* name : kLocaleVariables) {
      auto saved = _savedLocale.find(name);
      if (saved == _savedLocale.end()) {
        unsetenv(name);
      } else {
        setenv(name, saved->second.c_str(), 1);
      }
    }
  }

  // Loads the layout once the bundle, which names the defaults it binds to, is chosen.
  void loadLayout() {
    std::optional<foundation::PlistValue> root = foundation::parsePropertyList(R"(
<plist version="1.0"><dict>
 <key>Objects</key><array>
  <dict><key>id</key><string>delegate</string><key>class</key><string>AppDelegate</string>
   <key>outlets</key><dict><key>_textFieldContent</key><string>field</string></dict></dict>
  <dict><key>id</key><string>field</string><key>class</key><string>NSTextField</string>
   <key>properties</key><dict>
    <key>frame</key><array><integer>20</integer><integer>40</integer><integer>320</integer><integer>90</integer></array>
    <key>fontSize</key><integer>13</integer></dict></dict>
  <dict><key>id</key><string>accept</string><key>class</key><string>NSButton</string>
   <key>properties</key><dict><key>title</key><string>layout title</string></dict></dict>
 </array>
 <key>Connections</key><array>
  <dict><key>kind</key><string>binding</string><key>source</key><string>accept</string>
   <key>binding</key><string>title</string><key>target</key><string>$SharedUserDefaultsController</string>
   <key>keyPath</key><string>values.Open_Mendkit</string></dict>
 </array></dict></plist>)");
    ASSERT_TRUE(root);
    appkit::LayoutResult loaded =
        appkit::Layout::loadFromValue(*root, "popup-text-test", appkit::ClassRegistry::shared());
    ASSERT_TRUE(loaded) << loaded.error().message;
    _layout = std::move(loaded).value();
    delegate = dynamic_cast<AppDelegate*>(_layout->objectWithId("delegate"));
    field = dynamic_cast<appkit::TextField*>(_layout->objectWithId("field"));
    accept = dynamic_cast<appkit::Button*>(_layout->objectWithId("accept"));
    ASSERT_TRUE(delegate && field && accept);
  }

  // The bundle the build made, with the shipped tables and localizations.
  void useShippedBundle() {
    std::optional<foundation::Bundle> bundle = foundation::Bundle::atPath(MENDKIT_BUNDLE_DIR);
    ASSERT_TRUE(bundle);
    foundation::Bundle::setMainForTesting(std::move(bundle));
    loadLayout();
  }
  // A bundle of the test's making: `tables` maps each localization, in order, to its table file.
  void useBundle(const std::vector<std::pair<std::string, std::string>>& tables) {
    std::string path = sandbox.inHome("Test.app");
    std::string localizations;
    for (const auto& [language, table] : tables) {
      localizations += "<string>" + language + "</string>";
      writeFile(path + "/Contents/Resources/" + language + ".lproj/localization.strings", table);
    }
    writeFile(path + "/Contents/Info.plist",
              "<plist><dict><key>CFBundleIdentifier</key><string>com.kelvanoria.Mendkit.agent"
              "</string><key>CFBundleLocalizations</key><array>" +
                  localizations + "</array></dict></plist>");
    foundation::Bundle::setMainForTesting(foundation::Bundle::atPath(path));
    loadLayout();
  }
  void configure(const std::string& languageValueXml) {
    writeFile(sandbox.inHome("Library/Application Support/Mendkit/config.plist"),
              "<plist><dict><key>LanguageCode</key>" + languageValueXml + "</dict></plist>");
  }

  static bool isRed(const AttributedString& text, size_t at) {
    return text.foregroundColorAt(at) == Color::redColor() &&
           text.fontAt(at) == Font::systemFontOfSize(14);
  }
  static bool isPlain(const AttributedString& text, size_t at) {
    return text.foregroundColorAt(at) == Color::blackColor() &&
           text.fontAt(at) == Font::systemFontOfSize(13);
  }

  AppDelegate* delegate = nullptr;
  appkit::TextField* field = nullptr;
  appkit::Button* accept = nullptr;

 private:
  std::map<std::string, std::string> _savedLocale;
  std::unique_ptr<appkit::Layout> _layout;
};

}  // namespace

TEST_F(PopupTextTest, ConfiguredLanguageWinsWhenTheBundleHasItElseEnglish) {
  useShippedBundle();
  setenv("LANG", "fr_FR.UTF-8", 1);
  configure("<string>de</string>");
  EXPECT_EQ(delegate->mendkitConfigLanguageCode(), "de");
  delegate->updateWindowString(1);
  EXPECT_NE(field->stringValue().find("Mendkit hilft."), std::string::npos) << field->stringValue();

  for (const char* lacking : {"xx", "DE", "de-DE", "../en", "de\n", ""}) {
    configure(std::string("<string>") + lacking + "</string>");
    EXPECT_EQ(delegate->mendkitConfigLanguageCode(), "en") << lacking;
  }
  delegate->updateWindowString(1);
  EXPECT_EQ(field->stringValue().rfind("Your device", 0), 0u) << "not French";

  configure("<integer>7</integer>");  // no language named: the system's decides
  EXPECT_EQ(delegate->mendkitConfigLanguageCode(), std::nullopt);
  delegate->updateWindowString(1);
  EXPECT_EQ(field->stringValue().rfind("Votre appareil", 0), 0u) << field->stringValue();
}

TEST_F(PopupTextTest, SystemLanguageChoosesTheLocalizationItContains) {
  useShippedBundle();
  struct Case {
    const char* language;
    const char* lang;
    const char* expected;
  };
  for (const Case& c : {Case{nullptr, "fr_CA.UTF-8", "fr"}, Case{nullptr, "pt_BR.UTF-8", "pt-BR"},
                        Case{"pt_BR:en", "de_DE.UTF-8", "pt-BR"}, Case{"pt_BR:en", nullptr, "en"},
                        Case{nullptr, "pt_PT.UTF-8", "en"}, Case{nullptr, "zh_TW.UTF-8", "zh-Hant"},
                        Case{nullptr, "zh_HK", "zh-Hant"}, Case{nullptr, "zh_SG", "zh-Hans"},
                        Case{nullptr, "es_419.UTF-8", "es"}, Case{nullptr, "ko_KR.UTF-8", "ko"},
                        Case{nullptr, "C", "en"}, Case{nullptr, "nb_NO.UTF-8", "en"}}) {
    if (c.language)
      setenv("LANGUAGE", c.language, 1);
    else
      unsetenv("LANGUAGE");
    if (c.lang)
      setenv("LANG", c.lang, 1);
    else
      unsetenv("LANG");
    EXPECT_EQ(delegate->analysizeLanguageCode(), c.expected)
        << (c.language ? c.language : "-") << " " << (c.lang ? c.lang : "-");
  }
  setenv("LANG", "zh_TW.UTF-8", 1);
  delegate->updateWindowString(1);
  EXPECT_EQ(field->stringValue().rfind("您的裝置", 0), 0u) << field->stringValue();
}

TEST_F(PopupTextTest, RedPhrasesTakeExactlyTheirFirstOccurrenceInUtf16Units) {
  useBundle({{"en",
              "\"iTunes_Dont_FixFailed\" = \"Gerät 😀 %@: das %@ will nicht. will nicht!\";\n"
              "\"Wont_Update\" = \"will nicht\";\n"}});
  delegate->setDeviceType("iPad");
  delegate->updateWindowString(0);
  const AttributedString& text = field->attributedStringValue();
  ASSERT_EQ(text.string(), "Gerät 😀 (iPad): das iPad will nicht. will nicht!");
  // "Gerät " is 6 units and the emoji 2, so the word in "(iPad)" starts at 10.
  for (size_t at = 0; at < text.length(); ++at) {
    bool red = (at >= 10 && at < 14) || (at >= 26 && at < 36);
    EXPECT_EQ(isRed(text, at), red) << "unit " << at;
    if (!red) {
      EXPECT_TRUE(isPlain(text, at)) << "unit " << at;
    }
  }

  // The input is never changed, and a phrase cut inside a character matches nothing.
  AttributedString plain("é\xC3\xA9", Font::systemFontOfSize(13), Color::blackColor());
  AttributedString copy =
      AppDelegate::attributeString(plain, std::string("\xA9"), Color::redColor());
  EXPECT_EQ(copy, plain);
  AttributedString coloured =
      AppDelegate::attributeString(plain, std::string("é"), Color::redColor());
  EXPECT_TRUE(isRed(coloured, 0));
  EXPECT_FALSE(isRed(coloured, 1));
  EXPECT_TRUE(isPlain(plain, 0));
}

TEST_F(PopupTextTest, DeviceErrorColoursItsPhrasesAndAKeptDeviceWord) {
  useShippedBundle();
  delegate->updateWindowString(1);
  std::string expected =
      "Your device is in an error state. Whether it shows a black screen, freezes or won’t turn "
      "on, Mendkit can fix it.";
  const AttributedString& text = field->attributedStringValue();
  EXPECT_EQ(text.string(), expected);
  EXPECT_TRUE(isRed(text, expected.find("black screen")));  // ASCII before it: bytes are units
  EXPECT_TRUE(isPlain(text, expected.find("Your")));

  delegate->setDeviceType("iPhone");  // left over from an earlier restore pop-up
  delegate->updateWindowString(1);
  EXPECT_EQ(field->stringValue().rfind("Your device (iPhone) is in", 0), 0u);
  EXPECT_TRUE(isRed(field->attributedStringValue(), 13));
  EXPECT_TRUE(isPlain(field->attributedStringValue(), 12));
}

TEST_F(PopupTextTest, OtherStylesShowNoTextButStillPublishTheTable) {
  useShippedBundle();
  delegate->updateWindowString(0);
  ASSERT_FALSE(field->stringValue().empty());
  configure("<string>ja</string>");
  delegate->updateWindowString(2);
  EXPECT_TRUE(field->attributedStringValue().empty());
  EXPECT_EQ(accept->title(), "Mendkitを開く");
  foundation::UserDefaults defaults(
      foundation::UserDefaults::pathForDomain("com.kelvanoria.Mendkit.agent"));
  EXPECT_EQ(defaults.stringForKey("Never_Show_Again"), "今後表示しない") << "saved to the file";

  AppDelegate bare;  // no layout, so no text field: only the table is published
  configure("<string>ko</string>");
  bare.updateWindowString(0);
  EXPECT_EQ(accept->title(), "Mendkit 열기");
}

TEST_F(PopupTextTest, PublishingSavesOnceAfterEveryKeyAndCaptionsFollowAtOnce) {
  useShippedBundle();
  foundation::UserDefaults& standard = foundation::UserDefaults::standard();
  std::string file = standard.path();
  std::vector<std::string> announced;
  size_t savedEarly = 0;
  auto id = standard.addChangeObserver([&](std::string_view key) {
    announced.emplace_back(key);
    auto onDisk = foundation::readPropertyListFile(file);
    if (onDisk && onDisk->objectForKey("Open_Mendkit")) ++savedEarly;
  });
  EXPECT_EQ(accept->title(), "layout title");
  delegate->updateWindowString(0);
  standard.removeChangeObserver(id);

  EXPECT_EQ(announced.size(), 8u) << "every pair is set";
  EXPECT_EQ(savedEarly, 0u) << "the file is written once, after the last key";
  auto onDisk = foundation::readPropertyListFile(file);
  ASSERT_TRUE(onDisk);
  EXPECT_EQ(*onDisk->objectForKey("Not_Now")->string(), "Not Now");
  EXPECT_EQ(accept->title(), "Open Mendkit") << "without running the main queue";

  configure("<string>ko</string>");
  delegate->updateWindowString(1);
  EXPECT_EQ(accept->title(), "Mendkit 열기");
}

TEST_F(PopupTextTest, BadTablesFallBackToEnglishOrTheKeyAndAreLoggedOnce) {
  useBundle(
      {{"en",
        "\"Device_On_Stuck\" = \"English %@ stuck\";\n\"Black_Freeze\" = \"stuck\";\n"
        "\"Open_Mendkit\" = \"Open it\";\n"},
       {"qx",
        "\"iTunes_Dont_FixFailed\" = \"%d%% %@|%@|%@|%s %\";\n\"Not_Now\" = \"Plus tard\";\n"},
       {"qy", "\"Device_On_Stuck\" = \"no semicolon\""}});
  testing_support::StderrCapture capture(sandbox.inHome("stderr"));
  configure("<string>qx</string>");
  delegate->setDeviceType("iPod");
  delegate->updateWindowString(0);
  EXPECT_EQ(field->stringValue(), "%d% (iPod)|iPod||%s %") << "the extra value renders empty";
  delegate->updateWindowString(1);
  EXPECT_EQ(field->stringValue(), "English (iPod) stuck") << "a missing key reads English";
  EXPECT_TRUE(isRed(field->attributedStringValue(), 15));
  EXPECT_EQ(accept->title(), "Open it") << "a caption the table lacks is published in English";
  delegate->updateWindowString(0);
  delegate->updateWindowString(1);

  configure("<string>qy</string>");  // unreadable: English throughout
  delegate->updateWindowString(1);
  EXPECT_EQ(field->stringValue(), "English (iPod) stuck");
  delegate->updateWindowString(0);
  EXPECT_EQ(field->stringValue(), "iTunes_Dont_FixFailed") << "no table has it: the key";
  delegate->updateWindowString(0);
  std::string log = capture.finish();

  using testing_support::occurrences;
  EXPECT_EQ(occurrences(log, "iTunes_Dont_FixFailed for qx asks for more values"), 1u) << log;
  EXPECT_EQ(occurrences(log, "table for qx has no Device_On_Stuck"), 1u) << log;
  EXPECT_EQ(occurrences(log, "table for qy is missing or unreadable"), 1u) << log;
  EXPECT_EQ(occurrences(log, "table for qy nor the English one has iTunes_Dont_FixFailed"), 1u)
      << log;
}

// Every shipped table: all keys; its messages read without "%" left over or doubled blanks with
// the device word and without it (as -debug1 shows them); each red phrase lies in its message;
// every character has a glyph; and each message keeps within three lines of the field.
TEST_F(PopupTextTest, EveryShippedTableReadsWellInEveryVariant) {
  useShippedBundle();
  ASSERT_EQ(foundation::Bundle::main()->localizations(),
            std::vector<std::string>(std::begin(kLanguages), std::end(kLanguages)));
  double lineHeight = 0;
  {
    appkit::TextLayout line;
    line.setText(AttributedString("Ag", Font::systemFontOfSize(14), Color::blackColor()));
    lineHeight = line.size().height;
  }
  for (const char* language : kLanguages) {
    SCOPED_TRACE(language);
    std::optional<foundation::StringsTable> table = foundation::readStringsTable(
        *foundation::Bundle::main()->pathForResource("localization", "strings", {}, language));
    ASSERT_TRUE(table);
    for (const char* key :
         {"iTunes_Dont_FixFailed", "Wont_Update", "Device_On_Stuck", "Black_Freeze", "Wont_Turn_On",
          "Open_Mendkit", "Not_Now", "Never_Show_Again"}) {
      EXPECT_TRUE(table->count(key)) << key;
    }
    configure(std::string("<string>") + language + "</string>");
    for (std::optional<std::string> device :
         {std::optional<std::string>("iPad"), std::optional<std::string>()}) {
      delegate->setDeviceType(device);
      for (int style : {0, 1}) {
        SCOPED_TRACE(testing::Message() << "style " << style << (device ? " iPad" : " none"));
        delegate->updateWindowString(style);
        const AttributedString& text = field->attributedStringValue();
        const std::string& message = text.string();
        EXPECT_EQ(message.find('%'), std::string::npos) << message;
        EXPECT_EQ(message.find("  "), std::string::npos) << message;
        EXPECT_EQ(message.find(" ."), std::string::npos) << message;
        EXPECT_EQ(message.find("()"), std::string::npos) << message;
        if (device) {
          EXPECT_NE(message.find("(iPad)"), std::string::npos) << message;
        }
        for (const char* phrase : style == 0
                                      ? std::vector<const char*>{"Wont_Update"}
                                      : std::vector<const char*>{"Black_Freeze", "Wont_Turn_On"}) {
          EXPECT_NE(message.find(table->at(phrase)), std::string::npos) << phrase;
        }
        appkit::TextLayout layout;
        layout.setText(text);
        layout.setWidth(field->frame().size.width - 2 * appkit::TextField::kTextInset);
        EXPECT_EQ(layout.unknownGlyphsCount(), 0) << message;
        EXPECT_LE(layout.size().height, 3 * lineHeight + 1) << message;
      }
    }
    EXPECT_EQ(accept->title(), table->at("Open_Mendkit"));
  }
}
