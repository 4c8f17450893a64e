#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "fakes/temp_home.h"
#include "platform/file_system.h"

namespace quorvel {
namespace {

using testing::TempHome;
namespace fs = std::filesystem;

TEST(LocalFileSystem, creates_missing_parents_with_the_mode_and_accepts_an_existing_folder) {
  TempHome home;
  FileSystem& files = localFileSystem();
  std::string deep = home.path() + "/a/b/c";
  ASSERT_TRUE(files.createDirectories(deep, 0700));
  EXPECT_EQ(home.mode(deep), 0700u);
  EXPECT_EQ(home.mode(home.path() + "/a"), 0700u);
  EXPECT_TRUE(files.createDirectories(deep, 0700));
  EXPECT_TRUE(files.createDirectories(deep + "/", 0700));

  std::ofstream(home.path() + "/plain") << "x";
  EXPECT_FALSE(files.createDirectories(home.path() + "/plain/sub", 0700));
}

TEST(LocalFileSystem, writes_atomically_with_the_mode_and_leaves_no_temporary_file) {
  TempHome home;
  FileSystem& files = localFileSystem();
  std::string path = home.path() + "/data.json";
  ASSERT_TRUE(files.writeFileAtomically(path, "first", 0600));
  ASSERT_TRUE(files.writeFileAtomically(path, std::string("sec\0ond", 7), 0600));
  EXPECT_EQ(files.readFile(path), std::string("sec\0ond", 7));
  EXPECT_EQ(home.mode(path), 0600u);
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(home.path())) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST(LocalFileSystem, failed_write_keeps_the_old_target_and_cleans_up) {
  TempHome home;
  FileSystem& files = localFileSystem();
  // A folder in the way: the rename cannot replace it.
  std::string blocked = home.path() + "/blocked";
  fs::create_directory(blocked);
  std::ofstream(blocked + "/inside") << "kept";
  EXPECT_EQ(files.writeFileAtomically(blocked, "new", 0600).error, "Is a directory");
  EXPECT_TRUE(fs::is_directory(blocked));
  EXPECT_EQ(files.readFile(blocked + "/inside"), "kept");
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(home.path())) ++entries;
  EXPECT_EQ(entries, 1);

  EXPECT_EQ(files.writeFileAtomically(home.path() + "/missing/x", "new", 0600).error,
            "No such file or directory");
}

TEST(LocalFileSystem, reads_whole_files_and_reports_missing_ones) {
  TempHome home;
  FileSystem& files = localFileSystem();
  std::string big(300000, 'q');
  ASSERT_TRUE(files.writeFileAtomically(home.path() + "/big", big, 0600));
  EXPECT_EQ(files.readFile(home.path() + "/big"), big);
  EXPECT_FALSE(files.readFile(home.path() + "/nothing"));
  EXPECT_FALSE(files.exists(home.path() + "/nothing"));
  EXPECT_TRUE(files.exists(home.path() + "/big"));
}

TEST(LocalFileSystem, moves_aside_without_replacing_an_existing_file) {
  TempHome home;
  FileSystem& files = localFileSystem();
  std::string path = home.path() + "/usage.json";
  std::string aside = path + ".unreadable-1";
  std::ofstream(path) << "broken";
  std::ofstream(aside) << "earlier";
  EXPECT_FALSE(files.moveAside(path, aside));
  EXPECT_EQ(files.readFile(aside), "earlier");
  EXPECT_EQ(files.readFile(path), "broken");
  ASSERT_TRUE(files.moveAside(path, path + ".unreadable-2"));
  EXPECT_FALSE(files.exists(path));
  EXPECT_EQ(files.readFile(path + ".unreadable-2"), "broken");
  EXPECT_FALSE(files.moveAside(path, path + ".unreadable-3"));
}

TEST(LocalFileSystem, moves_a_folder_whole_within_and_across_file_systems_never_over_another) {
  TempHome home;
  FileSystem& files = localFileSystem();
  const std::map<std::string, std::string> content = {{"config.json", "{}"},
                                                      {"models/de/de.dict", "hallo"}};
  auto fill = [&](const std::string& folder) {
    for (const auto& [name, bytes] : content) {
      fs::create_directories(fs::path(folder + "/" + name).parent_path());
      std::ofstream(folder + "/" + name) << bytes;
    }
  };
  // /dev/shm is a file system of its own on most machines: there the copy path runs.
  std::string elsewhere = "/dev/shm/quorvel-move-" + std::to_string(::getpid());
  const std::pair<std::string, std::string> moves[] = {
      {home.path() + "/old", home.path() + "/new"},
      {elsewhere, home.path() + "/from-elsewhere"},
  };
  for (const auto& [from, to] : moves) {
    SCOPED_TRACE(from);
    fill(from);
    fs::create_directories(to);
    EXPECT_FALSE(files.moveFolder(from, to, 0700));
    EXPECT_EQ(testing::readFolder(from), content);
    fs::remove(to);

    ASSERT_TRUE(files.moveFolder(from, to, 0700));
    EXPECT_FALSE(fs::exists(from));
    EXPECT_EQ(testing::readFolder(to), content);
    EXPECT_EQ(home.mode(to), 0700u);
  }
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(home.path())) ++entries;
  EXPECT_EQ(entries, 2);  // no copy left half-way
}

}  // namespace
}  // namespace quorvel
