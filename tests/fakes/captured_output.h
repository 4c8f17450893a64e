// Everything written to file descriptors 1 and 2 while it lives (or until text() is called),
// caught at the descriptors so that writes by any thread and any library are caught too.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

namespace quorvel::testing {

class CapturedOutput {
 public:
  CapturedOutput() : file_(std::tmpfile()), out_(::dup(1)), err_(::dup(2)) {
    std::fflush(nullptr);
    ::dup2(::fileno(file_), 1);
    ::dup2(::fileno(file_), 2);
  }
  ~CapturedOutput() { text(); }

  std::string text() {
    if (file_ == nullptr) return text_;
    std::fflush(nullptr);
    ::dup2(out_, 1);
    ::dup2(err_, 2);
    ::close(out_);
    ::close(err_);
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;) text_ += static_cast<char>(c);
    std::fclose(file_);
    file_ = nullptr;
    return text_;
  }

 private:
  std::FILE* file_;
  int out_, err_;
  std::string text_;
};

}  // namespace quorvel::testing
