// The real file system with faults on demand: atomic writes that fail before the rename (as a
// full disk would) and set-asides that fail.
#pragma once

#include <string>

#include "platform/file_system.h"

namespace quorvel::testing {

class FailingFileSystem final : public FileSystem {
 public:
  explicit FailingFileSystem(FileSystem& real) : real_(real) {}

  bool failWrites = false, failMoveAside = false;

  std::optional<std::string> readFile(const std::string& path) const override {
    return real_.readFile(path);
  }
  bool createDirectories(const std::string& path, unsigned mode) override {
    return real_.createDirectories(path, mode);
  }
  WriteResult writeFileAtomically(const std::string& path, const std::string& bytes,
                                  unsigned mode) override {
    if (!failWrites) return real_.writeFileAtomically(path, bytes, mode);
    return {"No space left on device"};
  }
  bool moveAside(const std::string& path, const std::string& newPath) override {
    return !failMoveAside && real_.moveAside(path, newPath);
  }
  bool exists(const std::string& path) const override { return real_.exists(path); }
  bool moveFolder(const std::string& path, const std::string& newPath, unsigned mode) override {
    return real_.moveFolder(path, newPath, mode);
  }

 private:
  FileSystem& real_;
};

}  // namespace quorvel::testing
