#pragma once

#include "UsageLogLib/ExportObj.h"

// The export object of this library: writes events to events.jsonl and report logs to
// reports.jsonl in the user's statistics spool (see usage_spool::UsageSpool). Holds no state of
// its own, so its operations are safe from any thread and across processes.
class SpoolExportObj final : public ExportObj {
 public:
  static constexpr const char* kEventsFile = "events.jsonl";
  static constexpr const char* kReportsFile = "reports.jsonl";
  static constexpr int32_t kVersion = 0x010000;

  SpoolExportObj() = default;
  ~SpoolExportObj() override = default;

  int32_t SendLogMessage(int32_t event, int32_t operationRes, const char* resultData,
                         int32_t productID, int32_t languageID, int32_t siteID,
                         const char* productVersion, const char* regEmail, int32_t activeID,
                         int32_t versionID) override;
  int32_t QueryStatus(int64_t* ready, int64_t* accepting) override;
  int32_t GetVersion() override { return kVersion; }
  int32_t GetSpoolDirectory(char* buffer, uint32_t size) override;
  int64_t CountLogMessages() override;
  int64_t CountReportLogs() override;
  int32_t Flush() override;
  int32_t SendReportLog(int32_t productID, const char* reportLog, const char* content,
                        const char* uploadID) override;
};
