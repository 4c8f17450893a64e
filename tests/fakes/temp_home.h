// A fresh home folder under the system's temporary folder, removed with everything in it when
// the test ends. Doubles as the HomeDirectory the code under test sees; the helpers below read
// and write files in its application folder (appFolder()).
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include "platform/home_directory.h"

namespace quorvel::testing {

using Files = std::map<std::string, std::string>;  // relative path → bytes

inline std::optional<std::string> readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every regular file below `folder`; nullopt when the folder is not there.
inline std::optional<Files> readFolder(const std::string& folder) {
  if (!std::filesystem::is_directory(folder)) return std::nullopt;
  Files found;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) found[relative(entry.path(), folder)] = *readBytes(entry.path());
  return found;
}

class TempHome final : public HomeDirectory {
 public:
  TempHome() { (void)::mkdtemp(path_.data()); }
  ~TempHome() override {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  std::string path() const override { return path_; }
  std::string file(const std::string& name) const { return appFolder() + "/" + name; }
  void put(const std::string& name, const std::string& bytes) const {
    std::filesystem::create_directories(appFolder());
    std::ofstream(file(name), std::ios::binary) << bytes;
  }
  std::optional<std::string> get(const std::string& name) const { return readBytes(file(name)); }
  bool has(const std::string& name) const { return std::filesystem::exists(file(name)); }
  // The files of the application folder whose names start with `prefix`.
  Files startingWith(const std::string& prefix) const {
    Files found = readFolder(appFolder()).value_or(Files{});
    std::erase_if(found, [&](const auto& entry) { return entry.first.rfind(prefix, 0) != 0; });
    return found;
  }
  unsigned mode(const std::string& path) const {
    return static_cast<unsigned>(std::filesystem::status(path).permissions()) & 0777u;
  }

 private:
  std::string path_ = std::filesystem::temp_directory_path() / "quorvel-home-XXXXXX";
};

}  // namespace quorvel::testing
