#include "SpoolExportObj.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <nlohmann/json.hpp>

#include "UsageSpool.h"

using usage_spool::UsageSpool;

namespace {

const char* text(const char* value) { return value ? value : ""; }

// One JSON line; invalid UTF-8 is replaced rather than refused. Never throws.
int appendObject(const char* fileName, nlohmann::ordered_json& object) {
  try {
    object["time"] = UsageSpool::timestamp();
    return UsageSpool::appendLine(
        fileName, object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
  } catch (const std::bad_alloc&) {
    return -ENOMEM;
  } catch (...) {
    return -EINVAL;
  }
}

}  // namespace

int32_t SpoolExportObj::SendLogMessage(int32_t event, int32_t operationRes, const char* resultData,
                                       int32_t productID, int32_t languageID, int32_t siteID,
                                       const char* productVersion, const char* regEmail,
                                       int32_t activeID, int32_t versionID) {
  try {
    nlohmann::ordered_json line;
    line["event"] = event;
    line["operationRes"] = operationRes;
    line["resultData"] = text(resultData);
    line["productID"] = productID;
    line["languageID"] = languageID;
    line["siteID"] = siteID;
    line["productVersion"] = text(productVersion);
    line["regEmail"] = text(regEmail);
    line["activeID"] = activeID;
    line["versionID"] = versionID;
    return appendObject(kEventsFile, line);
  } catch (...) {
    return -ENOMEM;
  }
}

int32_t SpoolExportObj::QueryStatus(int64_t* ready, int64_t* accepting) {
  int result = UsageSpool::prepare();
  if (result != 0) return result;
  if (ready) *ready = 1;
  if (accepting) *accepting = 1;
  return 0;
}

int32_t SpoolExportObj::GetSpoolDirectory(char* buffer, uint32_t size) {
  std::string path = UsageSpool::directory();
  if (buffer && path.size() < size) std::memcpy(buffer, path.c_str(), path.size() + 1);
  return static_cast<int32_t>(path.size());
}

int64_t SpoolExportObj::CountLogMessages() { return UsageSpool::countLines(kEventsFile); }

int64_t SpoolExportObj::CountReportLogs() { return UsageSpool::countLines(kReportsFile); }

int32_t SpoolExportObj::Flush() {
  int events = UsageSpool::sync(kEventsFile);
  int reports = UsageSpool::sync(kReportsFile);
  return events != 0 ? events : reports;
}

int32_t SpoolExportObj::SendReportLog(int32_t productID, const char* reportLog, const char* content,
                                      const char* uploadID) {
  try {
    nlohmann::ordered_json line;
    line["productID"] = productID;
    line["reportLog"] = text(reportLog);
    line["content"] = text(content);
    line["uploadID"] = text(uploadID);
    return appendObject(kReportsFile, line);
  } catch (...) {
    return -ENOMEM;
  }
}
