#include "Mendkit/MKDeviceManager.h"

#include <atomic>

// Device discovery is not written yet: the manager records that listening started and reports no
// connected device.
namespace {
std::atomic<bool> s_listening{false};
}  // namespace

MKDeviceManager* MKDeviceManager::shared() {
  static MKDeviceManager* s_manager = new MKDeviceManager();
  return s_manager;
}

void MKDeviceManager::startIOSConnectListener() { s_listening.store(true); }

const void* MKDeviceManager::deviceHandle() const { return nullptr; }

bool MKDeviceManager::whetherBlueScreen() const { return false; }

bool MKDeviceManager::isListening() const { return s_listening.load(); }
