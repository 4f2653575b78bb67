#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>

#include "foundation/Mutex.h"

class ExportObj;
struct MFileInfo;
class ReleaseWeblog;

namespace foundation {
class OperationQueue;
}

// The process-wide statistics manager: holds the fields every usage event carries and hands events
// to the statistics library's export object. Exactly one instance exists (KVLogManager, made during
// static initialisation); it cannot be created elsewhere, copied or destroyed, and lives until the
// process ends.
//
// Thread safety: every property is atomic (ints as std::atomic, texts under `_textMutex`), so the
// main thread may change fields while a queued send reads them. asyncSendLog and syncSendLog may be
// called from any thread. The export object is used under the shared side of `_exportLock`; its
// release at exit takes the exclusive side, so no send uses it afterwards (sends still queued at
// exit are dropped by the queue; a running one is waited for).
class ProductLogManager {
 public:
  // The entry points of the two statistics libraries that the manager calls; tests replace them.
  struct Libraries {
    ExportObj* exportObj = nullptr;  // null: no statistics library object
    void (*destroyExportObj)(ExportObj*) = nullptr;
    int32_t (*fileReport)(const MFileInfo*, char**) = nullptr;
    int32_t (*updateServerAddr)() = nullptr;
  };

  // The singleton; the first call creates it, the export object and the defaults.
  static ProductLogManager* defaultManager();

  ProductLogManager(const ProductLogManager&) = delete;
  ProductLogManager& operator=(const ProductLogManager&) = delete;

  // Queues one send of event `code` and returns at once. The event carries the fields as they
  // stand when the send runs; its status is dropped.
  void asyncSendLog(int32_t code);
  // Waits until every queued send has finished, then sends on the calling thread.
  int32_t syncSendLog(int32_t code);
  // Sends on the calling thread: the library's status, or -1 without an export object. The first
  // send that finds an export object first waits for the library (1 to 2 seconds).
  int32_t dealWelogMessage(int32_t code);
  // Sends a report log on the calling thread: the library's status, or -1 without an export object.
  int32_t syncSendReportLog(const std::optional<std::string>& reportLog,
                            const std::optional<std::string>& content, const char* uploadID);
  // Uploads the file at `path` on the calling thread: the upload number, or -1 when the file does
  // not exist, a text does not fit its record field, or the upload fails.
  int32_t syncSendReportFile(const std::string& path, int32_t type);
  void setupDefault();

  int32_t productID() const { return _productID.load(); }
  void setProductID(int32_t value) { _productID.store(value); }
  int32_t operationID() const { return _operationID.load(); }
  void setOperationID(int32_t value) { _operationID.store(value); }
  int32_t operationRes() const { return _operationRes.load(); }
  void setOperationRes(int32_t value) { _operationRes.store(value); }
  std::optional<std::string> resultData() const;
  void setResultData(std::optional<std::string> value);
  int32_t languageID() const { return _languageID.load(); }
  void setLanguageID(int32_t value) { _languageID.store(value); }
  int32_t siteID() const { return _siteID.load(); }
  void setSiteID(int32_t value) { _siteID.store(value); }
  int32_t activeID() const { return _activeID.load(); }
  void setActiveID(int32_t value) { _activeID.store(value); }
  int32_t versionID() const { return _versionID.load(); }
  void setVersionID(int32_t value) { _versionID.store(value); }
  std::optional<std::string> productVersion() const;
  void setProductVersion(std::optional<std::string> value);
  std::optional<std::string> regEmail() const;
  void setRegEmail(std::optional<std::string> value);

  // For tests: waits for the queued sends, then installs `libraries` (also after the export object
  // was released) and returns the ones in use before.
  static Libraries setLibrariesForTesting(const Libraries& libraries);
  // For tests: the next send that finds an export object waits for the library again.
  static void rearmReadinessWaitForTesting();

 private:
  friend class ReleaseWeblog;

  ProductLogManager() = default;
  ~ProductLogManager() = default;

  void waitForLibrary(ExportObj* exportObj);
  // At exit: releases the export object once no send uses it; later sends return -1.
  static void releaseExportObj();

  std::atomic<int32_t> _productID{0};
  std::atomic<int32_t> _operationID{0};
  std::atomic<int32_t> _operationRes{0};
  std::optional<std::string> _resultData GUARDED_BY(_textMutex);
  std::atomic<int32_t> _languageID{0};
  std::atomic<int32_t> _siteID{0};
  std::atomic<int32_t> _activeID{0};
  std::atomic<int32_t> _versionID{0};
  std::optional<std::string> _productVersion GUARDED_BY(_textMutex);
  std::optional<std::string> _regEmail GUARDED_BY(_textMutex);
  mutable foundation::Mutex _textMutex;

  foundation::Mutex _queueMutex;  // guards the creation of the queue
  std::unique_ptr<foundation::OperationQueue> _operationQueue GUARDED_BY(_queueMutex);

  foundation::Mutex
      _readinessMutex;  // held through the readiness wait: concurrent first senders wait
  bool _readinessDone GUARDED_BY(_readinessMutex) = false;

  // Shared: a library call; exclusive: the export object's release or the libraries' replacement.
  // Guards the file-scope export object and entry points, and `_exportReleased`.
  std::shared_timed_mutex _exportLock;
  bool _exportReleased = false;
};

// The singleton, set during static initialisation (before main).
extern ProductLogManager* KVLogManager;
