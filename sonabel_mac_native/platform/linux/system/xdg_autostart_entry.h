// LoginItem as an XDG autostart entry: <config home>/autostart/quorvel.desktop, which session
// managers (GNOME, KDE, XFCE, LXQt) start at login.
#pragma once

#include <optional>
#include <string>

#include "platform/file_system.h"
#include "platform/home_directory.h"
#include "platform/login_item.h"

namespace quorvel {

class XdgAutostartEntry final : public LoginItem {
 public:
  // `program`: the absolute path the entry starts.
  XdgAutostartEntry(const HomeDirectory& home, FileSystem& files, std::string program);

  bool isEnabled() const override;
  bool setEnabled(bool enabled) override;

  std::string path() const;
  // The entry's text; none when `program` cannot be written into an Exec key.
  static std::optional<std::string> entryText(const std::string& program);

 private:
  const HomeDirectory& home_;
  FileSystem& files_;
  std::string program_;
};

// This process's program file (/proc/self/exe), or "" when it cannot be read.
std::string runningProgramPath();

}  // namespace quorvel
