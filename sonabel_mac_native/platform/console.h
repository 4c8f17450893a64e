// Diagnostic lines ("[DeepSeek] ...", "[AudioEngine] ...", "[Hotkey] ...").
//
// Contract: line(text) writes text as one line and flushes it; safe from any thread, and
// lines from different threads never interleave. Linux: standard output. Tests: a recorder.
#pragma once

#include <string>

namespace quorvel {

class Console {
 public:
  virtual ~Console() = default;
  virtual void line(const std::string& text) = 0;
};

// The process's standard output (defined in platform/linux).
Console& standardOutput();

}  // namespace quorvel
