// Where the current user's files live.
//
// Contract: path() returns the home directory without a trailing slash. Called from any thread.
// Linux: $HOME, falling back to the password database. Tests: a fixed temporary folder.
#pragma once

#include <string>
#include <utility>

namespace quorvel {

class HomeDirectory {
 public:
  virtual ~HomeDirectory() = default;
  virtual std::string path() const = 0;
};

// $HOME when set and not empty, else the password database's entry for this user (defined in
// platform/linux).
class SystemHomeDirectory final : public HomeDirectory {
 public:
  std::string path() const override;
};

class FixedHomeDirectory final : public HomeDirectory {
 public:
  explicit FixedHomeDirectory(std::string path) : path_(std::move(path)) {}
  std::string path() const override { return path_; }

 private:
  std::string path_;
};

}  // namespace quorvel
