#include "ProductLogManager.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>

#include "ReleaseWeblog.h"
#include "UsageLogLib/UsageLogLib.h"
#include "fileUpload/FileUpload.h"
#include "foundation/Calendar.h"
#include "foundation/Clock.h"
#include "foundation/Log.h"
#include "foundation/OperationQueue.h"
#include "foundation/Paths.h"

namespace {

ProductLogManager* s_defaultManger = nullptr;
std::once_flag s_createOnce;

// The export object and the library entry points in use; after the singleton's creation they are
// read and written only under its _exportLock. s_webLog is never cleared, also not once released.
ExportObj* s_webLog = nullptr;
void (*s_destroyExportObj)(ExportObj*) = &DestroyExportObj;
int32_t (*s_fileReport)(const MFileInfo*, char**) = &FileReport;
int32_t (*s_updateServerAddr)() = &UpdateServerAddr;

constexpr size_t kReplySize = 20;
// How long the release at exit waits for a send still using the export object.
constexpr auto kReleaseWaitBound = std::chrono::seconds(5);

const char* utf8OrEmpty(const std::optional<std::string>& text) {
  return text ? text->c_str() : "";
}

// The leading decimal integer of `text` (blanks, an optional sign, digits; 0 when there are none),
// reading at most `size` bytes and saturating at the 32-bit bounds.
int32_t decimalValue(const char* text, size_t size) {
  size_t i = 0;
  while (i < size && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                      text[i] == '\v' || text[i] == '\f')) {
    ++i;
  }
  bool negative = false;
  if (i < size && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  for (; i < size && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min(value * 10 + (text[i] - '0'), kLimit);
  }
  if (negative) return static_cast<int32_t>(-value);
  return static_cast<int32_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

// "YYYY-MM-dd HH:mm:ss" in the local time zone; YYYY is the week-numbering year.
std::string uploadDateText(foundation::Date date) {
  foundation::Calendar calendar = foundation::Calendar::currentCalendar();
  foundation::DateComponents parts = calendar.components(date);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", calendar.weekOfYearYear(date),
                parts.month, parts.day, parts.hour, parts.minute, parts.second);
  return text;
}

}  // namespace

ProductLogManager* KVLogManager = ProductLogManager::defaultManager();

namespace {
// Releases the export object at exit; constructed after KVLogManager is set, so destroyed before
// anything the singleton's creation built.
ReleaseWeblog object;
}  // namespace

ProductLogManager* ProductLogManager::defaultManager() {
  std::call_once(s_createOnce, [] {
    s_defaultManger = new ProductLogManager();
    s_webLog = CreateExportObj();
    s_defaultManger->setupDefault();
  });
  return s_defaultManger;
}

void ProductLogManager::setupDefault() {
  setOperationRes(0);
  setProductID(90);
  setSiteID(101);
  setActiveID(0);
  setVersionID(0);
  setResultData(std::string());
  setRegEmail(std::string());
  setOperationID(0);
}

std::optional<std::string> ProductLogManager::resultData() const {
  foundation::MutexLock guard(_textMutex);
  return _resultData;
}

void ProductLogManager::setResultData(std::optional<std::string> value) {
  foundation::MutexLock guard(_textMutex);
  _resultData = std::move(value);
}

std::optional<std::string> ProductLogManager::productVersion() const {
  foundation::MutexLock guard(_textMutex);
  return _productVersion;
}

void ProductLogManager::setProductVersion(std::optional<std::string> value) {
  foundation::MutexLock guard(_textMutex);
  _productVersion = std::move(value);
}

std::optional<std::string> ProductLogManager::regEmail() const {
  foundation::MutexLock guard(_textMutex);
  return _regEmail;
}

void ProductLogManager::setRegEmail(std::optional<std::string> value) {
  foundation::MutexLock guard(_textMutex);
  _regEmail = std::move(value);
}

void ProductLogManager::asyncSendLog(int32_t code) {
  foundation::OperationQueue* queue;
  {
    foundation::MutexLock guard(_queueMutex);
    if (!_operationQueue) {
      _operationQueue = std::make_unique<foundation::OperationQueue>();
      _operationQueue->setMaxConcurrentOperationCount(1);
    }
    queue = _operationQueue.get();
  }
  queue->addOperation([this, code] { dealWelogMessage(code); });
}

int32_t ProductLogManager::syncSendLog(int32_t code) {
  foundation::OperationQueue* queue;
  {
    foundation::MutexLock guard(_queueMutex);
    queue = _operationQueue.get();
  }
  if (queue) queue->waitUntilAllOperationsAreFinished();
  return dealWelogMessage(code);
}

int32_t ProductLogManager::dealWelogMessage(int32_t code) {
  ExportObj* exportObj;
  {
    std::shared_lock<std::shared_timed_mutex> use(_exportLock);
    if (!s_webLog || _exportReleased) return -1;
    exportObj = s_webLog;
  }
  waitForLibrary(exportObj);

  int32_t operationRes = this->operationRes();
  std::optional<std::string> resultData = this->resultData();
  int32_t productID = this->productID();
  int32_t languageID = this->languageID();
  int32_t siteID = this->siteID();
  std::optional<std::string> productVersion = this->productVersion();
  std::optional<std::string> regEmail = this->regEmail();
  int32_t activeID = this->activeID();
  int32_t versionID = this->versionID();

  std::shared_lock<std::shared_timed_mutex> use(_exportLock);
  if (s_webLog != exportObj || _exportReleased) return -1;
  return exportObj->SendLogMessage(code, operationRes, utf8OrEmpty(resultData), productID,
                                   languageID, siteID, utf8OrEmpty(productVersion),
                                   utf8OrEmpty(regEmail), activeID, versionID);
}

void ProductLogManager::waitForLibrary(ExportObj* exportObj) {
  foundation::MutexLock guard(_readinessMutex);
  if (_readinessDone) return;
  _readinessDone = true;
  int64_t ready = 0;
  int64_t accepting = 0;
  for (int call = 1; call <= 3; ++call) {
    {
      std::shared_lock<std::shared_timed_mutex> use(_exportLock);
      if (s_webLog != exportObj || _exportReleased) return;
      exportObj->QueryStatus(&ready, &accepting);
    }
    if (call == 3) break;
    foundation::Clock::current().sleep(foundation::TimeInterval::seconds(1));
    if (ready != 0 || accepting != 0) break;
  }
}

int32_t ProductLogManager::syncSendReportLog(const std::optional<std::string>& reportLog,
                                             const std::optional<std::string>& content,
                                             const char* uploadID) {
  std::shared_lock<std::shared_timed_mutex> use(_exportLock);
  if (!s_webLog || _exportReleased) return -1;
  return s_webLog->SendReportLog(_productID.load(), utf8OrEmpty(reportLog), utf8OrEmpty(content),
                                 uploadID);
}

int32_t ProductLogManager::syncSendReportFile(const std::string& path, int32_t type) {
  std::error_code error;
  // A path with a NUL in it would name a different file once it became a C text.
  if (path.empty() || path.find('\0') != std::string::npos ||
      !std::filesystem::exists(path, error)) {
    return -1;
  }
  std::string uploadName = uploadDateText(foundation::Clock::current().now()) + "-" +
                           foundation::lastPathComponent(path);
  std::string typeText = std::to_string(type);

  MFileInfo info{};
  // A text that does not fit its field would be cut short, naming another file or upload: refused.
  if (path.size() >= sizeof info.filePath || uploadName.size() >= sizeof info.uploadName ||
      typeText.size() >= sizeof info.fileType) {
    return -1;
  }

  int32_t (*fileReport)(const MFileInfo*, char**);
  int32_t (*updateServerAddr)();
  {
    std::shared_lock<std::shared_timed_mutex> use(_exportLock);
    fileReport = s_fileReport;
    updateServerAddr = s_updateServerAddr;
  }
  if (updateServerAddr) updateServerAddr();

  std::memcpy(info.filePath, path.data(), path.size());
  std::memcpy(info.fileType, typeText.data(), typeText.size());
  std::memcpy(info.uploadName, uploadName.data(), uploadName.size());

  // The buffer stays ours whatever the library does; a pointer the library put in its place is
  // its own array allocation, handed to us. Each is released exactly once.
  std::unique_ptr<char[]> buffer(new char[kReplySize]());
  char* reply = buffer.get();
  int32_t status = fileReport ? fileReport(&info, &reply) : -1;
  int32_t number = 0;
  if (reply == buffer.get()) {
    number = decimalValue(buffer.get(), kReplySize);
  } else if (reply) {
    number = decimalValue(reply, std::strlen(reply));
    delete[] reply;
  }
  return status != 0 ? -1 : number;
}

ProductLogManager::Libraries ProductLogManager::setLibrariesForTesting(const Libraries& libraries) {
  ProductLogManager* manager = defaultManager();
  foundation::OperationQueue* queue;
  {
    foundation::MutexLock guard(manager->_queueMutex);
    queue = manager->_operationQueue.get();
  }
  if (queue) queue->waitUntilAllOperationsAreFinished();
  std::unique_lock<std::shared_timed_mutex> lock(manager->_exportLock);
  Libraries previous{s_webLog, s_destroyExportObj, s_fileReport, s_updateServerAddr};
  s_webLog = libraries.exportObj;
  s_destroyExportObj = libraries.destroyExportObj;
  s_fileReport = libraries.fileReport;
  s_updateServerAddr = libraries.updateServerAddr;
  manager->_exportReleased = false;
  return previous;
}

void ProductLogManager::rearmReadinessWaitForTesting() {
  ProductLogManager* manager = defaultManager();
  foundation::MutexLock guard(manager->_readinessMutex);
  manager->_readinessDone = false;
}

void ProductLogManager::releaseExportObj() {
  ProductLogManager* manager = s_defaultManger;
  if (!manager) return;
  std::unique_lock<std::shared_timed_mutex> lock(manager->_exportLock, std::defer_lock);
  if (!lock.try_lock_for(kReleaseWaitBound)) {
    // Releasing it now could pull it from under the send; the process is ending anyway.
    foundation::NSLog("Statistics: a send still uses the library at exit; not released");
    return;
  }
  if (manager->_exportReleased) return;
  manager->_exportReleased = true;
  if (s_webLog && s_destroyExportObj) s_destroyExportObj(s_webLog);
}
