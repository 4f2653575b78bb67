#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "UsageLogLib/ExportObj.h"
#include "support/TestSync.h"

namespace testing_support {

// A statistics export object for tests: records every call it gets (the events with their ten
// values, the readiness queries, the report logs), answers readiness and statuses as the test
// sets them, and lets hooks hold a call until the test says so. Any thread may call it; a test
// reads the fields under `mutex` or through the accessors. `destroyed` is the test's mark of a
// release: a call after it sets `usedAfterDestroy`.
class RecordingExportObj final : public ExportObj {
 public:
  struct SentEvent {
    int32_t code, operationRes;
    std::string resultData;
    int32_t productID, languageID, siteID;
    std::string productVersion, regEmail;
    int32_t activeID, versionID;
    bool nullText;  // some text came as a null pointer
    double uptime;  // the foundation clock's uptime at the call
    std::thread::id thread;
  };
  struct Report {
    int32_t productID;
    std::string reportLog, content;  // "<null>" for a null pointer
    const char* uploadID;
  };

  RecordingExportObj() = default;
  ~RecordingExportObj() override = default;

  // Recorded.
  int32_t QueryStatus(int64_t* ready, int64_t* accepting) override;
  int32_t SendLogMessage(int32_t code, int32_t operationRes, const char* resultData,
                         int32_t productID, int32_t languageID, int32_t siteID,
                         const char* productVersion, const char* regEmail, int32_t activeID,
                         int32_t versionID) override;
  int32_t SendReportLog(int32_t productID, const char* reportLog, const char* content,
                        const char* uploadID) override;
  // Answered with 0, not recorded.
  int32_t GetVersion() override { return 0; }
  int32_t GetSpoolDirectory(char*, uint32_t) override { return 0; }
  int64_t CountLogMessages() override { return 0; }
  int64_t CountReportLogs() override { return 0; }
  int32_t Flush() override { return 0; }

  std::vector<SentEvent> sent();
  // The codes of the events sent since the last call.
  std::vector<int32_t> takeCodes();
  std::vector<std::pair<int64_t, int64_t>> queryValues();

  std::mutex mutex;
  std::vector<SentEvent> events;
  std::vector<int32_t> returned;  // the codes of the sends that returned, in that order
  std::vector<std::pair<int64_t, int64_t>> queries;  // the values found at each query
  std::vector<Report> reports;
  std::function<void(int32_t)> onSend;  // runs inside each send, after it was recorded
  std::function<void()> onQuery;
  int readyOnCall = 1;     // the QueryStatus call from which on one value is set; 0: none is
  bool setsFirst = false;  // which of the two values it sets
  int32_t status = 0;
  int32_t reportStatus = 0;
  int inFlight = 0;
  bool overlapped = false;  // two sends ran at once
  bool destroyed = false;
  bool usedAfterDestroy = false;
  Counter entered, finished, queried;

 private:
  std::size_t _taken = 0;
};

}  // namespace testing_support
