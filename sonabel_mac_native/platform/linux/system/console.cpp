// Console on standard output: one line per call, flushed at once so the lines show up in a
// terminal or journal while the program runs. Missing: nothing.
#include <cstdio>
#include <mutex>

#include "platform/console.h"

namespace quorvel {

namespace {

class StandardOutput final : public Console {
 public:
  void line(const std::string& text) override {
    std::lock_guard lock(mutex_);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }

 private:
  std::mutex mutex_;
};

}  // namespace

Console& standardOutput() {
  static StandardOutput console;
  return console;
}

}  // namespace quorvel
