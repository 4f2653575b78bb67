#include "Mendkit/MKDeviceManager.h"
#include "Mendkit/MKUsbId.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>

#include "foundation/DirectoryStream.h"
#include "foundation/FileDescriptor.h"
#include "foundation/Mutex.h"

namespace {

std::atomic<bool> s_listening{false};

constexpr unsigned kAppleVendor = 0x05ac;

enum class Mode { Normal, Error };

// The mode of an Apple product id, or nullopt when the product is no mobile device.
std::optional<Mode> modeOfProduct(unsigned product) {
  if (product >= 0x1290 && product <= 0x12bf) return Mode::Normal;
  if (product >= 0x1280 && product <= 0x1283) return Mode::Error;
  if (product == 0x1227 || product == 0x1222 || product == 0xf014) return Mode::Error;
  return std::nullopt;
}

// The id in the regular file `name` below `folder`, or nullopt. Never waits: a FIFO or device
// node is opened without blocking and then refused. Reads one byte more than a valid file holds,
// so that a longer file is refused.
std::optional<unsigned> readId(int folder, const std::string& name) {
  foundation::FileDescriptor fd(
      ::openat(folder, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
  if (!fd) return std::nullopt;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  char text[6];
  ssize_t length = ::read(fd.get(), text, sizeof text);
  if (length < 0) return std::nullopt;
  return MKUsbIdFromText(std::string_view(text, static_cast<size_t>(length)));
}

std::string devicesFolder() {
  const char* root = std::getenv("PLATFORM_ROOT");
  std::string path = root ? root : "";
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path + "/sys/bus/usb/devices";
}

struct Found {
  std::string port;  // the sysfs entry's name; empty when no device is attached
  Mode mode = Mode::Normal;
};

// One scan of the devices folder: the attached device the manager holds (see deviceHandle()).
Found scan() {
  Found found;
  foundation::DirectoryStream folder(devicesFolder());
  if (!folder) return found;
  const int folderFd = ::dirfd(folder.get());
  while (const dirent* entry = folder.next()) {
    const std::string name = entry->d_name;
    if (name.empty() || name[0] == '.' || name.find(':') != std::string::npos) continue;
    std::optional<unsigned> vendor = readId(folderFd, name + "/idVendor");
    if (!vendor || *vendor != kAppleVendor) continue;
    std::optional<unsigned> product = readId(folderFd, name + "/idProduct");
    if (!product) continue;
    std::optional<Mode> mode = modeOfProduct(*product);
    if (!mode) continue;
    // Error mode first, then the least port name, so that the answer does not follow listing order.
    bool better = found.port.empty() || (*mode == Mode::Error && found.mode != Mode::Error) ||
                  (*mode == found.mode && name < found.port);
    if (better) found = {name, *mode};
  }
  return found;
}

// A token for `port` that stays the same for the life of the process.
const void* tokenOfPort(const std::string& port) {
  static foundation::Mutex s_mutex;
  static std::set<std::string>* s_ports PT_GUARDED_BY(s_mutex) =
      new std::set<std::string>();  // never destroyed
  foundation::MutexLock guard(s_mutex);
  return &*s_ports->insert(port).first;
}

// The scan of the last deviceHandle() on this thread, which the next whetherBlueScreen() on the
// same thread takes when it follows soon enough.
struct RecentScan {
  Found found;
  std::chrono::steady_clock::time_point at;
  bool taken = true;
};
thread_local RecentScan t_recent;
constexpr std::chrono::milliseconds kRecentScanLife{100};

}  // namespace

MKDeviceManager* MKDeviceManager::shared() {
  static MKDeviceManager* s_manager = new MKDeviceManager();
  return s_manager;
}

void MKDeviceManager::startIOSConnectListener() { s_listening.store(true); }

const void* MKDeviceManager::deviceHandle() const {
  if (!isListening()) return nullptr;
  Found found = scan();
  t_recent = {found, std::chrono::steady_clock::now(), false};
  return found.port.empty() ? nullptr : tokenOfPort(found.port);
}

bool MKDeviceManager::whetherBlueScreen() const {
  if (!isListening()) return false;
  const bool recent =
      !t_recent.taken && std::chrono::steady_clock::now() - t_recent.at < kRecentScanLife;
  t_recent.taken = true;
  Found found = recent ? t_recent.found : scan();
  return !found.port.empty() && found.mode == Mode::Error;
}

bool MKDeviceManager::isListening() const { return s_listening.load(); }

std::optional<unsigned> MKUsbIdFromText(std::string_view text) {
  if (text.size() == 5 && text[4] == '\n') text.remove_suffix(1);
  if (text.size() != 4) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    value = value * 16 + digit;
  }
  return value;
}
