// The USB id reading of the device manager against a plain reading of the sysfs format: an id
// file holds four hex digits, of either case, and at most one newline after them.
//
// The input is checked twice: as text, against MKUsbIdFromText; and as a file, the first input
// byte choosing which id file of an attached device it becomes (lowest bit set: idVendor beside
// the product id of a phone in recovery; otherwise idProduct beside Apple's vendor id), against
// what deviceHandle and whetherBlueScreen answer for it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "Mendkit/MKDeviceManager.h"
#include "Mendkit/MKUsbId.h"

namespace {

std::optional<unsigned> referenceId(std::string_view text) {
  if (text.size() == 5 && text.back() == '\n') text = text.substr(0, 4);
  if (text.size() != 4) return std::nullopt;
  for (char c : text) {
    if (std::string_view("0123456789abcdefABCDEF").find(c) == std::string_view::npos) {
      return std::nullopt;
    }
  }
  return static_cast<unsigned>(std::strtoul(std::string(text).c_str(), nullptr, 16));
}

// 1: attached in recovery or DFU mode, 0: attached in normal mode, -1: not a phone of ours.
int referenceMode(std::optional<unsigned> vendor, std::optional<unsigned> product) {
  if (vendor != 0x05acu || !product) return -1;
  unsigned p = *product;
  if (p >= 0x1290 && p <= 0x12bf) return 0;
  if ((p >= 0x1280 && p <= 0x1283) || p == 0x1227 || p == 0x1222 || p == 0xf014) return 1;
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (MKUsbIdFromText(text) != referenceId(text)) {
    fuzz_support::fail("MKUsbIdFromText disagrees with the format");
  }

  static const std::string device = [] {
    MKDeviceManager::shared()->startIOSConnectListener();
    std::string folder = fuzz_support::sandbox() + "/root/sys/bus/usb/devices/1-1";
    std::filesystem::create_directories(folder);
    return folder;
  }();
  const bool vendorFuzzed = data[0] & 1;
  fuzz_support::writeFile(device + "/idVendor", vendorFuzzed ? text : "05ac\n");
  fuzz_support::writeFile(device + "/idProduct", vendorFuzzed ? "1281\n" : text);
  const int expected = vendorFuzzed ? referenceMode(referenceId(text), 0x1281u)
                                    : referenceMode(0x05acu, referenceId(text));
  MKDeviceManager* manager = MKDeviceManager::shared();
  if ((manager->deviceHandle() != nullptr) != (expected >= 0)) {
    fuzz_support::fail("deviceHandle disagrees with the id files");
  }
  if (manager->whetherBlueScreen() != (expected == 1)) {
    fuzz_support::fail("whetherBlueScreen disagrees with the id files");
  }
  return 0;
}
