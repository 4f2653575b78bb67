#include "foundation/FileManager.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "foundation/PropertyList.h"
#include "foundation/RegularFile.h"
#include "support/TestHome.h"

using foundation::FileManager;
using testing_support::writeFile;

namespace {

class FileManagerTest : public testing_support::HomeTest {
 protected:
  static std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(FileManagerTest, ExistenceFollowsLinksAndReportsFolders) {
  writeFile(sandbox.inHome("a/file"), "x");
  bool isDirectory = true;
  EXPECT_TRUE(FileManager::fileExistsAtPath(sandbox.inHome("a/file"), &isDirectory));
  EXPECT_FALSE(isDirectory);
  EXPECT_TRUE(FileManager::fileExistsAtPath(sandbox.inHome("a"), &isDirectory));
  EXPECT_TRUE(isDirectory);
  EXPECT_FALSE(FileManager::fileExistsAtPath(sandbox.inHome("missing")));
  EXPECT_FALSE(FileManager::fileExistsAtPath(""));
  ASSERT_EQ(symlink(sandbox.inHome("missing").c_str(), sandbox.inHome("dangling").c_str()), 0);
  EXPECT_FALSE(FileManager::fileExistsAtPath(sandbox.inHome("dangling")));
}

TEST_F(FileManagerTest, SystemLocationsLiveUnderThePlatformRoot) {
  writeFile(sandbox.inRoot("Applications/Tool.app/Contents/Info.plist"), "x");
  EXPECT_TRUE(FileManager::fileExistsAtPath("/Applications/Tool.app"));
  EXPECT_TRUE(FileManager::isExecutableFileAtPath("/Applications/Tool.app"));
  EXPECT_FALSE(FileManager::fileExistsAtPath("/Applications/Other.app"));
  EXPECT_EQ(FileManager::contentsOfDirectoryAtURL("/Applications", 0),
            std::vector<std::string>{"/Applications/Tool.app"});
}

TEST_F(FileManagerTest, EveryFileFunctionMapsSystemLocationsOnce) {
  const std::string agentPath = "/private/var/db/test.plist";
  const std::string real = sandbox.inRoot("private/var/db/test.plist");
  EXPECT_EQ(FileManager::fileSystemRepresentationWithPath(agentPath), real);
  std::filesystem::create_directories(sandbox.inRoot("private/var/db"));
  ASSERT_TRUE(foundation::writePropertyListFile(agentPath, foundation::PlistValue(true)));
  EXPECT_TRUE(std::filesystem::exists(real));
  // The agent path and the real one, already mapped, name the same file.
  for (const std::string& path : {agentPath, real}) {
    EXPECT_EQ(foundation::readPropertyListFile(path), foundation::PlistValue(true)) << path;
    EXPECT_TRUE(foundation::openRegularFile(path).valid()) << path;
    EXPECT_TRUE(FileManager::fileExistsAtPath(path)) << path;
  }
  EXPECT_FALSE(foundation::openRegularFile(sandbox.inRoot("private")).valid());
}

TEST_F(FileManagerTest, ExecutableMeansExecuteOrEnterPermission) {
  std::string script = sandbox.inHome("script"), plain = sandbox.inHome("plain");
  writeFile(script, "#!/bin/sh\n");
  writeFile(plain, "text");
  ASSERT_EQ(chmod(script.c_str(), 0755), 0);
  ASSERT_EQ(chmod(plain.c_str(), 0644), 0);
  EXPECT_TRUE(FileManager::isExecutableFileAtPath(script));
  EXPECT_FALSE(FileManager::isExecutableFileAtPath(plain));
  EXPECT_TRUE(FileManager::isExecutableFileAtPath(sandbox.home()));
  EXPECT_FALSE(FileManager::isExecutableFileAtPath(sandbox.inHome("missing")));
  EXPECT_FALSE(FileManager::isExecutableFileAtPath(""));
}

TEST_F(FileManagerTest, ListingGivesImmediateNamesWhateverTheyHold) {
  const std::string odd = "with space \"quoted\" 'single'\nnewline";
  writeFile(sandbox.inHome("dir/" + odd), "1");
  writeFile(sandbox.inHome("dir/.hidden"), "2");
  writeFile(sandbox.inHome("dir/sub/deeper"), "3");
  auto names = FileManager::contentsOfDirectoryAtPath(sandbox.inHome("dir"));
  ASSERT_TRUE(names);
  EXPECT_EQ(sorted(*names), (std::vector<std::string>{".hidden", "sub", odd}));

  auto all = FileManager::contentsOfDirectoryAtURL(sandbox.inHome("dir/"), 0);
  ASSERT_TRUE(all);
  EXPECT_EQ(sorted(*all),
            (std::vector<std::string>{sandbox.inHome("dir/.hidden"), sandbox.inHome("dir/sub"),
                                      sandbox.inHome("dir/" + odd)}));
  auto visible = FileManager::contentsOfDirectoryAtURL(
      sandbox.inHome("dir"), foundation::NSDirectoryEnumerationSkipsHiddenFiles);
  ASSERT_TRUE(visible);
  EXPECT_EQ(sorted(*visible),
            (std::vector<std::string>{sandbox.inHome("dir/sub"), sandbox.inHome("dir/" + odd)}));
}

TEST_F(FileManagerTest, ListingSomethingThatIsNoFolderGivesNothing) {
  writeFile(sandbox.inHome("file"), "x");
  EXPECT_FALSE(FileManager::contentsOfDirectoryAtPath(sandbox.inHome("file")));
  EXPECT_FALSE(FileManager::contentsOfDirectoryAtPath(sandbox.inHome("missing")));
  EXPECT_FALSE(FileManager::contentsOfDirectoryAtPath(""));
  EXPECT_FALSE(FileManager::contentsOfDirectoryAtURL(sandbox.inHome("file"), 0));
  std::filesystem::create_directories(sandbox.inHome("empty"));
  auto empty = FileManager::contentsOfDirectoryAtPath(sandbox.inHome("empty"));
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
}

TEST_F(FileManagerTest, CreationTimeIsBirthTimeWhereRecordedElseModificationTime) {
  std::string path = sandbox.inHome("born");
  writeFile(path, "x");
  // Move the modification time far away: the birth time, where the file system keeps one, stays.
  timespec times[2] = {{0, UTIME_OMIT}, {1'000'000'000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  struct statx info {};
  ASSERT_EQ(statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &info), 0);

  auto created = FileManager::creationDateOfItemAtPath(path);
  ASSERT_TRUE(created);
  if (info.stx_mask & STATX_BTIME) {
    EXPECT_EQ(created->timeIntervalSince1970,
              static_cast<double>(info.stx_btime.tv_sec) + info.stx_btime.tv_nsec / 1e9);
    EXPECT_NE(created->timeIntervalSince1970, 1'000'000'000.0);
  } else {
    EXPECT_EQ(created->timeIntervalSince1970, 1'000'000'000.0);
  }
  EXPECT_FALSE(FileManager::creationDateOfItemAtPath(sandbox.inHome("missing")));
  EXPECT_FALSE(FileManager::creationDateOfItemAtPath(""));
  // A link describes itself, so a dangling one still has a time.
  ASSERT_EQ(symlink("nowhere", sandbox.inHome("link").c_str()), 0);
  EXPECT_TRUE(FileManager::creationDateOfItemAtPath(sandbox.inHome("link")));
}

TEST_F(FileManagerTest, RemovalTakesFoldersWithContentsAndLinksNotTheirTargets) {
  writeFile(sandbox.inHome("tree/a/b/c"), "x");
  writeFile(sandbox.inHome("kept/inside"), "y");
  ASSERT_EQ(symlink(sandbox.inHome("kept").c_str(), sandbox.inHome("link").c_str()), 0);

  EXPECT_TRUE(FileManager::removeItemAtPath(sandbox.inHome("tree")));
  EXPECT_FALSE(std::filesystem::exists(sandbox.inHome("tree")));
  EXPECT_TRUE(FileManager::removeItemAtPath(sandbox.inHome("link")));
  EXPECT_FALSE(std::filesystem::is_symlink(sandbox.inHome("link")));
  EXPECT_TRUE(std::filesystem::exists(sandbox.inHome("kept/inside")));
  EXPECT_FALSE(FileManager::removeItemAtPath(sandbox.inHome("tree")));

  writeFile(sandbox.inRoot("Applications/Old.app/x"), "z");
  EXPECT_TRUE(FileManager::removeItemAtPath("/Applications/Old.app"));
  EXPECT_FALSE(std::filesystem::exists(sandbox.inRoot("Applications/Old.app")));
}

TEST_F(FileManagerTest, RemovalRefusesTheRootAndDotNames) {
  writeFile(sandbox.inHome("kept/inside"), "y");
  EXPECT_FALSE(FileManager::removeItemAtPath(""));
  EXPECT_FALSE(FileManager::removeItemAtPath("/"));
  EXPECT_FALSE(FileManager::removeItemAtPath("//"));
  EXPECT_FALSE(FileManager::removeItemAtPath(sandbox.inHome("kept/.")));
  EXPECT_FALSE(FileManager::removeItemAtPath(sandbox.inHome("kept/inside/..")));
  EXPECT_TRUE(std::filesystem::exists(sandbox.inHome("kept/inside")));
}

TEST_F(FileManagerTest, StandardDirectories) {
  using foundation::NSApplicationDirectory, foundation::NSDesktopDirectory,
      foundation::NSLibraryDirectory, foundation::NSLocalDomainMask, foundation::NSUserDomainMask;
  EXPECT_EQ(FileManager::URLsForDirectory(NSApplicationDirectory, NSLocalDomainMask),
            std::vector<std::string>{"/Applications"});
  EXPECT_EQ(FileManager::URLsForDirectory(NSDesktopDirectory, NSUserDomainMask),
            std::vector<std::string>{sandbox.inHome("Desktop")});
  EXPECT_EQ(FileManager::URLsForDirectory(NSLibraryDirectory, NSUserDomainMask),
            std::vector<std::string>{sandbox.inHome("Library")});
  EXPECT_TRUE(FileManager::URLsForDirectory(NSDesktopDirectory, NSLocalDomainMask).empty());
  EXPECT_EQ(FileManager::searchPathForDirectoriesInDomains(
                NSApplicationDirectory, NSUserDomainMask | NSLocalDomainMask, false),
            (std::vector<std::string>{"~/Applications", "/Applications"}));
  EXPECT_TRUE(FileManager::URLsForDirectory(static_cast<foundation::SearchPathDirectory>(99),
                                            NSUserDomainMask | NSLocalDomainMask)
                  .empty());
}

}  // namespace
