#include "foundation/Bundle.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TestHome.h"

using foundation::Bundle;
using testing_support::HomeTest;
using testing_support::writeFile;

namespace {

class BundleTest : public HomeTest {
 protected:
  // A bundle with `info` as the body of its Info.plist dictionary.
  std::optional<Bundle> make(const std::string& info) {
    writeFile(path + "/Contents/Info.plist", "<plist><dict>" + info + "</dict></plist>");
    return Bundle::atPath(path);
  }
  void resource(const std::string& relative) {
    writeFile(path + "/Contents/Resources/" + relative, "x");
  }
  std::string path = sandbox.inHome("Agent.app");
};

}  // namespace

TEST_F(BundleTest, NeedsAnInfoDictionary) {
  EXPECT_FALSE(Bundle::atPath(path));
  writeFile(path + "/Contents/Info.plist", "<plist><array/></plist>");
  EXPECT_FALSE(Bundle::atPath(path));
  auto bundle = make(
      "<key>CFBundleIdentifier</key><string>com.example.a</string>"
      "<key>CFBundleExecutable</key><string>Agent</string>");
  ASSERT_TRUE(bundle);
  EXPECT_EQ(bundle->bundleIdentifier(), "com.example.a");
  EXPECT_EQ(bundle->executablePath(), path + "/Contents/MacOS/Agent");
  EXPECT_EQ(bundle->resourcePath(), path + "/Contents/Resources");
}

TEST_F(BundleTest, LocalizationsFollowTheInfoListElseTheFoldersByName) {
  resource("fr.lproj/localization.strings");
  resource("de.lproj/localization.strings");
  resource("notes.lproj");  // a file, not a folder
  std::filesystem::create_directories(path + "/Contents/Resources/.lproj");
  auto unlisted = make("");
  ASSERT_TRUE(unlisted);
  EXPECT_EQ(unlisted->localizations(), (std::vector<std::string>{"de", "fr"}));

  auto listed = make(
      "<key>CFBundleLocalizations</key><array><string>fr</string><string>en</string>"
      "<string>de</string></array>");
  ASSERT_TRUE(listed);
  EXPECT_EQ(listed->localizations(), (std::vector<std::string>{"fr", "en", "de"}));
}

TEST_F(BundleTest, ResourcesByNameTypeFolderAndLocalization) {
  resource("job.plist");
  resource("scripts/install.sh");
  resource("README");
  resource("en.lproj/localization.strings");
  resource("zh_CN.lproj/localization.strings");
  resource("zh_CN.lproj/only.strings");
  auto bundle = make(
      "<key>CFBundleLocalizations</key><array><string>zh_CN</string><string>en</string>"
      "</array>");
  ASSERT_TRUE(bundle);
  std::string resources = path + "/Contents/Resources/";
  EXPECT_EQ(bundle->pathForResource("job", "plist"), resources + "job.plist");
  EXPECT_EQ(bundle->pathForResource("README", ""), resources + "README");
  EXPECT_EQ(bundle->pathForResource("install", "sh", "scripts"), resources + "scripts/install.sh");
  EXPECT_FALSE(bundle->pathForResource("install", "sh")) << "not outside its folder";
  EXPECT_FALSE(bundle->pathForResource("scripts", "")) << "a folder is no resource";
  // Without a localization: the first localization, in the listed order, that has it.
  EXPECT_EQ(bundle->pathForResource("localization", "strings"),
            resources + "zh_CN.lproj/localization.strings");
  EXPECT_EQ(bundle->pathForResource("localization", "strings", "", "en"),
            resources + "en.lproj/localization.strings");
  EXPECT_FALSE(bundle->pathForResource("only", "strings", "", "en"))
      << "a named localization is not replaced by another";
  EXPECT_FALSE(bundle->pathForResource("job", "plist", "", "en"));
  EXPECT_FALSE(bundle->pathForResource("localization", "strings", "", "fr"));
}
