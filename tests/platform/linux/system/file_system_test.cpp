#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "fakes/temp_home.h"
#include "platform/file_system.h"

namespace quorvel {
namespace {

using testing::readFolder;
namespace fs = std::filesystem;

class LocalFileSystem : public ::testing::Test {
 protected:
  std::string at(const std::string& name) const { return home.path() + "/" + name; }
  size_t entries() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(home.path()), {}));
  }

  testing::TempHome home;
  FileSystem& files = localFileSystem();
};

TEST_F(LocalFileSystem, creates_missing_parents_with_the_mode_and_accepts_an_existing_folder) {
  ASSERT_TRUE(files.createDirectories(at("a/b/c"), 0700));
  EXPECT_EQ(home.mode(at("a")), 0700u);
  EXPECT_TRUE(files.createDirectories(at("a/b/c/"), 0700));
  std::ofstream(at("plain")) << "x";
  EXPECT_FALSE(files.createDirectories(at("plain/sub"), 0700));
}

TEST_F(LocalFileSystem, writes_whole_files_atomically_with_the_mode_and_no_temporary_left) {
  const std::string big(300000, 'q');
  ASSERT_TRUE(files.writeFileAtomically(at("data"), "first", 0600));
  ASSERT_TRUE(files.writeFileAtomically(at("data"), big + std::string("\0end", 4), 0600));
  EXPECT_EQ(files.readFile(at("data")), big + std::string("\0end", 4));
  EXPECT_EQ(home.mode(at("data")), 0600u);
  EXPECT_FALSE(files.readFile(at("nothing")));
  EXPECT_EQ(entries(), 1u);
}

TEST_F(LocalFileSystem, failed_write_keeps_the_old_target_and_cleans_up) {
  fs::create_directory(at("blocked"));  // a folder in the way: the rename cannot replace it
  std::ofstream(at("blocked/inside")) << "kept";
  EXPECT_EQ(files.writeFileAtomically(at("blocked"), "new", 0600).error, "Is a directory");
  EXPECT_EQ(files.readFile(at("blocked/inside")), "kept");
  EXPECT_EQ(entries(), 1u);
  EXPECT_EQ(files.writeFileAtomically(at("missing/x"), "new", 0600).error,
            "No such file or directory");
}

TEST_F(LocalFileSystem, moves_aside_without_replacing_an_existing_file) {
  std::ofstream(at("usage.json")) << "broken";
  std::ofstream(at("usage.json.1")) << "earlier";
  EXPECT_FALSE(files.moveAside(at("usage.json"), at("usage.json.1")));
  ASSERT_TRUE(files.moveAside(at("usage.json"), at("usage.json.2")));
  EXPECT_FALSE(files.exists(at("usage.json")));
  EXPECT_EQ(readFolder(home.path()), (std::map<std::string, std::string>{
                                         {"usage.json.1", "earlier"}, {"usage.json.2", "broken"}}));
}

TEST_F(LocalFileSystem, moves_a_folder_whole_within_and_across_file_systems_never_over_another) {
  const std::map<std::string, std::string> content = {{"config.json", "{}"},
                                                      {"models/de.dict", "hallo"}};
  // /dev/shm is a file system of its own on most machines: there the copy path runs.
  const std::pair<std::string, std::string> moves[] = {
      {at("old"), at("new")},
      {"/dev/shm/quorvel-move-" + std::to_string(::getpid()), at("from-elsewhere")}};
  for (const auto& [from, to] : moves) {
    SCOPED_TRACE(from);
    for (const auto& [name, bytes] : content) {
      fs::create_directories(fs::path(from + "/" + name).parent_path());
      std::ofstream(from + "/" + name) << bytes;
    }
    fs::create_directories(to);
    EXPECT_FALSE(files.moveFolder(from, to, 0700));
    fs::remove(to);
    ASSERT_TRUE(files.moveFolder(from, to, 0700));
    EXPECT_FALSE(fs::exists(from));
    EXPECT_EQ(readFolder(to), content);
    EXPECT_EQ(home.mode(to), 0700u);
  }
  EXPECT_EQ(entries(), 2u);  // no copy left half-way
}

}  // namespace
}  // namespace quorvel
