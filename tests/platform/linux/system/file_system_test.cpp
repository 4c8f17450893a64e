#include <gtest/gtest.h>
#include <unistd.h>

#include "fakes/temp_home.h"
#include "platform/file_system.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

TEST(LocalFileSystem, writes_and_moves_whole_and_never_over_what_is_there) {
  testing::TempHome home;
  FileSystem& files = localFileSystem();
  const std::string at = home.path() + "/";
  const std::string big = std::string(300000, 'q') + std::string("\0end", 4);  // many reads
  ASSERT_TRUE(files.writeFileAtomically(at + "data", big, 0600));
  EXPECT_EQ(files.readFile(at + "data"), big);
  fs::create_directories(at + "folder/inside");  // a rename cannot replace a folder
  EXPECT_EQ(files.writeFileAtomically(at + "folder", "new", 0600).error, "Is a directory");
  std::ofstream(at + "kept") << "kept";
  EXPECT_FALSE(files.moveAside(at + "data", at + "kept"));
  EXPECT_FALSE(files.moveFolder(at + "folder", at + "data", 0700));
  // /dev/shm is a file system of its own on most machines: there the copy path runs.
  const std::string elsewhere = "/dev/shm/quorvel-move-" + std::to_string(::getpid());
  fs::create_directories(elsewhere + "/models");
  std::ofstream(elsewhere + "/models/de.dict") << "hallo";
  ASSERT_TRUE(files.moveFolder(elsewhere, at + "there", 0750));
  EXPECT_FALSE(fs::exists(elsewhere));
  EXPECT_EQ(home.mode(at + "there"), 0750u);
  ASSERT_TRUE(files.moveFolder(at + "there", at + "moved", 0700));  // a rename
  EXPECT_EQ(home.mode(at + "moved"), 0700u);
  // Nothing replaced, no temporary file or half copy left.
  EXPECT_EQ(testing::readFolder(home.path()),
            (testing::Files{{"data", big}, {"kept", "kept"}, {"moved/models/de.dict", "hallo"}}));
}

}  // namespace
}  // namespace quorvel
