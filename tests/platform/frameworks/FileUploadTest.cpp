#include "fileUpload/FileUpload.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/TestHome.h"

namespace {

using nlohmann::ordered_json;
using testing_support::HomeTest;
using testing_support::readFile;
using testing_support::writeFile;

constexpr const char* kSpool = "Library/Application Support/Mendkit/UsageLog";

MFileInfo record(const std::string& path, const std::string& name, const std::string& type) {
  MFileInfo info;
  std::memset(&info, 0, sizeof info);
  std::strncpy(info.filePath, path.c_str(), sizeof info.filePath - 1);
  std::strncpy(info.uploadName, name.c_str(), sizeof info.uploadName - 1);
  std::strncpy(info.fileType, type.c_str(), sizeof info.fileType - 1);
  return info;
}

class FileUploadTest : public HomeTest {
 protected:
  std::string spool(const std::string& relative) const {
    return sandbox.inHome(std::string(kSpool) + "/" + relative);
  }
  std::vector<ordered_json> index() const {
    std::vector<ordered_json> result;
    std::istringstream in(readFile(spool("uploads.jsonl")).value_or(""));
    for (std::string line; std::getline(in, line);) result.push_back(ordered_json::parse(line));
    return result;
  }
  // Calls FileReport with a fresh 20-byte reply buffer; the reply text lands in `replyText`.
  int32_t report(const MFileInfo& info) {
    char buffer[20] = {};
    char* reply = buffer;
    int32_t status = FileReport(&info, &reply);
    EXPECT_EQ(reply, buffer) << "the library replaced the caller's buffer";
    EXPECT_NE(std::memchr(buffer, '\0', sizeof buffer), nullptr);
    replyText = buffer;
    return status;
  }
  std::string replyText;
};

TEST_F(FileUploadTest, UpdateServerAddrMakesTheUploadsFolder) {
  EXPECT_EQ(UpdateServerAddr(), 0);
  EXPECT_TRUE(std::filesystem::is_directory(spool("uploads")));
  EXPECT_EQ(UpdateServerAddr(), 0);
}

TEST_F(FileUploadTest, UpdateServerAddrFailsWhenTheSpoolCannotBeMade) {
  writeFile(sandbox.inHome("Library"), "a file");
  EXPECT_LT(UpdateServerAddr(), 0);
}

TEST_F(FileUploadTest, CopiesTheFileUnderItsUploadNameAndNumbersEachUpload) {
  std::string source = sandbox.inHome("Logs/report.log");
  writeFile(source, "first contents");
  MFileInfo info = record(source, "2025-12-30 10:00:00-report.log", "3");
  ASSERT_EQ(report(info), 0);
  EXPECT_EQ(replyText, "1");
  EXPECT_EQ(readFile(spool("uploads/2025-12-30 10:00:00-report.log")), "first contents");

  writeFile(source, "second contents");
  info = record(source, "2025-12-30 10:00:01-report.log", "4");
  ASSERT_EQ(report(info), 0);
  EXPECT_EQ(replyText, "2");
  EXPECT_EQ(readFile(spool("uploads/2025-12-30 10:00:01-report.log")), "second contents");
  EXPECT_EQ(readFile(source), "second contents");  // the original stays

  auto all = index();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0]["uploadNumber"], 1);
  EXPECT_EQ(all[0]["uploadName"], "2025-12-30 10:00:00-report.log");
  EXPECT_EQ(all[0]["filePath"], source);
  EXPECT_EQ(all[0]["fileType"], "3");
  EXPECT_EQ(all[1]["uploadNumber"], 2);
  EXPECT_EQ(all[1]["fileType"], "4");
}

TEST_F(FileUploadTest, AnUploadOfTheSameNameReplacesTheEarlierCopy) {
  std::string source = sandbox.inHome("a.log");
  writeFile(source, "old");
  ASSERT_EQ(report(record(source, "same", "1")), 0);
  writeFile(source, "new");
  ASSERT_EQ(report(record(source, "same", "1")), 0);
  EXPECT_EQ(readFile(spool("uploads/same")), "new");
  EXPECT_EQ(replyText, "2");
  // No temporary copies are left behind.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(spool("uploads"))) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

TEST_F(FileUploadTest, AMissingFileIsAnErrorAndLeavesTheReplyAlone) {
  MFileInfo info = record(sandbox.inHome("nowhere.log"), "name", "1");
  EXPECT_EQ(report(info), -ENOENT);
  EXPECT_EQ(replyText, "");
  EXPECT_TRUE(index().empty());
}

TEST_F(FileUploadTest, OnlyRegularFilesAreUploaded) {
  std::filesystem::create_directories(sandbox.inHome("folder"));
  EXPECT_EQ(report(record(sandbox.inHome("folder"), "name", "1")), -EISDIR);
  std::string fifo = sandbox.inHome("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(report(record(fifo, "name", "1")), -EINVAL);  // and does not block on it
  EXPECT_TRUE(index().empty());
}

TEST_F(FileUploadTest, RefusesRecordsItCannotTrust) {
  std::string source = sandbox.inHome("a.log");
  writeFile(source, "x");
  EXPECT_EQ(FileReport(nullptr, nullptr), -EINVAL);
  EXPECT_EQ(report(record("", "name", "1")), -EINVAL);
  EXPECT_EQ(report(record(source, "", "1")), -EINVAL);
  EXPECT_EQ(report(record(source, "name", "")), -EINVAL);
  for (const char* name : {".", "..", "../escaped", "a/b", "/abs"}) {
    EXPECT_EQ(report(record(source, name, "1")), -EINVAL) << name;
  }
  MFileInfo unterminated = record(source, "name", "1");
  std::memset(unterminated.uploadName, 'n', sizeof unterminated.uploadName);
  EXPECT_EQ(report(unterminated), -EINVAL);
  unterminated = record(source, "name", "1");
  std::memset(unterminated.fileType, '7', sizeof unterminated.fileType);
  EXPECT_EQ(report(unterminated), -EINVAL);
  EXPECT_TRUE(index().empty());
  EXPECT_FALSE(
      std::filesystem::exists(sandbox.inHome("Library/Application Support/Mendkit/escaped")));
}

TEST_F(FileUploadTest, AcceptsFieldsThatFillTheirWholeRoom) {
  std::string name(sizeof(MFileInfo::uploadName) - 1, 'n');
  std::string source = sandbox.inHome("a.log");
  writeFile(source, "x");
  MFileInfo info = record(source, name, std::string(31, '9'));
  ASSERT_EQ(report(info), 0);
  EXPECT_TRUE(std::filesystem::exists(spool("uploads/" + name)));
}

TEST_F(FileUploadTest, WithoutAReplyBufferTheUploadStillHappens) {
  std::string source = sandbox.inHome("a.log");
  writeFile(source, "x");
  MFileInfo info = record(source, "one", "1");
  EXPECT_EQ(FileReport(&info, nullptr), 0);
  char* none = nullptr;
  info = record(source, "two", "1");
  EXPECT_EQ(FileReport(&info, &none), 0);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(index().size(), 2u);
}

}  // namespace
