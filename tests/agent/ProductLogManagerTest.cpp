#include "webLog/ProductLogManager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "UsageLogLib/UsageLogLib.h"
#include "fileUpload/FileUpload.h"
#include "foundation/Clock.h"
#include "support/RecordingExportObj.h"
#include "support/Subprocess.h"
#include "support/TestHome.h"
#include "support/TestSync.h"
#include "webLog/ReleaseWeblog.h"

namespace {

using foundation::ManualClock;
using testing_support::Counter;
using testing_support::Gate;
using testing_support::HomeTest;
using testing_support::readFile;
using testing_support::RecordingExportObj;
using testing_support::writeFile;

// The singleton guarantee holds at compile time: no other instance can be made, copied or freed.
static_assert(!std::is_default_constructible_v<ProductLogManager>);
static_assert(!std::is_copy_constructible_v<ProductLogManager>);
static_assert(!std::is_copy_assignable_v<ProductLogManager>);
static_assert(!std::is_destructible_v<ProductLogManager>);

using SentEvent = RecordingExportObj::SentEvent;

// What the fake upload functions saw and are to do.
struct FakeUpload {
  enum class Reply { Write, Replace, Null, FillWhole };
  std::vector<std::string> calls;
  MFileInfo info{};
  Reply reply = Reply::Write;
  std::string text = "42";
  int32_t status = 0;
  int32_t updateStatus = 0;
};
FakeUpload g_upload;
std::vector<ExportObj*> g_destroyed;
bool g_destroyedWhileInFlight = false;

void destroyFake(ExportObj* obj) {
  auto* fake = static_cast<RecordingExportObj*>(obj);
  std::lock_guard<std::mutex> guard(fake->mutex);
  g_destroyed.push_back(obj);
  g_destroyedWhileInFlight |= fake->inFlight > 0;
  fake->destroyed = true;
}

int32_t fakeUpdateServerAddr() {
  g_upload.calls.push_back("UpdateServerAddr");
  return g_upload.updateStatus;
}

int32_t fakeFileReport(const MFileInfo* info, char** reply) {
  g_upload.calls.push_back("FileReport");
  g_upload.info = *info;
  switch (g_upload.reply) {
    case FakeUpload::Reply::Write:
      std::strcpy(*reply, g_upload.text.c_str());
      break;
    case FakeUpload::Reply::Replace: {
      char* own = new char[g_upload.text.size() + 1];
      std::strcpy(own, g_upload.text.c_str());
      *reply = own;
      break;
    }
    case FakeUpload::Reply::Null:
      *reply = nullptr;
      break;
    case FakeUpload::Reply::FillWhole:
      std::memset(*reply, '9', 20);
      break;
  }
  return g_upload.status;
}

// Sets TZ for one test and restores it.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) _old = old;
    setenv("TZ", zone, 1);
  }
  ~ScopedTimeZone() {
    if (_old) {
      setenv("TZ", _old->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
  }

 private:
  std::optional<std::string> _old;
};

class ProductLogManagerTest : public HomeTest {
 protected:
  void SetUp() override {
    g_upload = FakeUpload{};
    g_destroyed.clear();
    g_destroyedWhileInFlight = false;
    previous = ProductLogManager::setLibrariesForTesting(fakeLibraries());
    ProductLogManager::rearmReadinessWaitForTesting();
    manager->setupDefault();
    manager->setLanguageID(0);
    manager->setProductVersion(std::nullopt);
  }
  void TearDown() override {
    ProductLogManager::setLibrariesForTesting(previous);  // after the queued sends are over
    ProductLogManager::rearmReadinessWaitForTesting();
    EXPECT_FALSE(fake.usedAfterDestroy);
    EXPECT_FALSE(g_destroyedWhileInFlight);
  }

  ProductLogManager::Libraries fakeLibraries() {
    return {&fake, &destroyFake, &fakeFileReport, &fakeUpdateServerAddr};
  }
  // As the agent sets the fields at launch (run mode, no stored site number).
  void setLaunchFields() {
    manager->setProductID(8);
    manager->setProductVersion("2.4.1");
    manager->setLanguageID(1033);
    manager->setSiteID(101);
  }
  std::string spoolFile(const char* name) const {
    return sandbox.inHome(std::string("Library/Application Support/Mendkit/UsageLog/") + name);
  }

  ManualClock clock;
  foundation::ScopedClock scopedClock{clock};
  RecordingExportObj fake;
  ProductLogManager* manager = KVLogManager;
  ProductLogManager::Libraries previous;
};

TEST_F(ProductLogManagerTest, TheSingletonIsSetBeforeMainWithTheLibrariesObject) {
  ASSERT_NE(KVLogManager, nullptr);
  EXPECT_EQ(ProductLogManager::defaultManager(), KVLogManager);
  std::vector<ProductLogManager*> seen(4);
  std::vector<std::thread> threads;
  for (auto& slot : seen)
    threads.emplace_back([&slot] { slot = ProductLogManager::defaultManager(); });
  for (auto& thread : threads) thread.join();
  for (auto* each : seen) EXPECT_EQ(each, KVLogManager);
  // What static initialisation installed: the statistics library's own object and functions.
  EXPECT_NE(previous.exportObj, nullptr);
  EXPECT_EQ(previous.destroyExportObj, &DestroyExportObj);
  EXPECT_EQ(previous.fileReport, &FileReport);
  EXPECT_EQ(previous.updateServerAddr, &UpdateServerAddr);
}

TEST_F(ProductLogManagerTest, SetupDefaultStoresTheDefaultsAndLeavesLanguageAndVersion) {
  manager->setProductID(1);
  manager->setOperationID(2);
  manager->setOperationRes(3);
  manager->setResultData("r");
  manager->setSiteID(4);
  manager->setActiveID(5);
  manager->setVersionID(6);
  manager->setRegEmail("e");
  manager->setLanguageID(1033);
  manager->setProductVersion("9.9");
  manager->setupDefault();
  EXPECT_EQ(manager->productID(), 90);
  EXPECT_EQ(manager->operationID(), 0);
  EXPECT_EQ(manager->operationRes(), 0);
  EXPECT_EQ(manager->resultData(), std::optional<std::string>(""));
  EXPECT_EQ(manager->siteID(), 101);
  EXPECT_EQ(manager->activeID(), 0);
  EXPECT_EQ(manager->versionID(), 0);
  EXPECT_EQ(manager->regEmail(), std::optional<std::string>(""));
  EXPECT_EQ(manager->languageID(), 1033);
  EXPECT_EQ(manager->productVersion(), std::optional<std::string>("9.9"));
}

TEST_F(ProductLogManagerTest, AnEventCarriesTheTenValuesInOrderWithEmptyTextsForUnsetOnes) {
  setLaunchFields();
  manager->setProductVersion(std::nullopt);
  EXPECT_EQ(manager->syncSendLog(10210), 0);
  auto sent = fake.sent();
  ASSERT_EQ(sent.size(), 1u);
  const SentEvent& event = sent[0];
  EXPECT_EQ(event.code, 10210);
  EXPECT_EQ(event.operationRes, 0);
  EXPECT_EQ(event.resultData, "");
  EXPECT_EQ(event.productID, 8);
  EXPECT_EQ(event.languageID, 1033);
  EXPECT_EQ(event.siteID, 101);
  EXPECT_EQ(event.productVersion, "");
  EXPECT_EQ(event.regEmail, "");
  EXPECT_EQ(event.activeID, 0);
  EXPECT_EQ(event.versionID, 0);
  EXPECT_FALSE(event.nullText) << "the library received a null text";

  manager->setProductVersion("");
  manager->setResultData(std::nullopt);
  manager->setRegEmail(std::nullopt);
  manager->syncSendLog(1);
  EXPECT_FALSE(fake.sent().at(1).nullText);
}

TEST_F(ProductLogManagerTest, EachFieldReachesItsOwnArgument) {
  manager->setOperationRes(11);
  manager->setResultData("result");
  manager->setProductID(12);
  manager->setLanguageID(13);
  manager->setSiteID(14);
  manager->setProductVersion("version");
  manager->setRegEmail("mail@example.com");
  manager->setActiveID(15);
  manager->setVersionID(16);
  manager->setOperationID(99);  // carried by no event
  fake.status = -7;
  EXPECT_EQ(manager->dealWelogMessage(10), -7);  // the library's status, unchanged
  auto event = fake.sent().at(0);
  EXPECT_EQ(event.code, 10);
  EXPECT_EQ(event.operationRes, 11);
  EXPECT_EQ(event.resultData, "result");
  EXPECT_EQ(event.productID, 12);
  EXPECT_EQ(event.languageID, 13);
  EXPECT_EQ(event.siteID, 14);
  EXPECT_EQ(event.productVersion, "version");
  EXPECT_EQ(event.regEmail, "mail@example.com");
  EXPECT_EQ(event.activeID, 15);
  EXPECT_EQ(event.versionID, 16);
}

// The readiness wait before the first event: QueryStatus at most three times with both values
// starting at 0, a 1-second sleep after each of the first two, stopping early once a value is set.
struct ReadinessCase {
  int readyOnCall;
  int expectedQueries;
  double expectedSleep;
  bool setsFirst = false;
};

class ProductLogReadinessTest : public ProductLogManagerTest,
                                public ::testing::WithParamInterface<ReadinessCase> {};

TEST_P(ProductLogReadinessTest, CountsQueriesAndSleepsAsTold) {
  fake.readyOnCall = GetParam().readyOnCall;
  fake.setsFirst = GetParam().setsFirst;
  double start = clock.uptime();
  manager->asyncSendLog(10210);
  manager->asyncSendLog(10212);
  ASSERT_TRUE(fake.finished.waitFor(2));
  EXPECT_EQ(fake.queried.value(), GetParam().expectedQueries);
  EXPECT_DOUBLE_EQ(clock.uptime() - start, GetParam().expectedSleep);
  EXPECT_EQ(fake.queryValues().front(), (std::pair<int64_t, int64_t>{0, 0}));
  auto sent = fake.sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_DOUBLE_EQ(sent[0].uptime - start, GetParam().expectedSleep);
  EXPECT_GE(sent[0].uptime - start, 1.0);
  EXPECT_LE(sent[0].uptime - start, 2.0);

  // Once per process: later sends neither query nor wait.
  EXPECT_EQ(manager->syncSendLog(3), 0);
  EXPECT_EQ(fake.queried.value(), GetParam().expectedQueries);
  EXPECT_DOUBLE_EQ(clock.uptime() - start, GetParam().expectedSleep);
}

INSTANTIATE_TEST_SUITE_P(Counts, ProductLogReadinessTest,
                         ::testing::Values(ReadinessCase{1, 1, 1.0}, ReadinessCase{2, 2, 2.0},
                                           ReadinessCase{3, 3, 2.0}, ReadinessCase{0, 3, 2.0},
                                           ReadinessCase{1, 1, 1.0, true},
                                           ReadinessCase{2, 2, 2.0, true}),
                         [](const auto& info) {
                           return "ReadyOnCall" + std::to_string(info.param.readyOnCall) +
                                  (info.param.setsFirst ? "_FirstValue" : "_SecondValue");
                         });

// A send that arrives while the first one is in the readiness wait waits for it to end.
TEST_F(ProductLogManagerTest, ConcurrentFirstSendersWaitForTheReadinessWait) {
  Gate queried;
  fake.onQuery = [&] { queried.waitOpen(); };
  manager->asyncSendLog(1);
  ASSERT_TRUE(fake.queried.waitFor(1));
  std::thread other([&] { EXPECT_EQ(manager->dealWelogMessage(2), 0); });
  // A sender that skipped the wait would have reached the library before all came to rest.
  EXPECT_TRUE(testing_support::waitUntilOtherThreadsSleep());
  EXPECT_EQ(fake.entered.value(), 0) << "a send went ahead during the readiness wait";
  queried.open();
  other.join();
  ASSERT_TRUE(fake.finished.waitFor(2));
  EXPECT_EQ(fake.queried.value(), 1);
  for (const auto& event : fake.sent()) EXPECT_DOUBLE_EQ(event.uptime, 1.0) << event.code;
}

TEST_F(ProductLogManagerTest, AsyncSendsReachTheLibraryInOrderOneAfterAnother) {
  Gate queued;
  fake.onSend = [&](int32_t code) {
    if (code != 1) return;
    // All six are queued: a queue that sent side by side would start another send now, and it
    // would be in the library before all came to rest.
    queued.waitOpen();
    EXPECT_TRUE(testing_support::waitUntilOtherThreadsSleep());
  };
  for (int code = 1; code <= 6; ++code) manager->asyncSendLog(code);
  queued.open();
  ASSERT_TRUE(fake.finished.waitFor(6, 60));
  auto sent = fake.sent();
  ASSERT_EQ(sent.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(sent[i].code, i + 1);
    EXPECT_NE(sent[i].thread, std::this_thread::get_id());
  }
  EXPECT_FALSE(fake.overlapped) << "a send started before the one before it returned";
}

TEST_F(ProductLogManagerTest, ASetterBeforeTheQueuedSendRunsChangesWhatItCarries) {
  Gate release;
  fake.onSend = [&](int32_t code) {
    if (code == 1) release.waitOpen();
  };
  manager->asyncSendLog(1);
  manager->asyncSendLog(2);
  manager->setSiteID(555);
  manager->setResultData("late");
  release.open();
  manager->syncSendLog(3);
  auto sent = fake.sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[1].code, 2);
  EXPECT_EQ(sent[1].siteID, 555);
  EXPECT_EQ(sent[1].resultData, "late");
}

TEST_F(ProductLogManagerTest, SyncSendWaitsForQueuedSendsThenSendsOnTheCallingThread) {
  Gate release;
  fake.onSend = [&](int32_t code) {
    if (code == 1) release.waitOpen();
  };
  fake.status = 5;
  manager->asyncSendLog(1);
  manager->asyncSendLog(2);
  std::thread opener([&] {
    if (fake.entered.waitFor(1)) release.open();
  });
  EXPECT_EQ(manager->syncSendLog(3), 5);
  opener.join();
  auto sent = fake.sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].code, 1);
  EXPECT_EQ(sent[1].code, 2);
  EXPECT_EQ(sent[2].code, 3);
  EXPECT_EQ(sent[2].thread, std::this_thread::get_id());
  std::lock_guard<std::mutex> guard(fake.mutex);
  EXPECT_EQ(fake.returned, (std::vector<int32_t>{1, 2, 3}));
}

TEST_F(ProductLogManagerTest, SyncSendWithNothingQueuedSendsAtOnce) {
  EXPECT_EQ(manager->syncSendLog(7), 0);
  auto sent = fake.sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].thread, std::this_thread::get_id());
}

TEST_F(ProductLogManagerTest, WithoutAnExportObjectEverySendFailsAndNothingIsQueried) {
  ProductLogManager::setLibrariesForTesting(
      {nullptr, &destroyFake, &fakeFileReport, &fakeUpdateServerAddr});
  EXPECT_EQ(manager->dealWelogMessage(1), -1);
  EXPECT_EQ(manager->syncSendLog(2), -1);
  EXPECT_EQ(manager->syncSendReportLog("log", "content", "id"), -1);
  manager->asyncSendLog(3);
  EXPECT_EQ(manager->syncSendLog(4), -1);  // after the queued send ran, unseen
  EXPECT_EQ(clock.slept(), 0.0);

  // Those sends did not use up the readiness wait: the first send that finds an object runs it.
  ProductLogManager::setLibrariesForTesting(fakeLibraries());
  EXPECT_EQ(fake.queried.value(), 0);
  EXPECT_EQ(manager->dealWelogMessage(5), 0);
  EXPECT_EQ(fake.queried.value(), 1);
  EXPECT_EQ(clock.slept(), 1.0);
  EXPECT_EQ(fake.sent().size(), 1u);
}

TEST_F(ProductLogManagerTest, AReportLogCarriesTheProductAndPassesTheUploadIDOn) {
  manager->setProductID(8);
  const char* uploadID = "U-123";
  fake.reportStatus = 9;
  EXPECT_EQ(manager->syncSendReportLog(std::nullopt, std::string("body"), uploadID), 9);
  EXPECT_EQ(manager->syncSendReportLog(std::string(""), std::string("x"), nullptr), 9);
  std::lock_guard<std::mutex> guard(fake.mutex);
  ASSERT_EQ(fake.reports.size(), 2u);
  EXPECT_EQ(fake.reports[0].productID, 8);
  EXPECT_EQ(fake.reports[0].reportLog, "");
  EXPECT_EQ(fake.reports[0].content, "body");
  EXPECT_EQ(fake.reports[0].uploadID, uploadID);  // the very pointer
  EXPECT_EQ(fake.reports[1].reportLog, "");
  EXPECT_EQ(fake.reports[1].uploadID, nullptr);
  EXPECT_TRUE(fake.queries.empty());
}

TEST_F(ProductLogManagerTest, AReportFileThatDoesNotExistCallsNeitherUploadFunction) {
  EXPECT_EQ(manager->syncSendReportFile(sandbox.inHome("missing.log"), 1), -1);
  EXPECT_EQ(manager->syncSendReportFile("", 1), -1);
  std::string withNul = sandbox.inHome("a.log");
  writeFile(withNul, "x");
  withNul += std::string("\0/etc/passwd", 12);
  EXPECT_EQ(manager->syncSendReportFile(withNul, 1), -1);
  EXPECT_TRUE(g_upload.calls.empty());
}

TEST_F(ProductLogManagerTest, TheRecordHoldsPathUploadNameAndTypeAtTheirOffsets) {
  ScopedTimeZone zone("XST-9");  // nine hours east of UTC, no tz database needed
  std::tm when{};
  when.tm_year = 2024 - 1900;
  when.tm_mon = 11;
  when.tm_mday = 30;  // a Monday: its week belongs to 2025
  when.tm_hour = 6;   // 15:34:56 local time, the same day
  when.tm_min = 34;
  when.tm_sec = 56;
  clock.setNow(foundation::Date{static_cast<double>(timegm(&when))});
  std::string path = sandbox.inHome("Logs/crash.log");
  writeFile(path, "report");

  EXPECT_EQ(manager->syncSendReportFile(path, 7), 42);
  EXPECT_EQ(g_upload.calls, (std::vector<std::string>{"UpdateServerAddr", "FileReport"}));
  const char* bytes = reinterpret_cast<const char*>(&g_upload.info);
  std::string name = "2025-12-30 15:34:56-crash.log";
  EXPECT_EQ(std::string(bytes + 0), path);
  EXPECT_EQ(std::string(bytes + 624), name);
  EXPECT_EQ(std::string(bytes + 721), "7");
  std::vector<bool> used(sizeof(MFileInfo), false);
  for (size_t i = 0; i < path.size(); ++i) used[i] = true;
  for (size_t i = 0; i < name.size(); ++i) used[624 + i] = true;
  used[721] = true;
  for (size_t i = 0; i < sizeof(MFileInfo); ++i) {
    if (!used[i]) {
      ASSERT_EQ(bytes[i], 0) << "byte " << i;
    }
  }
}

TEST_F(ProductLogManagerTest, TheUploadResultFollowsTheLibrarysReply) {
  std::string path = sandbox.inHome("a.log");
  writeFile(path, "x");
  g_upload.text = "  -17 uploads";
  EXPECT_EQ(manager->syncSendReportFile(path, 1), -17);
  g_upload.text = "none";
  EXPECT_EQ(manager->syncSendReportFile(path, 1), 0);
  g_upload.status = 3;
  g_upload.text = "5";
  EXPECT_EQ(manager->syncSendReportFile(path, 1), -1);  // a failed upload, whatever it replied
  g_upload.status = 0;
  g_upload.updateStatus = -5;  // its status is not looked at: the upload goes ahead
  g_upload.calls.clear();
  EXPECT_EQ(manager->syncSendReportFile(path, 1), 5);
  EXPECT_EQ(g_upload.calls, (std::vector<std::string>{"UpdateServerAddr", "FileReport"}));
}

// Whatever the library does with the reply pointer, each buffer is released exactly once and never
// read past its end (the sanitizer builds check the releases).
TEST_F(ProductLogManagerTest, TheReplyIsReleasedExactlyOnceWhateverTheLibraryDid) {
  std::string path = sandbox.inHome("a.log");
  writeFile(path, "x");
  g_upload.reply = FakeUpload::Reply::Replace;
  g_upload.text = "1234";
  EXPECT_EQ(manager->syncSendReportFile(path, 1), 1234);
  g_upload.reply = FakeUpload::Reply::Null;
  EXPECT_EQ(manager->syncSendReportFile(path, 1), 0);
  g_upload.reply = FakeUpload::Reply::FillWhole;  // 20 digits, no terminating NUL
  EXPECT_EQ(manager->syncSendReportFile(path, 1), 2147483647);
}

TEST_F(ProductLogManagerTest, TextsLongerThanTheirFieldsAreRefused) {
  // A path of 624 bytes or more: folders of 200 characters, three deep.
  std::string deep = sandbox.inHome(std::string(200, 'd') + "/" + std::string(200, 'e') + "/" +
                                    std::string(200, 'f') + "/report.log");
  writeFile(deep, "x");
  ASSERT_GE(deep.size(), 624u);
  EXPECT_EQ(manager->syncSendReportFile(deep, 1), -1);

  // The upload name is the 19-character date, a hyphen and the file name: 96 bytes fit, 97 do not.
  std::string fits = sandbox.inHome(std::string(76, 'n'));
  std::string tooLong = sandbox.inHome(std::string(77, 'n'));
  writeFile(fits, "x");
  writeFile(tooLong, "x");
  EXPECT_EQ(manager->syncSendReportFile(tooLong, 1), -1);
  EXPECT_TRUE(g_upload.calls.empty());
  EXPECT_EQ(manager->syncSendReportFile(fits, 1), 42);
  EXPECT_EQ(std::strlen(g_upload.info.uploadName), 96u);
}

TEST_F(ProductLogManagerTest, ReleasingTheExportObjectStopsEverySendAfterIt) {
  manager->syncSendLog(1);
  { ReleaseWeblog guard; }
  ASSERT_EQ(g_destroyed, (std::vector<ExportObj*>{&fake}));
  EXPECT_EQ(manager->dealWelogMessage(2), -1);
  EXPECT_EQ(manager->syncSendLog(3), -1);
  manager->asyncSendLog(4);
  EXPECT_EQ(manager->syncSendReportLog("a", "b", "c"), -1);
  EXPECT_EQ(manager->syncSendLog(5), -1);
  EXPECT_EQ(fake.sent().size(), 1u);
  { ReleaseWeblog again; }
  EXPECT_EQ(g_destroyed.size(), 1u) << "released twice";
}

TEST_F(ProductLogManagerTest, ReleaseWaitsForASendInProgress) {
  Gate release;
  fake.onSend = [&](int32_t) { release.waitOpen(); };
  std::thread sender([&] { manager->dealWelogMessage(1); });
  ASSERT_TRUE(fake.entered.waitFor(1));
  std::atomic<bool> released{false};
  std::thread releaser([&] {
    { ReleaseWeblog guard; }
    released = true;
  });
  // A release that did not wait would be over before all came to rest; one that waits is still
  // within its bound (a few seconds) then.
  EXPECT_TRUE(testing_support::waitUntilOtherThreadsSleep());
  EXPECT_FALSE(released);
  release.open();
  sender.join();
  releaser.join();
  EXPECT_TRUE(released);
  EXPECT_EQ(g_destroyed.size(), 1u);
  // TearDown checks that the object was not released while the send was in it.
}

TEST_F(ProductLogManagerTest, TheRealLibrariesWriteIntoTheTemporaryHome) {
  ProductLogManager::setLibrariesForTesting(previous);
  setLaunchFields();
  manager->asyncSendLog(10210);
  manager->asyncSendLog(10212);
  EXPECT_EQ(manager->syncSendLog(10214), 0);
  EXPECT_EQ(clock.slept(), 1.0);  // the library is ready at the first query

  std::istringstream in(readFile(spoolFile("events.jsonl")).value_or(""));
  std::vector<nlohmann::ordered_json> events;
  for (std::string line; std::getline(in, line);)
    events.push_back(nlohmann::ordered_json::parse(line));
  ASSERT_EQ(events.size(), 3u);
  int32_t codes[] = {10210, 10212, 10214};
  for (size_t i = 0; i < events.size(); ++i) {
    auto& event = events[i];
    std::vector<std::string> keys;
    for (const auto& item : event.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"event", "operationRes", "resultData", "productID",
                                              "languageID", "siteID", "productVersion", "regEmail",
                                              "activeID", "versionID", "time"}));
    EXPECT_EQ(event["event"], codes[i]);
    EXPECT_EQ(event["operationRes"], 0);
    EXPECT_EQ(event["resultData"], "");
    EXPECT_EQ(event["productID"], 8);
    EXPECT_EQ(event["languageID"], 1033);
    EXPECT_EQ(event["siteID"], 101);
    EXPECT_EQ(event["productVersion"], "2.4.1");
    EXPECT_EQ(event["regEmail"], "");
    EXPECT_EQ(event["activeID"], 0);
    EXPECT_EQ(event["versionID"], 0);
  }

  EXPECT_EQ(manager->syncSendReportLog("crash", "it broke", "U-1"), 0);
  auto reports = readFile(spoolFile("reports.jsonl")).value_or("");
  EXPECT_NE(reports.find("\"content\":\"it broke\""), std::string::npos) << reports;

  std::string report = sandbox.inHome("Logs/report.txt");
  writeFile(report, "contents");
  EXPECT_EQ(manager->syncSendReportFile(report, 2), 1);
  EXPECT_EQ(manager->syncSendReportFile(report, 2), 2);
  int copies = 0;
  for (const auto& entry : std::filesystem::directory_iterator(spoolFile("uploads"))) {
    EXPECT_TRUE(entry.path().filename().string().ends_with("-report.txt"));
    EXPECT_EQ(readFile(entry.path().string()), "contents");
    ++copies;
  }
  EXPECT_GE(copies, 1);  // two uploads in the same second share a name
}

TEST_F(ProductLogManagerTest, AnEventTheSpoolCannotTakeIsAFailedSend) {
  ProductLogManager::setLibrariesForTesting(previous);
  std::filesystem::create_directories(
      std::filesystem::path(spoolFile("events.jsonl")).parent_path());
  ASSERT_EQ(mkfifo(spoolFile("events.jsonl").c_str(), 0600), 0);
  EXPECT_LT(manager->syncSendLog(10214), 0);
}

// The agent process exits cleanly (status 0, so no sanitizer report either) with sends queued and
// the first one in its readiness wait, and nothing uses the export object after its release.
class WeblogExitTest : public HomeTest,
                       public ::testing::WithParamInterface<std::pair<const char*, const char*>> {
 protected:
  testing_support::ChildResult run() {
    return testing_support::runChild({WEBLOG_EXIT_HELPER, GetParam().first, GetParam().second},
                                     {.output = testing_support::ChildOutput::Interleaved}, 60);
  }
};

TEST_P(WeblogExitTest, ExitsCleanlyWithSendsQueued) {
  auto result = run();
  ASSERT_TRUE(result.finished) << result.out;
  EXPECT_TRUE(result.exited) << "signal " << result.signal << "\n" << result.out;
  EXPECT_EQ(result.exitStatus, 0) << result.out;
  std::string mode = GetParam().first;
  EXPECT_NE(result.out.find("ready " + mode), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find("still"), std::string::npos) << "exit waited out a bound\n"
                                                         << result.out;
  if (mode == "fake") {
    EXPECT_EQ(result.out.find("USED AFTER DESTROY"), std::string::npos) << result.out;
    size_t destroyed = result.out.find("destroyed");
    ASSERT_NE(destroyed, std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("send", destroyed), std::string::npos) << result.out;
    // The send that was running at exit was finished, not cut off.
    EXPECT_NE(result.out.find("send 1"), std::string::npos) << result.out;
  } else {
    std::istringstream in(
        readFile(sandbox.inHome("Library/Application Support/Mendkit/UsageLog/events.jsonl"))
            .value_or(""));
    int count = 0;
    for (std::string line; std::getline(in, line); ++count) {
      auto event = nlohmann::ordered_json::parse(line);  // a torn line fails the test
      EXPECT_EQ(event["productID"], 8);
    }
    // The send running at exit was finished; the queued ones were dropped.
    EXPECT_EQ(count, 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, WeblogExitTest,
                         ::testing::Values(std::pair{"fake", "return"}, std::pair{"fake", "exit"},
                                           std::pair{"real", "return"}, std::pair{"real", "exit"}),
                         [](const auto& info) {
                           return std::string(info.param.first) + "_" + info.param.second;
                         });

}  // namespace
