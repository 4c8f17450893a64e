// A fresh home folder under the system's temporary folder, removed with everything in it when
// the test ends. Doubles as the HomeDirectory the code under test sees.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "platform/home_directory.h"

namespace quorvel::testing {

// Every regular file below `folder`, by relative path (→ bytes); nullopt when the folder is not
// there.
inline std::optional<std::map<std::string, std::string>> readFolder(const std::string& folder) {
  if (!std::filesystem::is_directory(folder)) return std::nullopt;
  std::map<std::string, std::string> found;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    found[std::filesystem::relative(entry.path(), folder).string()] =
        std::string(std::istreambuf_iterator<char>(in), {});
  }
  return found;
}

class TempHome final : public HomeDirectory {
 public:
  TempHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-home-XXXXXX").string();
    char* made = ::mkdtemp(pattern.data());
    if (made != nullptr) path_ = made;
  }
  ~TempHome() override {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  std::string path() const override { return path_; }
  std::string appSupport() const { return path_ + "/.config/quorvel"; }
  std::string file(const std::string& name) const { return appSupport() + "/" + name; }

  void put(const std::string& name, const std::string& bytes) const {
    std::filesystem::create_directories(appSupport());
    std::ofstream(file(name), std::ios::binary) << bytes;
  }
  std::optional<std::string> get(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  bool has(const std::string& name) const { return std::filesystem::exists(file(name)); }
  // Names in the application support folder that start with `prefix`.
  int countStartingWith(const std::string& prefix) const {
    int count = 0;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(appSupport(), ignored)) {
      if (entry.path().filename().string().rfind(prefix, 0) == 0) ++count;
    }
    return count;
  }
  // Bytes of the first file in the application support folder whose name starts with `prefix`.
  std::optional<std::string> getStartingWith(const std::string& prefix) const {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(appSupport(), ignored)) {
      auto name = entry.path().filename().string();
      if (name.rfind(prefix, 0) == 0) return get(name);
    }
    return std::nullopt;
  }
  unsigned mode(const std::string& path) const {
    return static_cast<unsigned>(std::filesystem::status(path).permissions()) & 0777u;
  }

 private:
  std::string path_;
};

}  // namespace quorvel::testing
