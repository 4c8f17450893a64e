// A file system held in memory: fast enough for a fuzzer to read and write the stores
// thousands of times a second. Folders are implied by the files in them.
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
    auto it = files.find(path);
    if (it == files.end()) return std::nullopt;
    return it->second;
  }
  bool createDirectories(const std::string&, unsigned) override { return true; }
  bool writeFileAtomically(const std::string& path, const std::string& bytes, unsigned) override {
    files[path] = bytes;
    return true;
  }
  bool moveAside(const std::string& path, const std::string& newPath) override {
    auto it = files.find(path);
    if (it == files.end() || files.count(newPath) != 0) return false;
    files[newPath] = it->second;
    files.erase(path);
    return true;
  }
  bool exists(const std::string& path) const override { return files.count(path) != 0; }
};

}  // namespace quorvel::testing
