#include "UsageLogLib/UsageLogLib.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/Subprocess.h"
#include "support/TestHome.h"

namespace {

using nlohmann::ordered_json;
using testing_support::ChildOutput;
using testing_support::ChildResult;
using testing_support::HomeTest;
using testing_support::readFile;
using testing_support::writeFile;

constexpr const char* kSpool = "Library/Application Support/Mendkit/UsageLog";

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

std::vector<std::string> keys(const ordered_json& object) {
  std::vector<std::string> result;
  for (const auto& item : object.items()) result.push_back(item.key());
  return result;
}

class UsageLogLibTest : public HomeTest {
 protected:
  void SetUp() override {
    obj = CreateExportObj();
    ASSERT_NE(obj, nullptr);
  }
  void TearDown() override { DestroyExportObj(obj); }

  std::string spoolFile(const char* name) const {
    return sandbox.inHome(std::string(kSpool) + "/" + name);
  }
  std::vector<ordered_json> events() const {
    std::vector<ordered_json> result;
    for (const auto& line : lines(readFile(spoolFile("events.jsonl")).value_or(""))) {
      result.push_back(ordered_json::parse(line));
    }
    return result;
  }

  ExportObj* obj = nullptr;
};

TEST_F(UsageLogLibTest, CreatingTheObjectTouchesNoFile) {
  ExportObj* another = CreateExportObj();
  ASSERT_NE(another, nullptr);
  DestroyExportObj(another);
  DestroyExportObj(nullptr);
  EXPECT_TRUE(std::filesystem::is_empty(sandbox.home()));
}

TEST_F(UsageLogLibTest, QueryStatusPreparesTheSpoolAndSetsBothValues) {
  int64_t ready = 0, accepting = 0;
  EXPECT_EQ(obj->QueryStatus(&ready, &accepting), 0);
  EXPECT_NE(ready, 0);
  EXPECT_NE(accepting, 0);
  EXPECT_TRUE(std::filesystem::is_directory(sandbox.inHome(kSpool)));
  EXPECT_EQ(obj->QueryStatus(nullptr, nullptr), 0);
}

TEST_F(UsageLogLibTest, QueryStatusLeavesTheValuesWhenTheSpoolCannotBeMade) {
  writeFile(sandbox.inHome("Library"), "a file where the folder should be");
  int64_t ready = 0, accepting = 0;
  EXPECT_LT(obj->QueryStatus(&ready, &accepting), 0);
  EXPECT_EQ(ready, 0);
  EXPECT_EQ(accepting, 0);
}

TEST_F(UsageLogLibTest, AnEventIsOneLineWithTheTenValuesInOrderAndTheTime) {
  auto before = std::chrono::system_clock::now() - std::chrono::seconds(1);
  EXPECT_EQ(obj->SendLogMessage(10210, 3, "result", 8, 1033, 101, "1.2.3", "a@b.c", 4, 5), 0);
  auto all = events();
  ASSERT_EQ(all.size(), 1u);
  const ordered_json& event = all[0];
  EXPECT_EQ(keys(event),
            (std::vector<std::string>{"event", "operationRes", "resultData", "productID",
                                      "languageID", "siteID", "productVersion", "regEmail",
                                      "activeID", "versionID", "time"}));
  EXPECT_EQ(event["event"], 10210);
  EXPECT_EQ(event["operationRes"], 3);
  EXPECT_EQ(event["resultData"], "result");
  EXPECT_EQ(event["productID"], 8);
  EXPECT_EQ(event["languageID"], 1033);
  EXPECT_EQ(event["siteID"], 101);
  EXPECT_EQ(event["productVersion"], "1.2.3");
  EXPECT_EQ(event["regEmail"], "a@b.c");
  EXPECT_EQ(event["activeID"], 4);
  EXPECT_EQ(event["versionID"], 5);

  std::string time = event["time"];
  std::smatch parts;
  ASSERT_TRUE(std::regex_match(
      time, parts, std::regex(R"((\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)\.(\d{3})Z)")))
      << time;
  std::tm utc{};
  utc.tm_year = std::stoi(parts[1]) - 1900;
  utc.tm_mon = std::stoi(parts[2]) - 1;
  utc.tm_mday = std::stoi(parts[3]);
  utc.tm_hour = std::stoi(parts[4]);
  utc.tm_min = std::stoi(parts[5]);
  utc.tm_sec = std::stoi(parts[6]);
  auto written = std::chrono::system_clock::from_time_t(timegm(&utc));
  EXPECT_GE(written, before);
  EXPECT_LE(written, std::chrono::system_clock::now() + std::chrono::seconds(1));
}

TEST_F(UsageLogLibTest, EventFilesAreTheUsersOwn) {
  ASSERT_EQ(obj->SendLogMessage(1, 0, "", 0, 0, 0, "", "", 0, 0), 0);
  struct stat status {};
  ASSERT_EQ(stat(spoolFile("events.jsonl").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST_F(UsageLogLibTest, NullTextsAreWrittenAsEmptyTexts) {
  EXPECT_EQ(obj->SendLogMessage(1, 0, nullptr, 0, 0, 0, nullptr, nullptr, 0, 0), 0);
  auto all = events();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0]["resultData"], "");
  EXPECT_EQ(all[0]["productVersion"], "");
  EXPECT_EQ(all[0]["regEmail"], "");
}

TEST_F(UsageLogLibTest, AwkwardTextsStayOnOneValidLine) {
  const char* tricky = "line one\nline \"two\"\t\\ end\x01";
  const char* invalidUtf8 = "caf\xc3\x28 \xff";
  EXPECT_EQ(obj->SendLogMessage(1, 0, tricky, 0, 0, 0, invalidUtf8, "\xe2\x82\xac", 0, 0), 0);
  EXPECT_EQ(obj->SendLogMessage(2, 0, "", 0, 0, 0, "", "", 0, 0), 0);
  auto all = events();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0]["resultData"], tricky);
  EXPECT_EQ(all[0]["regEmail"], "\xe2\x82\xac");
  std::string replaced = all[0]["productVersion"];
  EXPECT_NE(replaced.find("caf"), std::string::npos);
  EXPECT_NE(replaced.find("\xef\xbf\xbd"), std::string::npos);  // U+FFFD for the bad bytes
  EXPECT_EQ(all[1]["event"], 2);
}

TEST_F(UsageLogLibTest, AFailedSendReportsANegativeStatusAndWritesNothing) {
  writeFile(sandbox.inHome("Library/Application Support/Mendkit"), "not a folder");
  EXPECT_LT(obj->SendLogMessage(1, 0, "", 0, 0, 0, "", "", 0, 0), 0);
  EXPECT_LT(obj->SendReportLog(1, "", "", ""), 0);
}

// A FIFO in place of a spool file would swallow the event (or block once full, and block every
// reader); a symbolic link would send it elsewhere. Both are refused at once as failures.
TEST_F(UsageLogLibTest, ASpoolFileThatIsNoPlainFileIsRefusedWithoutBlocking) {
  ASSERT_EQ(obj->QueryStatus(nullptr, nullptr), 0);
  ASSERT_EQ(mkfifo(spoolFile("events.jsonl").c_str(), 0600), 0);
  ASSERT_LT(obj->SendLogMessage(1, 0, "", 0, 0, 0, "", "", 0, 0), 0) << "the event was lost";
  EXPECT_LT(obj->CountLogMessages(), 0);
  EXPECT_LT(obj->Flush(), 0);

  const std::string elsewhere = sandbox.inHome("elsewhere.jsonl");
  ASSERT_EQ(symlink(elsewhere.c_str(), spoolFile("reports.jsonl").c_str()), 0);
  EXPECT_LT(obj->SendReportLog(1, "", "", ""), 0);
  EXPECT_FALSE(std::filesystem::exists(elsewhere));
}

TEST_F(UsageLogLibTest, ATornLastLineIsEndedBeforeTheNextEvent) {
  writeFile(spoolFile("events.jsonl"), "{\"event\":1}\n{\"event\":2,\"resu");
  ASSERT_EQ(obj->SendLogMessage(3, 0, "", 0, 0, 0, "", "", 0, 0), 0);
  auto all = lines(readFile(spoolFile("events.jsonl")).value_or(""));
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[1], "{\"event\":2,\"resu");
  EXPECT_EQ(ordered_json::parse(all[2])["event"], 3);
}

TEST_F(UsageLogLibTest, AReportLogIsOneLineInTheReportsFile) {
  EXPECT_EQ(obj->SendReportLog(8, "crash", "it \"broke\"", "U-17"), 0);
  EXPECT_EQ(obj->SendReportLog(8, nullptr, nullptr, nullptr), 0);
  auto all = lines(readFile(spoolFile("reports.jsonl")).value_or(""));
  ASSERT_EQ(all.size(), 2u);
  auto report = ordered_json::parse(all[0]);
  EXPECT_EQ(keys(report),
            (std::vector<std::string>{"productID", "reportLog", "content", "uploadID", "time"}));
  EXPECT_EQ(report["productID"], 8);
  EXPECT_EQ(report["reportLog"], "crash");
  EXPECT_EQ(report["content"], "it \"broke\"");
  EXPECT_EQ(report["uploadID"], "U-17");
  EXPECT_EQ(ordered_json::parse(all[1])["uploadID"], "");
  EXPECT_FALSE(std::filesystem::exists(spoolFile("events.jsonl")));
}

TEST_F(UsageLogLibTest, TheOtherOperationsReportOnTheSpool) {
  EXPECT_EQ(obj->GetVersion(), 0x010000);
  std::string expected = sandbox.inHome(kSpool);
  char buffer[1024] = {};
  EXPECT_EQ(obj->GetSpoolDirectory(buffer, sizeof buffer), static_cast<int32_t>(expected.size()));
  EXPECT_EQ(std::string(buffer), expected);
  char small[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
  EXPECT_EQ(obj->GetSpoolDirectory(small, sizeof small), static_cast<int32_t>(expected.size()));
  EXPECT_EQ(small[0], 'x');  // nothing written when the path does not fit

  EXPECT_EQ(obj->CountLogMessages(), 0);
  EXPECT_EQ(obj->Flush(), 0);
  for (int i = 0; i < 3; ++i) obj->SendLogMessage(i, 0, "", 0, 0, 0, "", "", 0, 0);
  obj->SendReportLog(1, "", "", "");
  EXPECT_EQ(obj->CountLogMessages(), 3);
  EXPECT_EQ(obj->CountReportLogs(), 1);
  EXPECT_EQ(obj->Flush(), 0);
}

// Callers of the shipped library reach the operations by their slots in the table of virtual
// operations: SendLogMessage first, QueryStatus second, SendReportLog eighth.
TEST_F(UsageLogLibTest, TheOperationsSitInTheirSlots) {
  using SendLog = int32_t (*)(ExportObj*, int32_t, int32_t, const char*, int32_t, int32_t, int32_t,
                              const char*, const char*, int32_t, int32_t);
  using Query = int32_t (*)(ExportObj*, int64_t*, int64_t*);
  using SendReport = int32_t (*)(ExportObj*, int32_t, const char*, const char*, const char*);
  void** table = *reinterpret_cast<void***>(obj);

  int64_t ready = 0, accepting = 0;
  EXPECT_EQ(reinterpret_cast<Query>(table[1])(obj, &ready, &accepting), 0);
  EXPECT_NE(ready, 0);
  EXPECT_EQ(reinterpret_cast<SendLog>(table[0])(obj, 77, 0, "slot", 1, 2, 3, "", "", 0, 0), 0);
  EXPECT_EQ(reinterpret_cast<SendReport>(table[7])(obj, 9, "by", "slot", "eight"), 0);
  auto all = events();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0]["event"], 77);
  EXPECT_EQ(all[0]["resultData"], "slot");
  auto reports = lines(readFile(spoolFile("reports.jsonl")).value_or(""));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(ordered_json::parse(reports[0])["uploadID"], "eight");
}

// Two processes appending large events at once: every line is one whole event, and each
// process's events keep their order.
TEST_F(UsageLogLibTest, AppendsFromTwoProcessesNeverInterleave) {
  constexpr int kEach = 200;
  auto writer = [](const char* name) {
    return testing_support::runChild({USAGE_LOG_WRITER, name, std::to_string(kEach)},
                                     {.output = ChildOutput::Interleaved}, 120);
  };
  std::vector<ChildResult> results(2);
  std::thread second([&] { results[1] = writer("B"); });
  results[0] = writer("A");
  second.join();
  for (const auto& result : results) {
    ASSERT_TRUE(result.finished && result.exited && result.exitStatus == 0) << result.out;
  }
  auto all = lines(readFile(spoolFile("events.jsonl")).value_or(""));
  ASSERT_EQ(all.size(), 2u * kEach);
  std::map<std::string, int> next{{"A", 0}, {"B", 0}};
  for (const auto& line : all) {
    auto event = ordered_json::parse(line);  // throws, failing the test, on a torn line
    std::string writer = event["regEmail"];
    ASSERT_TRUE(next.count(writer)) << writer;
    EXPECT_EQ(event["event"], next[writer]++);
    EXPECT_EQ(event["resultData"].get<std::string>().size(), 100000u);
  }
  EXPECT_EQ(next["A"], kEach);
  EXPECT_EQ(next["B"], kEach);
}

}  // namespace
