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
  Clock::current().sleep(5);
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
  std::mutex mutex;
  bool done = false;
  const double deadline = clock.uptime() + 10;
  std::thread waiter([&] {
    std::unique_lock<std::mutex> lock(mutex);
    while (clock.uptime() < deadline) clock.waitUntil(lock, deadline);
    done = true;
  });
  clock.advance(4);
  {
    std::lock_guard<std::mutex> guard(mutex);
    EXPECT_FALSE(done);
  }
  clock.advance(6);
  waiter.join();
  EXPECT_TRUE(done);
}

TEST(ManualClock, NotifyWakesAWaiterWithAFarDeadline) {
  ManualClock clock;
  std::mutex mutex;
  bool stop = false;
  std::thread waiter([&] {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stop) clock.waitUntil(lock, 1e12);
  });
  {
    std::lock_guard<std::mutex> guard(mutex);
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

TEST_F(TimeZoneTest, WeekNumberingYearDiffersAtTheTurnOfTheYear) {
  setenv("TZ", "UTC", 1);
  // 2026-12-31 is a Thursday: ISO week 53 of 2026. 2027-01-01 (Friday) still belongs to it.
  EXPECT_EQ(Calendar::currentCalendar().weekOfYearYear(Date{1798761600.0}), 2026);
  // 2024-12-30 (Monday) is in ISO week 1 of 2025.
  EXPECT_EQ(Calendar::currentCalendar().weekOfYearYear(Date{1735516800.0}), 2025);
}

TEST_F(TimeZoneTest, LogLineHasTheSystemLogShape) {
  setenv("TZ", "UTC", 1);
  std::string line = formatLogLine(1772753400.9876, "MendkitAgent", 42, 43, "hello");
  EXPECT_EQ(line, "2026-03-05 23:30:00.987 MendkitAgent[42:43] hello\n");
  EXPECT_EQ(formatLogLine(0, "A", 1, 2, "ends\n"), "1970-01-01 00:00:00.000 A[1:2] ends\n");
}
