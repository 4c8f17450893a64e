#include <gtest/gtest.h>

#include <sstream>
#include <thread>
#include <vector>

#include "fakes/captured_output.h"
#include "platform/console.h"

namespace quorvel {
namespace {

TEST(StandardOutput, writes_whole_lines_that_never_interleave_across_threads) {
  testing::CapturedOutput captured;
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
