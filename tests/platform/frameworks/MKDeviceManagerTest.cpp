#include "Mendkit/MKDeviceManager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <string>

#include "support/TestHome.h"

using testing_support::writeFile;

namespace {

// The device manager against a USB devices folder of the test's making under its PLATFORM_ROOT.
class MKDeviceManagerTest : public testing_support::HomeTest {
 protected:
  void SetUp() override { manager->startIOSConnectListener(); }

  std::string device(const std::string& port) const {
    return sandbox.inRoot("sys/bus/usb/devices/" + port);
  }
  void attach(const std::string& port, const std::string& vendor, const std::string& product) {
    writeFile(device(port) + "/idVendor", vendor);
    writeFile(device(port) + "/idProduct", product);
  }

  MKDeviceManager* manager = MKDeviceManager::shared();
};

}  // namespace

TEST(MKDeviceManagerBeforeListening, KnowsNoDevice) {
  // Each test runs in a process of its own, so the listener is not started yet here.
  testing_support::TestHome sandbox;
  writeFile(sandbox.inRoot("sys/bus/usb/devices/1-1/idVendor"), "05ac\n");
  writeFile(sandbox.inRoot("sys/bus/usb/devices/1-1/idProduct"), "1281\n");
  ASSERT_FALSE(MKDeviceManager::shared()->isListening());
  EXPECT_EQ(MKDeviceManager::shared()->deviceHandle(), nullptr);
  EXPECT_FALSE(MKDeviceManager::shared()->whetherBlueScreen());
  MKDeviceManager::shared()->startIOSConnectListener();
  EXPECT_NE(MKDeviceManager::shared()->deviceHandle(), nullptr);
  EXPECT_TRUE(MKDeviceManager::shared()->whetherBlueScreen());
}

TEST_F(MKDeviceManagerTest, NoFolderOrNoAppleDeviceIsNoDevice) {
  EXPECT_EQ(manager->deviceHandle(), nullptr);
  attach("1-2", "046d\n", "1281\n");  // another maker's product with a recovery id
  attach("1-3", "05ac\n", "0250\n");  // an Apple keyboard
  writeFile(device("usb1") + "/idVendor", "1d6b\n");
  std::filesystem::create_directories(device("1-2:1.0"));
  EXPECT_EQ(manager->deviceHandle(), nullptr);
  EXPECT_FALSE(manager->whetherBlueScreen());
}

TEST_F(MKDeviceManagerTest, NormalRecoveryAndDfuModes) {
  struct Case {
    const char* product;
    bool attached, error;
  } cases[] = {{"1290", true, false},  {"12a8", true, false},  {"12bf", true, false},
               {"12c0", false, false}, {"127f", false, false}, {"1280", true, true},
               {"1283", true, true},   {"1284", false, false}, {"1227", true, true},
               {"1222", true, true},   {"f014", true, true},   {"F014", true, true}};
  for (const Case& c : cases) {
    attach("3-1.4", "05ac\n", std::string(c.product) + "\n");
    EXPECT_EQ(manager->deviceHandle() != nullptr, c.attached) << c.product;
    EXPECT_EQ(manager->whetherBlueScreen(), c.error) << c.product;
  }
}

TEST_F(MKDeviceManagerTest, TheHandleNamesThePortWhateverTheMode) {
  attach("2-1", "05ac\n", "12a8\n");
  const void* normal = manager->deviceHandle();
  ASSERT_NE(normal, nullptr);
  EXPECT_EQ(manager->deviceHandle(), normal);
  attach("2-1", "05ac\n", "1281\n");  // the same phone, rebooted into recovery
  EXPECT_EQ(manager->deviceHandle(), normal);
  // A second device in recovery on another port is the one held, and is told apart.
  attach("2-1", "05ac\n", "12a8\n");
  attach("1-9", "05ac\n", "1227\n");
  const void* dfu = manager->deviceHandle();
  EXPECT_NE(dfu, nullptr);
  EXPECT_NE(dfu, normal);
  EXPECT_TRUE(manager->whetherBlueScreen());
  std::filesystem::remove_all(device("1-9"));
  EXPECT_EQ(manager->deviceHandle(), normal);
  EXPECT_FALSE(manager->whetherBlueScreen());
}

TEST_F(MKDeviceManagerTest, BadIdFilesAreSkippedWithoutWaiting) {
  attach("1-1", "05ac", "1281");  // no newline: still four digits
  EXPECT_TRUE(manager->whetherBlueScreen());
  for (const char* product : {"", "128", "12811\n", "12g1\n", "1281 \n", " 1281", "1281\n\n"}) {
    attach("1-1", "05ac\n", product);
    EXPECT_FALSE(manager->whetherBlueScreen()) << '"' << product << '"';
    EXPECT_EQ(manager->deviceHandle(), nullptr) << '"' << product << '"';
  }
  attach("1-1", "05ac\n", "1281\n");
  std::filesystem::remove(device("1-1") + "/idVendor");
  EXPECT_EQ(manager->deviceHandle(), nullptr) << "missing idVendor";

  // A FIFO whose writer never comes, a folder and a link in place of the id files.
  ASSERT_EQ(mkfifo((device("1-1") + "/idVendor").c_str(), 0644), 0);
  EXPECT_EQ(manager->deviceHandle(), nullptr);
  std::filesystem::remove(device("1-1") + "/idVendor");
  std::filesystem::create_directories(device("1-1") + "/idVendor");
  EXPECT_EQ(manager->deviceHandle(), nullptr);
  std::filesystem::remove(device("1-1") + "/idVendor");
  writeFile(sandbox.inHome("vendor"), "05ac\n");
  std::filesystem::create_symlink(sandbox.inHome("vendor"), device("1-1") + "/idVendor");
  EXPECT_EQ(manager->deviceHandle(), nullptr);

  // A good device next to the bad one is still found.
  attach("1-2", "05ac\n", "1282\n");
  EXPECT_NE(manager->deviceHandle(), nullptr);
  EXPECT_TRUE(manager->whetherBlueScreen());
}

// A check asks for the handle, then at once whether the device is in its error state, and one scan
// may answer both on that thread; but only once, and only there.
TEST_F(MKDeviceManagerTest, TheHandlesScanServesNoLaterOrOtherQuestion) {
  attach("1-1", "05ac\n", "12a8\n");
  ASSERT_NE(manager->deviceHandle(), nullptr);
  EXPECT_FALSE(manager->whetherBlueScreen());
  attach("1-1", "05ac\n", "1281\n");
  EXPECT_TRUE(manager->whetherBlueScreen());
  ASSERT_NE(manager->deviceHandle(), nullptr);
  attach("1-1", "05ac\n", "12a8\n");
  EXPECT_TRUE(std::async(std::launch::async, [&] { return !manager->whetherBlueScreen(); }).get())
      << "another thread scans for itself";
}

TEST_F(MKDeviceManagerTest, DevicesFolderThatIsAFileOrAFifoIsNoDevice) {
  writeFile(sandbox.inRoot("sys/bus/usb/devices"), "x");
  EXPECT_EQ(manager->deviceHandle(), nullptr);
  EXPECT_FALSE(manager->whetherBlueScreen());
  std::filesystem::remove(sandbox.inRoot("sys/bus/usb/devices"));
  ASSERT_EQ(mkfifo(sandbox.inRoot("sys/bus/usb/devices").c_str(), 0644), 0);
  EXPECT_EQ(manager->deviceHandle(), nullptr) << "and no wait for a writer";
  EXPECT_FALSE(manager->whetherBlueScreen());
}

// As in sysfs, each entry of the folder is a link to the device's own folder. A device unplugged
// while the folder is read leaves a listed entry whose link leads nowhere, or a folder that has
// lost its files: both are no device, and the device still attached is found.
TEST_F(MKDeviceManagerTest, LinkedEntriesAndDevicesVanishingMidScan) {
  const std::string tree = sandbox.inRoot("sys/devices/pci0000:00/usb1");
  writeFile(tree + "/1-4/idVendor", "05ac\n");
  writeFile(tree + "/1-4/idProduct", "12a8\n");
  writeFile(tree + "/1-6/idVendor", "05ac\n");  // its idProduct already gone
  std::filesystem::create_directories(device(""));
  for (const char* port : {"1-4", "1-5", "1-6"}) {
    std::filesystem::create_directory_symlink(
        "../../../devices/pci0000:00/usb1/" + std::string(port), device(port));
  }
  const void* attached = manager->deviceHandle();
  EXPECT_NE(attached, nullptr);
  EXPECT_FALSE(manager->whetherBlueScreen());

  writeFile(tree + "/1-5/idVendor", "05ac\n");  // the unplugged one comes back in recovery
  writeFile(tree + "/1-5/idProduct", "1281\n");
  EXPECT_TRUE(manager->whetherBlueScreen());
  std::filesystem::remove_all(tree + "/1-5");
  EXPECT_EQ(manager->deviceHandle(), attached);
  EXPECT_FALSE(manager->whetherBlueScreen());
}

TEST_F(MKDeviceManagerTest, KeepsNothingOpen) {
  attach("1-1", "05ac\n", "1281\n");
  auto openDescriptors = [] {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
      ++count;
    return count;
  };
  size_t before = openDescriptors();
  ASSERT_TRUE(manager->whetherBlueScreen());
  ASSERT_NE(manager->deviceHandle(), nullptr);
  EXPECT_EQ(openDescriptors(), before);
}
