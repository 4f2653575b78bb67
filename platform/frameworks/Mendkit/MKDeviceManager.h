#pragma once

#define MK_EXPORT __attribute__((visibility("default")))

// The main application's device manager: watches for connected devices and tells whether the one
// it holds is stuck in its error state. One shared object per process; thread-safe.
// So far only the interface: listening is recorded, and no device is ever reported connected
// (deviceHandle() is null, whetherBlueScreen() NO) until device discovery is written.
class MK_EXPORT MKDeviceManager {
 public:
  static MKDeviceManager* shared();

  // Starts watching for connected devices. Later calls do nothing.
  void startIOSConnectListener();
  // Non-null while a device is connected; identifies that device until it goes away.
  const void* deviceHandle() const;
  // YES while the connected device is in its error state; NO without a device.
  bool whetherBlueScreen() const;

  // Whether startIOSConnectListener has been called in this process.
  bool isListening() const;

  MKDeviceManager(const MKDeviceManager&) = delete;
  MKDeviceManager& operator=(const MKDeviceManager&) = delete;

 private:
  MKDeviceManager() = default;
};
