// Everything written to file descriptors 1 and 2 while it lives (or until text() is called),
// caught at the descriptors (GoogleTest's capture) so that writes by any thread and any library
// are caught too: standard output first, then standard error.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quorvel::testing {

class CapturedOutput {
 public:
  CapturedOutput() {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
  }
  ~CapturedOutput() { text(); }

  std::string text() {
    if (!text_)
      text_ = ::testing::internal::GetCapturedStdout() + ::testing::internal::GetCapturedStderr();
    return *text_;
  }

 private:
  std::optional<std::string> text_;
};

}  // namespace quorvel::testing
