#include "foundation/Clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "foundation/Calendar.h"
#include "foundation/Log.h"

using namespace foundation;

TEST(ManualClock, SleepAdvancesTimeAtOnce) {
  ManualClock clock(Date{1000.0});
  ScopedClock installed(clock);
  Clock::current().sleep(TimeInterval::seconds(5));
  EXPECT_DOUBLE_EQ(Date::now().timeIntervalSince1970, 1005.0);
  EXPECT_DOUBLE_EQ(clock.uptime(), 5.0);
  EXPECT_DOUBLE_EQ(clock.slept(), 5.0);
}

TEST(ManualClock, UninstallingRestoresTheSystemClock) {
  {
    ManualClock clock(Date{1000.0});
    ScopedClock installed(clock);
    EXPECT_EQ(&Clock::current(), &clock);
  }
  EXPECT_GT(Date::now().timeIntervalSince1970, 1.6e9);
}

TEST(ManualClock, WaiterWakesOnlyWhenTimeReachesItsDeadline) {
  ManualClock clock;
  foundation::Mutex mutex;
  bool done = false;
  const double deadline = clock.uptime() + 10;
  std::thread waiter([&] {
    foundation::MutexLock lock(mutex);
    while (clock.uptime() < deadline) clock.waitUntil(lock, deadline);
    done = true;
  });
  clock.advance(4);
  {
    foundation::MutexLock guard(mutex);
    EXPECT_FALSE(done);
  }
  clock.advance(6);
  waiter.join();
  EXPECT_TRUE(done);
}

TEST(ManualClock, NotifyWakesAWaiterWithAFarDeadline) {
  ManualClock clock;
  foundation::Mutex mutex;
  bool stop = false;
  std::thread waiter([&] {
    foundation::MutexLock lock(mutex);
    while (!stop) clock.waitUntil(lock, 1e12);
  });
  {
    foundation::MutexLock guard(mutex);
    stop = true;
  }
  clock.notifyWaiters();
  waiter.join();
  SUCCEED();
}

class TimeZoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    if (tz) _saved = tz;
    _had = tz != nullptr;
  }
  void TearDown() override {
    if (_had) {
      setenv("TZ", _saved.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
  }
  std::string _saved;
  bool _had = false;
};

TEST_F(TimeZoneTest, CalendarComponentsFollowTZ) {
  // 2026-03-05 23:30:00 UTC
  Date date{1772753400.0};
  setenv("TZ", "UTC", 1);
  auto utc = Calendar::currentCalendar().components(date);
  EXPECT_EQ(utc.year, 2026);
  EXPECT_EQ(utc.month, 3);
  EXPECT_EQ(utc.day, 5);
  EXPECT_EQ(utc.hour, 23);
  setenv("TZ", "Asia/Tokyo", 1);  // +09:00: already the next day
  auto tokyo = Calendar::currentCalendar().components(date);
  EXPECT_EQ(tokyo.day, 6);
  EXPECT_EQ(tokyo.hour, 8);
}

namespace {
// A date with its weekday (1 = Sunday), as the calendar gives it.
DateComponents day(int year, int month, int dayOfMonth, int weekday) {
  return DateComponents{year, month, dayOfMonth, 12, 0, 0, weekday};
}
int weekYear(const DateComponents& parts, int firstWeekday, int minimumDays) {
  return Calendar::weekOfYearYearWithRules(parts, Calendar::WeekRules{firstWeekday, minimumDays});
}
}  // namespace

TEST(WeekNumberingYear, IsoRulesMondayAndFourDays) {
  EXPECT_EQ(weekYear(day(2027, 1, 1, 6), 2, 4), 2026) << "Friday: ISO week 53 of 2026";
  EXPECT_EQ(weekYear(day(2027, 1, 4, 2), 2, 4), 2027);
  EXPECT_EQ(weekYear(day(2024, 12, 29, 1), 2, 4), 2024);
  EXPECT_EQ(weekYear(day(2024, 12, 30, 2), 2, 4), 2025) << "Monday of week 1 of 2025";
  EXPECT_EQ(weekYear(day(2021, 1, 3, 1), 2, 4), 2020);
  EXPECT_EQ(weekYear(day(2020, 12, 31, 5), 2, 4), 2020) << "leap year: week 53";
  EXPECT_EQ(weekYear(day(2026, 6, 15, 2), 2, 4), 2026);
}

TEST(WeekNumberingYear, SundayWeeksWithOneOrFourDays) {
  // Weeks from Sunday; the week holding 1 January is the first.
  EXPECT_EQ(weekYear(day(2026, 12, 26, 7), 1, 1), 2026);
  EXPECT_EQ(weekYear(day(2026, 12, 27, 1), 1, 1), 2027);
  EXPECT_EQ(weekYear(day(2024, 12, 29, 1), 1, 1), 2025);
  // Weeks from Sunday with four days of the new year.
  EXPECT_EQ(weekYear(day(2024, 12, 29, 1), 1, 4), 2025);
  EXPECT_EQ(weekYear(day(2024, 12, 28, 7), 1, 4), 2024);
  EXPECT_EQ(weekYear(day(2027, 1, 2, 7), 1, 4), 2026) << "only two days of 2027 in that week";
  EXPECT_EQ(weekYear(day(2027, 1, 3, 1), 1, 4), 2027);
  // A whole week required.
  EXPECT_EQ(weekYear(day(2027, 1, 3, 1), 2, 7), 2026);
  EXPECT_EQ(weekYear(day(2027, 1, 4, 2), 2, 7), 2027);
}

TEST_F(TimeZoneTest, WeekNumberingYearFollowsTheLocalesWeekRules) {
  const char* saved = std::getenv("LC_ALL");
  std::string savedValue = saved ? saved : "";
  setenv("LC_ALL", "C", 1);
  Calendar::WeekRules rules = Calendar::localeWeekRules();
  EXPECT_EQ(rules.firstWeekday, 1) << "the C locale's weeks start on Sunday";
  EXPECT_EQ(rules.minimumDaysInFirstWeek, 4);
  setenv("TZ", "UTC", 1);
  // Sunday 2024-12-29 starts a week with four days of 2025.
  EXPECT_EQ(Calendar::currentCalendar().weekOfYearYear(Date{1735430400.0}), 2025);
  EXPECT_EQ(Calendar::currentCalendar().weekOfYearYear(Date{1735344000.0}), 2024);
  setenv("LC_ALL", "no_SUCH.locale", 1);
  EXPECT_EQ(Calendar::localeWeekRules().firstWeekday, 1) << "an unknown locale reads as C";
  if (saved) {
    setenv("LC_ALL", savedValue.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
}

TEST_F(TimeZoneTest, LogLineHasTheSystemLogShape) {
  setenv("TZ", "UTC", 1);
  std::string line = formatLogLine(1772753400.9876, "MendkitAgent", 42, 43, "hello");
  EXPECT_EQ(line, "2026-03-05 23:30:00.987 MendkitAgent[42:43] hello\n");
  EXPECT_EQ(formatLogLine(0, "A", 1, 2, "ends\n"), "1970-01-01 00:00:00.000 A[1:2] ends\n");
}
