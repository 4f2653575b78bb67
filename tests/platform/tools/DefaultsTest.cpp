#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ToolsTest.h"
#include "foundation/FileDescriptor.h"
#include "foundation/UserDefaults.h"
#include "support/Subprocess.h"

namespace tools_tests {
namespace {

using foundation::Date;
using foundation::PlistValue;
using foundation::UserDefaults;
using testing_support::ChildResult;
using testing_support::readFile;

constexpr const char* kDomain = "com.example.settings";

class DefaultsToolTest : public ToolsTest {
 protected:
  ChildResult defaults(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), DEFAULTS_PATH);
    return testing_support::runChild(arguments);
  }
  // The output of a `defaults` run that must succeed.
  std::string output(std::vector<std::string> arguments) {
    ChildResult result = defaults(arguments);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    return result.out;
  }
  std::optional<PlistValue> stored(const std::string& key) {
    return UserDefaults(file).objectForKey(key);
  }

  std::string file = sandbox.inHome("Library/Preferences/com.example.settings.plist");
};

TEST_F(DefaultsToolTest, EachTypeIsStoredAsTheAgentReadsItAndPrintedAsWritten) {
  output({"write", kDomain, "Site", "-int", "-42"});
  output({"write", kDomain, "Never", "-bool", "YES"});
  output({"write", kDomain, "Off", "-boolean", "false"});
  output({"write", kDomain, "Shown", "-date", "2026-12-07 10:00:00 +0000"});
  output({"write", kDomain, "Scale", "-float", "1.5"});
  output({"write", kDomain, "Large", "-float", "-2.5E+3"});
  output({"write", kDomain, "Name", "-string", "two words"});
  output({"write", kDomain, "Plain", "-7"});  // no type: a string

  EXPECT_EQ(stored("Site"), PlistValue(std::int64_t{-42}));
  EXPECT_EQ(stored("Never"), PlistValue(true));
  EXPECT_EQ(stored("Off"), PlistValue(false));
  EXPECT_EQ(stored("Shown"), PlistValue(Date{1796637600}));
  EXPECT_EQ(stored("Scale"), PlistValue(1.5));
  EXPECT_EQ(stored("Large"), PlistValue(-2500.0));
  EXPECT_EQ(stored("Name"), PlistValue("two words"));
  EXPECT_EQ(stored("Plain"), PlistValue("-7"));

  EXPECT_EQ(output({"read", kDomain, "Shown"}), "2026-12-07 10:00:00 +0000\n");
  EXPECT_EQ(output({"read", kDomain, "Name"}), "two words\n");
  EXPECT_EQ(output({"read", kDomain, "Never"}), "1\n");
  EXPECT_EQ(output({"read-type", kDomain, "Site"}), "Type is integer\n");
  EXPECT_EQ(output({"read", kDomain}),
            "{\n    Large = -2500;\n    Name = \"two words\";\n    Never = 1;\n    Off = 0;\n"
            "    Plain = -7;\n"
            "    Scale = 1.5;\n    Shown = \"2026-12-07 10:00:00 +0000\";\n    Site = -42;\n}\n");

  // A path names the file itself, ".plist" added.
  output({"write", sandbox.base() + "/other", "Key", "value"});
  EXPECT_EQ(UserDefaults(sandbox.base() + "/other.plist").stringForKey("Key"), "value");
  EXPECT_EQ(output({"read", sandbox.base() + "/other.plist", "Key"}), "value\n");
}

TEST_F(DefaultsToolTest, DatesInEveryAcceptedFormAndOnlyThose) {
  struct Case {
    const char* text;
    double seconds;
  } accepted[] = {{"2026-12-07 10:00:00 +0000", 1796637600},
                  {"2026-12-07T10:00:00Z", 1796637600},
                  {"2026-12-07T11:30:00+01:30", 1796637600},
                  {"2026-12-07 04:30:00 -0530", 1796637600},
                  {"2024-02-29 00:00:00 +0000", 1709164800}};
  for (const Case& date : accepted) {
    output({"write", kDomain, "When", "-date", date.text});
    EXPECT_EQ(stored("When"), PlistValue(Date{date.seconds})) << date.text;
  }
  // Without a zone, the time is the local one.
  ChildResult local = testing_support::runChild(
      {DEFAULTS_PATH, "write", kDomain, "When", "-date", "2026-12-07 10:00:00"},
      {.environment = {"TZ=Asia/Tokyo"}});
  EXPECT_EQ(local.exitStatus, 0) << local.err;
  EXPECT_EQ(stored("When"), PlistValue(Date{1796637600 - 9 * 3600}));

  std::string before = readFile(file).value_or("");
  for (const char* bad :
       {"2026-02-29 00:00:00 +0000", "2026-12-07 24:00:00 +0000", "2026-12-07 10:00 +0000",
        "2026-12-07 10:00:00 0000", "tomorrow", "", "2026-12-07 10:00:00 +0000 x", "0000-01-01"}) {
    ChildResult result = defaults({"write", kDomain, "When", "-date", bad});
    EXPECT_EQ(result.exitStatus, 1) << bad;
    EXPECT_NE(result.err.find("is not a date"), std::string::npos) << result.err;
  }
  EXPECT_EQ(readFile(file), before);
}

TEST_F(DefaultsToolTest, BadValuesAndMissingNamesFailWithoutChangingAnything) {
  output({"write", kDomain, "Site", "-int", "7"});
  std::string before = readFile(file).value_or("");
  std::vector<std::vector<std::string>> refused = {
      {"write", kDomain, "Site", "-int", "7x"},
      {"write", kDomain, "Site", "-int", ""},
      {"write", kDomain, "Site", "-int", "99999999999999999999"},
      {"write", kDomain, "Site", "-float", "1.5.2"},
      {"write", kDomain, "Site", "-float", "1e999"},
      {"write", kDomain, "Site", "-float", "0x1p3"},
      {"write", kDomain, "Site", "-float", "nan"},
      {"write", kDomain, "Site", "-float", "-inf"},
      {"write", kDomain, "Site", "-float", "1e"},
      {"write", kDomain, "Site", "-string", "ring\x07"},
      {"write", kDomain, "Site", "-bool", "maybe"},
      {"write", kDomain, "Site", "-array", "x"},
      {"write", kDomain, "Site"},
      {"read", "com.example.missing"},
      {"read", kDomain, "Missing"},
      {"read-type", kDomain, "Missing"},
      {"delete", kDomain, "Missing"},
      {"delete", "com.example.missing"},
      {"remove", kDomain},
  };
  for (const auto& arguments : refused) {
    ChildResult result = defaults(arguments);
    EXPECT_EQ(result.exitStatus, 1) << arguments[0] << " " << arguments.back();
    EXPECT_FALSE(result.err.empty());
    EXPECT_TRUE(result.out.empty()) << result.out;
  }
  EXPECT_EQ(readFile(file), before);
  EXPECT_NE(defaults({"read", kDomain, "Missing"}).err.find("(com.example.settings, Missing)"),
            std::string::npos);

  output({"write", kDomain, "Other", "x"});
  output({"delete", kDomain, "Site"});
  EXPECT_FALSE(stored("Site"));
  EXPECT_EQ(stored("Other"), PlistValue("x"));
  output({"delete", kDomain});
  ChildResult gone = defaults({"read", kDomain});
  EXPECT_EQ(gone.exitStatus, 1);
  EXPECT_NE(gone.err.find("Domain com.example.settings does not exist"), std::string::npos);
}

// A second process writes its own keys, one synchronize each, for as long as the tool runs;
// afterwards every value that either wrote is in the file.
TEST_F(DefaultsToolTest, NoWriteIsLostWhileAnotherProcessWrites) {
  int stop[2], count[2];
  ASSERT_EQ(::pipe(stop), 0);
  ASSERT_EQ(::pipe(count), 0);
  pid_t writer = ::fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    ::close(stop[1]);
    UserDefaults defaults(file);
    int written = 0;
    pollfd stopped{stop[0], POLLIN, 0};
    do {
      defaults.setInteger("child." + std::to_string(written), written);
      if (!defaults.synchronize()) ::_exit(2);
      ++written;
    } while (::poll(&stopped, 1, 0) == 0);
    bool reported = ::write(count[1], &written, sizeof written) == sizeof written;
    ::_exit(reported ? 0 : 3);
  }
  ::close(stop[0]);
  ::close(count[1]);
  foundation::FileDescriptor stopWriter(stop[1]), writerCount(count[0]);

  constexpr int kToolWrites = 40;
  for (int n = 0; n < kToolWrites; ++n) {
    ChildResult result =
        defaults({"write", kDomain, "tool." + std::to_string(n), "-int", std::to_string(n)});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
  }
  stopWriter.reset();
  int written = 0;
  ASSERT_EQ(::read(writerCount.get(), &written, sizeof written),
            static_cast<ssize_t>(sizeof written));
  auto status = testing_support::waitForChild(writer, 60);
  ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  ASSERT_GT(written, 1);

  auto all = UserDefaults(file).dictionaryRepresentation();
  EXPECT_EQ(all.size(), static_cast<size_t>(kToolWrites + written));
  for (int n = 0; n < kToolWrites; ++n) {
    EXPECT_EQ(all["tool." + std::to_string(n)], PlistValue(n)) << n;
  }
  for (int n = 0; n < written; ++n) {
    EXPECT_EQ(all["child." + std::to_string(n)], PlistValue(n)) << n;
  }
}

}  // namespace
}  // namespace tools_tests
