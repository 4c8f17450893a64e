// Where the current user's files live.
//
// Contract: path() returns the home directory without a trailing slash; configHome() the folder
// that holds per-user settings of every program. Called from any thread.
// Linux: $HOME, falling back to the password database; $XDG_CONFIG_HOME, falling back to
// <home>/.config. Tests: a fixed temporary folder with .config inside it.
#pragma once

#include <string>
#include <utility>

namespace quorvel {

class HomeDirectory {
 public:
  virtual ~HomeDirectory() = default;
  virtual std::string path() const = 0;
  virtual std::string configHome() const { return path() + "/.config"; }

  // The folder that holds every file Quorvel keeps.
  std::string appFolder() const { return configHome() + "/quorvel"; }
  // Where earlier versions kept them; moved over once at start (see store/app_folder.h).
  std::string legacyAppFolder() const { return path() + "/Library/Application Support/Quorvel"; }
};

// $HOME when set and not empty, else the password database's entry for this user;
// $XDG_CONFIG_HOME when it is an absolute path, else <home>/.config (defined in platform/linux).
class SystemHomeDirectory final : public HomeDirectory {
 public:
  std::string path() const override;
  std::string configHome() const override;
};

class FixedHomeDirectory final : public HomeDirectory {
 public:
  explicit FixedHomeDirectory(std::string path) : path_(std::move(path)) {}
  std::string path() const override { return path_; }

 private:
  std::string path_;
};

}  // namespace quorvel
