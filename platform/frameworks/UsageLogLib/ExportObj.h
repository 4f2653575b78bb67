#pragma once

#include <cstdint>

class ExportObj;
extern "C" void DestroyExportObj(ExportObj* obj);

// The statistics library's export object. The order of the virtual operations is the library's
// binary interface (callers of the shipped library reach an operation by its slot), so new
// operations go after the last one. Texts are NUL-terminated UTF-8; a null text counts as empty.
// Statuses are 0 for success and negative errno values for failures. Every operation may be called
// from any thread. Made by CreateExportObj and released by DestroyExportObj, nothing else.
class __attribute__((visibility("default"))) ExportObj {
 public:
  ExportObj(const ExportObj&) = delete;
  ExportObj& operator=(const ExportObj&) = delete;

  // Slot 1: appends one usage event to the spool, as one whole line.
  virtual int32_t SendLogMessage(int32_t event, int32_t operationRes, const char* resultData,
                                 int32_t productID, int32_t languageID, int32_t siteID,
                                 const char* productVersion, const char* regEmail, int32_t activeID,
                                 int32_t versionID) = 0;
  // Slot 2: sets *ready and *accepting (either may be null) to non-zero values once the spool
  // can take events, creating it when missing; leaves them as they are otherwise.
  virtual int32_t QueryStatus(int64_t* ready, int64_t* accepting) = 0;
  // Slot 3: the library's version as 0xMMmmpp.
  virtual int32_t GetVersion() = 0;
  // Slot 4: copies the spool folder's path into `buffer` (NUL-terminated, never more than `size`
  // bytes; nothing when it does not fit) and returns the path's length, as snprintf does.
  virtual int32_t GetSpoolDirectory(char* buffer, uint32_t size) = 0;
  // Slot 5: the events in the spool, or a negative status.
  virtual int64_t CountLogMessages() = 0;
  // Slot 6: the report logs in the spool, or a negative status.
  virtual int64_t CountReportLogs() = 0;
  // Slot 7: flushes the spool files to the disk.
  virtual int32_t Flush() = 0;
  // Slot 8: appends one report log to the spool, as one whole line.
  virtual int32_t SendReportLog(int32_t productID, const char* reportLog, const char* content,
                                const char* uploadID) = 0;

 protected:
  ExportObj() = default;
  // Declared after every operation so that it takes no slot before them.
  virtual ~ExportObj() = default;

 private:
  friend void ::DestroyExportObj(ExportObj* obj);
};
