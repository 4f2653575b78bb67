#include "ToolKiFunction.h"
#include "foundation/Mutex.h"
#include "foundation/OperationQueue.h"

using foundation::PlistArray;

namespace {

// The queue, once made, lives until the process ends.
foundation::Mutex s_slotsMutex;
foundation::OperationQueue* s_cacheQueue GUARDED_BY(s_slotsMutex) = nullptr;
std::shared_ptr<PlistArray> s_cacheJsonArray GUARDED_BY(s_slotsMutex);

foundation::OperationQueue* cacheQueue() {
  foundation::MutexLock guard(s_slotsMutex);
  return s_cacheQueue;
}

}  // namespace

void ToolKiFunction::loadCacheDataThread() {
  foundation::OperationQueue* queue = nullptr;
  {
    foundation::MutexLock guard(s_slotsMutex);
    if (!s_cacheQueue) s_cacheQueue = new foundation::OperationQueue();
    queue = s_cacheQueue;
  }
  queue->addOperation([] {
    auto list = std::make_shared<PlistArray>(getToolJsionDataInfo(true).value_or(PlistArray{}));
    foundation::MutexLock guard(s_slotsMutex);
    s_cacheJsonArray = std::move(list);
  });
}

void ToolKiFunction::waitCacheThreadFinished() {
  if (foundation::OperationQueue* queue = cacheQueue()) queue->waitUntilAllOperationsAreFinished();
}

bool ToolKiFunction::isCacheThreadRunning() {
  foundation::OperationQueue* queue = cacheQueue();
  return queue && queue->operationCount() > 0;
}

std::shared_ptr<PlistArray> ToolKiFunction::cacheArray() {
  foundation::MutexLock guard(s_slotsMutex);
  return s_cacheJsonArray;
}

void ToolKiFunction::emptyCacheData() {
  std::shared_ptr<PlistArray> list;
  {
    foundation::MutexLock guard(s_slotsMutex);
    list = std::move(s_cacheJsonArray);
    s_cacheJsonArray = nullptr;
  }
  if (list) list->clear();
}

std::optional<PlistArray> ToolKiFunction::getToolJsionDataInfo(bool) { return std::nullopt; }

std::optional<foundation::PlistValue> ToolKiFunction::parsingJsonData(
    const std::optional<foundation::PlistValue>&, bool) {
  return std::nullopt;
}

std::optional<foundation::PlistData> ToolKiFunction::readImageDataFromUrl(
    const std::optional<foundation::PlistValue>&) {
  return std::nullopt;
}
