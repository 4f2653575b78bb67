#include "support/RecordingExportObj.h"

#include "foundation/Clock.h"

namespace testing_support {

int32_t RecordingExportObj::SendLogMessage(int32_t code, int32_t operationRes,
                                           const char* resultData, int32_t productID,
                                           int32_t languageID, int32_t siteID,
                                           const char* productVersion, const char* regEmail,
                                           int32_t activeID, int32_t versionID) {
  std::function<void(int32_t)> hook;
  {
    std::lock_guard<std::mutex> guard(mutex);
    usedAfterDestroy |= destroyed;
    overlapped |= inFlight++ > 0;
    events.push_back({code, operationRes, resultData ? resultData : "", productID, languageID,
                      siteID, productVersion ? productVersion : "", regEmail ? regEmail : "",
                      activeID, versionID, !resultData || !productVersion || !regEmail,
                      foundation::Clock::current().uptime(), std::this_thread::get_id()});
    hook = onSend;
  }
  entered.increment();
  if (hook) hook(code);
  {
    std::lock_guard<std::mutex> guard(mutex);
    --inFlight;
    returned.push_back(code);
  }
  finished.increment();
  return status;
}

int32_t RecordingExportObj::QueryStatus(int64_t* ready, int64_t* accepting) {
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> guard(mutex);
    usedAfterDestroy |= destroyed;
    queries.push_back({*ready, *accepting});
    if (readyOnCall != 0 && static_cast<int>(queries.size()) >= readyOnCall) {
      *(setsFirst ? ready : accepting) = 1;
    }
    hook = onQuery;
  }
  queried.increment();
  if (hook) hook();
  return 0;
}

int32_t RecordingExportObj::SendReportLog(int32_t productID, const char* reportLog,
                                          const char* content, const char* uploadID) {
  std::lock_guard<std::mutex> guard(mutex);
  usedAfterDestroy |= destroyed;
  reports.push_back(
      {productID, reportLog ? reportLog : "<null>", content ? content : "<null>", uploadID});
  return reportStatus;
}

std::vector<RecordingExportObj::SentEvent> RecordingExportObj::sent() {
  std::lock_guard<std::mutex> guard(mutex);
  return events;
}

std::vector<int32_t> RecordingExportObj::takeCodes() {
  std::lock_guard<std::mutex> guard(mutex);
  std::vector<int32_t> codes;
  for (; _taken < events.size(); ++_taken) codes.push_back(events[_taken].code);
  return codes;
}

std::vector<std::pair<int64_t, int64_t>> RecordingExportObj::queryValues() {
  std::lock_guard<std::mutex> guard(mutex);
  return queries;
}

}  // namespace testing_support
