#pragma once

#define MK_EXPORT __attribute__((visibility("default")))

// The main application's device manager: tells whether an Apple mobile device is attached over
// USB and whether it sits in recovery or DFU mode. One shared object per process; every operation
// is thread-safe.
//
// Devices are read from $PLATFORM_ROOT/sys/bus/usb/devices (PLATFORM_ROOT default "/"): an entry
// whose idVendor is 05ac and whose idProduct is a normal-mode (1290-12bf), recovery (1280-1283) or
// DFU (1227, 1222, f014) product is an attached device. Each question makes one scan of that folder
// and keeps nothing open, except that whetherBlueScreen() asked on the thread that asked
// deviceHandle() less than 100 ms before answers from that question's scan (once); an entry whose
// id files are missing, unreadable, not regular files or not four hex digits is skipped, and a
// folder that cannot be listed means no device. Before startIOSConnectListener has been called the
// manager watches nothing: deviceHandle() is null and whetherBlueScreen() NO, whatever is attached.
class MK_EXPORT MKDeviceManager {
 public:
  static MKDeviceManager* shared();

  // Starts watching for attached devices. Later calls do nothing.
  void startIOSConnectListener();
  // Non-null while a device is attached: a token naming its USB port, the same for as long as a
  // device stays on that port (in whatever mode), valid for the life of the process. With several
  // devices attached, one in recovery or DFU mode is preferred, else the first in port order.
  const void* deviceHandle() const;
  // YES while an attached device is in recovery or DFU mode; NO without one.
  bool whetherBlueScreen() const;

  // Whether startIOSConnectListener has been called in this process.
  bool isListening() const;

  MKDeviceManager(const MKDeviceManager&) = delete;
  MKDeviceManager& operator=(const MKDeviceManager&) = delete;

 private:
  MKDeviceManager() = default;
};
