#include "ServiceConfig.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "foundation/Clock.h"
#include "foundation/Paths.h"
#include "foundation/ProcessInfo.h"
#include "foundation/UserDefaults.h"
#include "support/Subprocess.h"
#include "support/TestHome.h"

using foundation::Date;
using testing_support::readFile;

namespace {

class ServiceConfigTest : public testing_support::HomeTest {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    _hadTz = tz != nullptr;
    if (tz) _tz = tz;
    // Half past five in the evening in Berlin is still the same day in UTC: the zone must matter.
    setenv("TZ", "Europe/Berlin", 1);
  }
  void TearDown() override {
    if (_hadTz) {
      setenv("TZ", _tz.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
  }
  std::string defaultsFile() const {
    return sandbox.inHome("Library/Preferences/" + foundation::UserDefaults::standard().domain() +
                          ".plist");
  }

  // Runs one of the DISABLED_ child cases below in a new process of this test program.
  testing_support::ChildResult runChild(const std::string& name) {
    return testing_support::runChild(
        {"/proc/self/exe", "--gtest_filter=ServiceConfigChild.DISABLED_" + name,
         "--gtest_also_run_disabled_tests"},
        {.output = testing_support::ChildOutput::Interleaved}, 60);
  }

 private:
  std::string _tz;
  bool _hadTz = false;
};

// 2026-03-05 00:00:00 in Berlin (+01:00) is 2026-03-04 23:00:00 UTC.
constexpr double kBerlinMidnight = 1772665200.0;

}  // namespace

TEST_F(ServiceConfigTest, NothingStoredGivesTheDefaults) {
  EXPECT_FALSE(ServiceConfig::getPopDialogTime());
  EXPECT_FALSE(ServiceConfig::isSameDate(ServiceConfig::getPopDialogTime(), Date::now()));
  EXPECT_FALSE(ServiceConfig::isNeverPopDialog());
  EXPECT_EQ(ServiceConfig::siteID(), 0);
}

TEST_F(ServiceConfigTest, EachSetterWritesItsKeyAsItsOwnTypeAndFlushes) {
  ServiceConfig::setPopDialogTime(Date{1772753400.0});
  ServiceConfig::setNeverPopDialog(true);
  ServiceConfig::setSiteID(-7);
  auto xml = readFile(defaultsFile());
  ASSERT_TRUE(xml) << "the setters must reach the disk without an extra synchronize";
  EXPECT_NE(xml->find("<key>PopDialogDate</key>\n\t<date>2026-03-05T23:30:00Z</date>"),
            std::string::npos)
      << *xml;
  EXPECT_NE(xml->find("<key>NeverPopDialog</key>\n\t<true/>"), std::string::npos);
  EXPECT_NE(xml->find("<key>ServiceSiteID</key>\n\t<integer>-7</integer>"), std::string::npos);
  EXPECT_EQ(ServiceConfig::getPopDialogTime(), Date{1772753400.0});
  EXPECT_TRUE(ServiceConfig::isNeverPopDialog());
  EXPECT_EQ(ServiceConfig::siteID(), -7);
  ServiceConfig::setNeverPopDialog(false);
  EXPECT_FALSE(ServiceConfig::isNeverPopDialog());
  ServiceConfig::setSiteID(101);
  EXPECT_EQ(ServiceConfig::siteID(), 101);
}

TEST_F(ServiceConfigTest, SixtyFourBitSiteNumbersSurvive) {
  ServiceConfig::setSiteID(std::int64_t{1} << 40);
  EXPECT_EQ(ServiceConfig::siteID(), std::int64_t{1} << 40);
}

TEST_F(ServiceConfigTest, ValuesOfTheWrongTypeReadAsDefaults) {
  auto& defaults = foundation::UserDefaults::standard();
  defaults.setObject("PopDialogDate", "2026-03-05");
  defaults.setObject("NeverPopDialog", "YES");
  defaults.setObject("ServiceSiteID", foundation::PlistArray{});
  EXPECT_FALSE(ServiceConfig::getPopDialogTime());
  EXPECT_FALSE(ServiceConfig::isNeverPopDialog());
  EXPECT_EQ(ServiceConfig::siteID(), 0);
  ServiceConfig::setPopDialogTime(std::nullopt);
  EXPECT_FALSE(defaults.objectForKey("PopDialogDate"));
}

TEST_F(ServiceConfigTest, LocalMidnightSeparatesDays) {
  Date before{kBerlinMidnight - 1};
  Date after{kBerlinMidnight + 1};
  EXPECT_FALSE(ServiceConfig::isSameDate(before, after));
  // Both are 4 March in UTC, so a test in UTC would not have told them apart.
  setenv("TZ", "UTC", 1);
  EXPECT_TRUE(ServiceConfig::isSameDate(before, after));
  setenv("TZ", "Europe/Berlin", 1);
  EXPECT_TRUE(ServiceConfig::isSameDate(Date{kBerlinMidnight + 60}, Date{kBerlinMidnight + 86339}));
}

TEST_F(ServiceConfigTest, SameDayOfOtherMonthsOrYearsIsAnotherDay) {
  Date march5{kBerlinMidnight + 12 * 3600};
  Date april5 = march5.addingTimeInterval(31 * 86400);
  Date nextYear = march5.addingTimeInterval(365 * 86400);
  EXPECT_FALSE(ServiceConfig::isSameDate(march5, april5));
  EXPECT_FALSE(ServiceConfig::isSameDate(march5, nextYear));
  EXPECT_FALSE(ServiceConfig::isSameDate(std::nullopt, march5));
  EXPECT_FALSE(ServiceConfig::isSameDate(march5, std::nullopt));
}

TEST_F(ServiceConfigTest, StoredDateAndTodayOnTheManualClock) {
  foundation::ManualClock clock(Date{kBerlinMidnight - 1});
  foundation::ScopedClock installed(clock);
  ServiceConfig::setPopDialogTime(Date::now());
  EXPECT_TRUE(ServiceConfig::isSameDate(ServiceConfig::getPopDialogTime(), Date::now()));
  clock.advance(2);
  EXPECT_FALSE(ServiceConfig::isSameDate(ServiceConfig::getPopDialogTime(), Date::now()));
}

TEST_F(ServiceConfigTest, AnotherProcessSeesTheValues) {
  ServiceConfig::setNeverPopDialog(true);
  ServiceConfig::setSiteID(42);
  auto reader = runChild("ReadsWhatTheParentStored");
  EXPECT_EQ(reader.exitStatus, 0) << reader.out;
  auto writer = runChild("StoresSite7");
  EXPECT_EQ(writer.exitStatus, 0) << writer.out;
  EXPECT_EQ(ServiceConfig::siteID(), 7);
  EXPECT_TRUE(ServiceConfig::isNeverPopDialog());
}

TEST(ServiceConfigChild, DISABLED_ReadsWhatTheParentStored) {
  EXPECT_TRUE(ServiceConfig::isNeverPopDialog());
  EXPECT_EQ(ServiceConfig::siteID(), 42);
}

TEST(ServiceConfigChild, DISABLED_StoresSite7) { ServiceConfig::setSiteID(7); }
