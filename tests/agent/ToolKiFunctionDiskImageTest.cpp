#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "ToolKiFunction.h"
#include "foundation/AppleScript.h"
#include "foundation/Bundle.h"
#include "foundation/PropertyList.h"
#include "foundation/Shell.h"
#include "support/StderrCapture.h"
#include "support/Subprocess.h"
#include "support/TestHome.h"

using foundation::AppleEventDescriptor;
using foundation::Bundle;
using testing_support::occurrences;
using testing_support::readFile;
using testing_support::StderrCapture;
using testing_support::writeFile;

namespace {

namespace fs = std::filesystem;

// The arguments a recording script received, each ended by \036.
std::string recorded(std::initializer_list<std::string> arguments) {
  std::string text;
  for (const std::string& argument : arguments) text += argument + "\036";
  return text;
}

// A bundle of the test's own as the agent's main bundle, with scripts in its resources; the
// administrator prompt is a recording pass-through tool on PATH.
class DiskImageTest : public testing_support::HomeTest {
 protected:
  void SetUp() override {
    const char* path = std::getenv("PATH");
    _oldPath = path ? path : "";
    // Not "bin": that name beside a bundle is its tools folder.
    std::string bin = sandbox.base() + "/prompt-bin";
    writeScript(bin + "/pkexec", "echo asked >> " + quoted("pkexec.log") + "\nexec \"$@\"\n");
    setenv("PATH", (bin + ":" + _oldPath).c_str(), 1);
    foundation::AppleScript::setRunsAsRootForTesting(false);

    std::string bundle = sandbox.base() + "/Agent.app";
    writeFile(bundle + "/Contents/Info.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "</dict></plist>\n");
    _resources = bundle + "/Contents/Resources";
    Bundle::setMainForTesting(Bundle::atPath(bundle));
    ASSERT_NE(Bundle::main(), nullptr);
    setTestScript(0);
    setInstallScript("printf 'installed %s\\n' \"$2/App.app\"\n");
  }

  void TearDown() override {
    Bundle::setMainForTesting(std::nullopt);
    foundation::AppleScript::setRunsAsRootForTesting(std::nullopt);
    setenv("PATH", _oldPath.c_str(), 1);
  }

  std::string quoted(const std::string& name) const {
    return foundation::shellQuoted(sandbox.base() + "/" + name);
  }
  static void writeScript(const std::string& path, const std::string& body) {
    writeFile(path, "#!/bin/sh\n" + body);
    ::chmod(path.c_str(), 0755);
  }
  // Each script records its arguments in <name>.args, then does `body`.
  void setTestScript(int status) {
    writeScript(_resources + "/test_attach.sh",
                "for a in \"$@\"; do printf '%s\\036' \"$a\"; done > " + quoted("test.args") +
                    "\nexit " + std::to_string(status) + "\n");
  }
  void setInstallScript(const std::string& body) {
    writeScript(_resources + "/install_script.sh",
                "for a in \"$@\"; do printf '%s\\036' \"$a\"; done > " + quoted("install.args") +
                    "\n" + body);
  }
  std::optional<std::string> file(const std::string& name) const {
    return readFile(sandbox.base() + "/" + name);
  }
  std::string image(const std::string& name = "App.dmg") const {
    std::string path = sandbox.base() + "/" + name;
    writeFile(path, "image");
    return path;
  }

  std::string _oldPath, _resources;
  int _completions = 0;
  std::string _completionText;
  ToolKiFunction::InstallCompletion _completion = [this](const AppleEventDescriptor& result) {
    ++_completions;
    _completionText = result.stringValue();
  };
};

TEST_F(DiskImageTest, APathNotEndingInDmgIsRefusedAndKeptAndAMissingOneSilently) {
  std::string upper = image("App.DMG"), other = image("App.dmg.zip");
  StderrCapture capture(sandbox.base() + "/log.txt");
  EXPECT_EQ(ToolKiFunction::runAppScripteInstallApp(upper, true, _completion), -1);
  EXPECT_EQ(ToolKiFunction::runAppScripteInstallApp(std::string(), true, _completion), -1);
  EXPECT_EQ(ToolKiFunction::runScripteInstallApp(other, _completion), -1);
  std::string log = capture.finish();
  EXPECT_EQ(occurrences(log, "Dmg file error!"), 3u) << log;
  EXPECT_EQ(occurrences(log, "Administrator!"), 0u) << log;
  EXPECT_TRUE(fs::exists(upper));
  EXPECT_TRUE(fs::exists(other));
  EXPECT_FALSE(file("test.args").has_value());
  EXPECT_EQ(_completions, 0);

  StderrCapture silent(sandbox.base() + "/silent.txt");
  EXPECT_EQ(ToolKiFunction::runAppScripteInstallApp(std::nullopt, true, _completion), -1);
  EXPECT_EQ(ToolKiFunction::runScripteInstallApp(std::nullopt, _completion), -1);
  EXPECT_EQ(silent.finish(), "") << "a missing path is refused without a log line";
}

TEST_F(DiskImageTest, AnImageTheTestRefusesIsDeletedAndNotInstalled) {
  setTestScript(1);
  std::string path = image();
  StderrCapture capture(sandbox.base() + "/log.txt");
  EXPECT_EQ(ToolKiFunction::runAppScripteInstallApp(path, true, _completion), -1);
  std::string log = capture.finish();
  EXPECT_EQ(file("test.args"), recorded({path}));
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(file("install.args").has_value());
  EXPECT_EQ(occurrences(log, "Appscript"), 0u) << log;
  EXPECT_EQ(_completions, 0);
}

TEST_F(DiskImageTest, ASuccessfulInstallCompletesOnceAndDeletesTheImage) {
  std::string path = image();
  StderrCapture capture(sandbox.base() + "/log.txt");
  EXPECT_EQ(ToolKiFunction::runScripteInstallApp(path, _completion), 0);
  std::string log = capture.finish();
  EXPECT_EQ(file("install.args"), recorded({path, "/Applications", sandbox.home()}));
  EXPECT_EQ(_completions, 1);
  EXPECT_EQ(_completionText, "installed /Applications/App.app");
  EXPECT_EQ(occurrences(log, "Appscript succes installed /Applications/App.app\n"), 1u) << log;
  EXPECT_EQ(occurrences(log, "Administrator!"), 1u) << log;
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(DiskImageTest, AFailingInstallIsLoggedNotCompletedAndDeletesTheImage) {
  setInstallScript("echo no room >&2\nexit 3\n");
  std::string path = image();
  StderrCapture capture(sandbox.base() + "/log.txt");
  EXPECT_EQ(ToolKiFunction::runAppScripteInstallApp(path, true, _completion), -1);
  std::string log = capture.finish();
  EXPECT_EQ(occurrences(log, "Appscript fail! {"), 1u) << log;
  EXPECT_EQ(occurrences(log, "NSAppleScriptErrorMessage = \"no room\";"), 1u) << log;
  EXPECT_EQ(_completions, 0);
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(DiskImageTest, OnlyANonAdministratorIsAskedForPrivileges) {
  EXPECT_EQ(ToolKiFunction::runAppScripteInstallApp(image(), true, _completion), 0);
  EXPECT_FALSE(file("pkexec.log").has_value());
  EXPECT_EQ(ToolKiFunction::runAppScripteInstallApp(image(), false, _completion), 0);
  EXPECT_EQ(file("pkexec.log"), "asked\n");
  EXPECT_EQ(_completions, 2);
}

TEST_F(DiskImageTest, EveryArgumentReachesTheScriptsAsOneWordAndNothingIsInjected) {
  // "cd" alone goes to the sandbox's home, where an injected command would leave its marks.
  std::string path = image("my app;cd;touch one;`cd;touch two`$(cd;touch three)'q'\"d\"\\x.dmg");
  EXPECT_EQ(ToolKiFunction::runAppScripteInstallApp(path, false, _completion), 0);
  EXPECT_EQ(file("test.args"), recorded({path}));
  EXPECT_EQ(file("install.args"), recorded({path, "/Applications", sandbox.home()}));
  for (const char* mark : {"one", "two", "three"}) {
    EXPECT_FALSE(fs::exists(sandbox.inHome(mark))) << "an injected command ran: " << mark;
  }
  EXPECT_FALSE(fs::exists(path));
}

// --- the bundle's own scripts -------------------------------------------------------------------

// Writes `value` big-endian into the `bytes` bytes of `out` at `at`.
void put(std::string& out, size_t at, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[at + i] = char(value >> (8 * (bytes - 1 - i)));
}

// A disk image of one uncompressed partition holding `partition` (whole 512-byte sectors): the
// partition's data, the property list with its block table, and the 512-byte "koly" trailer.
std::string udifImage(const std::string& partition) {
  const std::uint64_t size = partition.size(), sectors = size / 512;
  std::string table(204 + 2 * 40, '\0');  // the table's header, a chunk of data, the end chunk
  table.replace(0, 4, "mish");
  put(table, 4, 1, 4), put(table, 16, sectors, 8), put(table, 200, 2, 4);
  put(table, 204, 1, 4), put(table, 220, sectors, 8), put(table, 236, size, 8);
  put(table, 244, 0xffffffff, 4), put(table, 252, sectors, 8), put(table, 268, size, 8);
  foundation::PlistDictionary entry{{"Name", "test (Apple_HFS : 0)"},
                                    {"Data", foundation::PlistData(table.begin(), table.end())}};
  foundation::PlistDictionary blocks{{"blkx", foundation::PlistArray{entry}}};
  std::string plist =
      foundation::propertyListXml(foundation::PlistDictionary{{"resource-fork", blocks}})
          .valueOr("");
  std::string trailer(512, '\0');
  trailer.replace(0, 4, "koly");
  put(trailer, 4, 4, 4), put(trailer, 8, 512, 4), put(trailer, 12, 1, 4);
  put(trailer, 32, size, 8), put(trailer, 56, 1, 4), put(trailer, 60, 1, 4);
  put(trailer, 216, size, 8), put(trailer, 224, plist.size(), 8);
  put(trailer, 488, 1, 4), put(trailer, 492, sectors, 8);
  return partition + plist + trailer;
}

class BundleScriptsTest : public DiskImageTest {
 protected:
  void SetUp() override {
    DiskImageTest::SetUp();
    for (const char* script : {"test_attach.sh", "install_script.sh"}) {
      fs::remove(_resources + "/" + script);
      fs::create_symlink(std::string(MENDKIT_RESOURCES_DIR) + "/" + script,
                         _resources + "/" + script);
    }
  }

  // A disk image holding the folders `bundles`, each with the executable text `contents` and
  // the symbolic links `links` (place in the bundle → target).
  std::string appImage(const std::string& name, std::initializer_list<std::string> bundles,
                       const std::string& contents,
                       const std::vector<std::pair<std::string, std::string>>& links = {}) {
    std::string folder = sandbox.base() + "/content";
    fs::remove_all(folder);
    std::vector<std::string> tar{"/bin/tar", "-C", folder, "-cf", sandbox.base() + "/part.tar"};
    for (const std::string& bundle : bundles) {
      writeFile(folder + "/" + bundle + "/Contents/MacOS/App", contents);
      for (const auto& [place, target] : links) {
        fs::create_directories(fs::path(folder + "/" + bundle + "/" + place).parent_path());
        fs::create_symlink(target, folder + "/" + bundle + "/" + place);
      }
      tar.push_back(bundle);
    }
    EXPECT_EQ(testing_support::runChild(tar).exitStatus, 0);
    std::string path = sandbox.base() + "/" + name;
    writeFile(path, udifImage(readFile(sandbox.base() + "/part.tar").value_or("")));
    return path;
  }

  void SkipWithout7z() {
    if (foundation::runShellCommand("command -v 7z > /dev/null") != 0) GTEST_SKIP() << "no 7z";
  }
};

TEST_F(BundleScriptsTest, OnlyAFileEndingInADiskImageTrailerPassesTheTest) {
  std::string image = appImage("with trailer.dmg", {"App.app"}, "new");
  EXPECT_TRUE(ToolKiFunction::attactDmgFile(image));
  std::string data = readFile(image).value_or("");
  std::string plain = sandbox.base() + "/plain.dmg";
  writeFile(plain, data.substr(0, data.size() - 512) + std::string(512, '\0'));
  EXPECT_FALSE(ToolKiFunction::attactDmgFile(plain));
  writeFile(plain, data.substr(data.size() - 512) + std::string(512, '\0'));
  EXPECT_FALSE(ToolKiFunction::attactDmgFile(plain)) << "the trailer is not at the end";
  EXPECT_FALSE(ToolKiFunction::attactDmgFile(sandbox.base() + "/missing.dmg"));
}

TEST_F(BundleScriptsTest, TheImagesBundleReplacesAnEarlierCopyWhole) {
  SkipWithout7z();
  std::string installed = sandbox.inRoot("Applications/App.app");
  writeFile(installed + "/Contents/MacOS/Old", "old");
  std::string image = appImage("new app.dmg", {"App.app"}, "new");
  EXPECT_EQ(ToolKiFunction::runAppScripteInstallApp(image, true, _completion), 0);
  EXPECT_EQ(_completionText, "installed /Applications/App.app");
  EXPECT_EQ(readFile(installed + "/Contents/MacOS/App"), "new");
  EXPECT_FALSE(fs::exists(installed + "/Contents/MacOS/Old"));
  EXPECT_EQ(std::distance(fs::directory_iterator(sandbox.inRoot("Applications")), {}), 1)
      << "nothing is left beside the bundle";
  EXPECT_FALSE(fs::exists(image));
}

TEST_F(BundleScriptsTest, AnImageWithoutExactlyOneBundleFailsAndChangesNothing) {
  SkipWithout7z();
  std::string installed = sandbox.inRoot("Applications/App.app");
  writeFile(installed + "/Contents/MacOS/App", "old");
  std::string image = appImage("two.dmg", {"App.app", "Other.app"}, "new");
  StderrCapture capture(sandbox.base() + "/log.txt");
  EXPECT_EQ(ToolKiFunction::runAppScripteInstallApp(image, true, _completion), -1);
  std::string log = capture.finish();
  EXPECT_EQ(occurrences(log, "more than one application bundle"), 1u) << log;
  EXPECT_EQ(readFile(installed + "/Contents/MacOS/App"), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(sandbox.inRoot("Applications")), {}), 1);
  EXPECT_EQ(_completions, 0);
}

TEST_F(BundleScriptsTest, LinksInsideTheBundleAreKeptAndOneLeadingOutIsRefused) {
  SkipWithout7z();
  std::string installed = sandbox.inRoot("Applications/App.app");
  std::string image = appImage("framework.dmg", {"App.app"}, "new",
                               {{"Contents/F.framework/Versions/A/F", "../../../MacOS/App"},
                                {"Contents/F.framework/Versions/Current", "A"},
                                {"Contents/F.framework/F", "Versions/Current/F"}});
  ASSERT_EQ(ToolKiFunction::runAppScripteInstallApp(image, true, _completion), 0);
  EXPECT_EQ(fs::read_symlink(installed + "/Contents/F.framework/F"), "Versions/Current/F");
  EXPECT_EQ(readFile(installed + "/Contents/F.framework/F"), "new");

  for (const char* outside : {"/etc/passwd", "../Up/.."}) {  // Up leads to the bundle itself
    image = appImage("out.dmg", {"App.app"}, "evil",
                     {{"Contents/Up", ".."}, {"Contents/M/o", outside}});
    StderrCapture capture(sandbox.base() + "/log.txt");
    EXPECT_EQ(ToolKiFunction::runAppScripteInstallApp(image, true, _completion), -1) << outside;
    EXPECT_EQ(occurrences(capture.finish(), "a symbolic link that leads outside the bundle"), 1u);
    EXPECT_EQ(readFile(installed + "/Contents/MacOS/App"), "new");
  }
}

TEST_F(BundleScriptsTest, TheCopyAnInterruptedRunMovedAsideIsPutBackByTheNextRun) {
  SkipWithout7z();
  // As an earlier version of the script left it when killed between its two moves.
  std::string leftover = sandbox.inRoot("Applications/.install.Ab12Cd");
  writeFile(leftover + "/previous/Contents/MacOS/App", "old");
  writeFile(leftover + "/image/part/App.app/Contents/MacOS/App", "new");
  std::string image = appImage("two.dmg", {"App.app", "Other.app"}, "new");
  StderrCapture capture(sandbox.base() + "/log.txt");
  EXPECT_EQ(ToolKiFunction::runAppScripteInstallApp(image, true, _completion), -1);
  capture.finish();
  EXPECT_EQ(readFile(sandbox.inRoot("Applications/App.app/Contents/MacOS/App")), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(sandbox.inRoot("Applications")), {}), 1);
}

// mv, rm and rename-exchange through a wrapper that, on the wrapped call SIGNAL_AT, signals the
// script's whole process group (as `launchctl unload` does) before the call can act: whatever
// the signal and the moment, the folder holds the old bundle or the new one, and the next run
// puts the new one in place and leaves nothing else.
TEST_F(BundleScriptsTest, ASignalAtAnyStepLeavesTheOldBundleOrTheNewOne) {
  SkipWithout7z();
  std::string applications = sandbox.inRoot("Applications"), installed = applications + "/App.app";
  std::string image = appImage("new.dmg", {"App.app"}, "new");
  std::string wrappers = sandbox.base() + "/wrappers",
              count = foundation::shellQuoted(sandbox.base() + "/count");
  writeScript(wrappers + "/mv", "n=$(($(cat " + count + ") + 1)); echo $n > " + count +
                                    "\n[ $n -eq $SIGNAL_AT ] && kill -s $SIGNAL 0 && sleep 5"
                                    "\nPATH=$REAL_PATH exec \"${0##*/}\" \"$@\"\n");
  fs::create_symlink("mv", wrappers + "/rm"),
      fs::create_symlink("mv", wrappers + "/rename-exchange");
  std::string path = _oldPath + ":" + fs::path(RENAME_EXCHANGE_PATH).parent_path().string();
  auto install = [&](const std::string& signal, int at) {
    writeFile(sandbox.base() + "/count", "0");
    return testing_support::runChild(
        {"/bin/sh", std::string(MENDKIT_RESOURCES_DIR) + "/install_script.sh", image,
         "/Applications", sandbox.home()},
        {.environment = {"PATH=" + wrappers + ":" + path, "REAL_PATH=" + path, "SIGNAL=" + signal,
                         "SIGNAL_AT=" + std::to_string(at)},
         .newProcessGroup = true});
  };
  for (const std::string signal : {"TERM", "KILL"}) {
    for (int at = 1; at < 10; ++at) {
      writeFile(installed + "/Contents/MacOS/App", "old");
      bool interrupted = install(signal, at).exitStatus != 0;
      std::string now = readFile(installed + "/Contents/MacOS/App").value_or("missing");
      EXPECT_TRUE(now == "old" || now == "new") << signal << " at call " << at << ": " << now;
      if (!interrupted) break;
      ASSERT_EQ(install(signal, 0).exitStatus, 0);
      EXPECT_EQ(readFile(installed + "/Contents/MacOS/App"), "new");
      EXPECT_EQ(std::distance(fs::directory_iterator(applications), {}), 1) << signal << at;
    }
  }
}

}  // namespace
