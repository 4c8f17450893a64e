#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/console.h"

namespace quorvel {
namespace {

// Points standard output at a file for the life of the object.
class CapturedStdout {
 public:
  CapturedStdout() : path_(std::filesystem::temp_directory_path() / "quorvel-console-XXXXXX") {
    std::string pattern = path_.string();
    int fd = ::mkstemp(pattern.data());
    path_ = pattern;
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
  }
  ~CapturedStdout() {
    restore();
    std::filesystem::remove(path_);
  }
  std::string text() {
    restore();
    std::ifstream in(path_);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
    saved_ = -1;
  }
  std::filesystem::path path_;
  int saved_ = -1;
};

TEST(StandardOutput, writes_whole_lines_that_never_interleave_across_threads) {
  CapturedStdout captured;
  const std::string a = "[DeepSeek] " + std::string(3000, 'a');
  const std::string b = "[AudioEngine] " + std::string(3000, 'b');
  std::vector<std::thread> threads;
  for (const std::string* text : {&a, &b, &a, &b}) {
    threads.emplace_back([text] {
      for (int i = 0; i < 50; ++i) standardOutput().line(*text);
    });
  }
  for (auto& thread : threads) thread.join();
  std::istringstream lines(captured.text());
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    EXPECT_TRUE(line == a || line == b) << line.substr(0, 40);
  }
  EXPECT_EQ(count, 200);
}

}  // namespace
}  // namespace quorvel
