// A file system held in memory: fast enough for a fuzzer to read and write the stores
// thousands of times a second. Folders are implied by the files in them and never move.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/file_system.h"

namespace quorvel::testing {

class MemoryFileSystem final : public FileSystem {
 public:
  std::map<std::string, std::string> files;

  std::optional<std::string> readFile(const std::string& path) const override {
    return files.contains(path) ? std::optional(files.at(path)) : std::nullopt;
  }
  bool createDirectories(const std::string&, unsigned) override { return true; }
  WriteResult writeFileAtomically(const std::string& path, const std::string& bytes,
                                  unsigned) override {
    files[path] = bytes;
    return {};
  }
  bool moveAside(const std::string& path, const std::string& newPath) override {
    if (!files.contains(path) || files.contains(newPath)) return false;
    files[newPath] = files[path];
    files.erase(path);
    return true;
  }
  bool moveFolder(const std::string&, const std::string&, unsigned) override { return false; }
};

}  // namespace quorvel::testing
