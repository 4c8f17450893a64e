// XdgAutostartEntry: writes and removes <config home>/autostart/quorvel.desktop; the entry
// exists exactly while Quorvel starts at login (an entry the user disabled with Hidden=true
// still counts as there). Missing: nothing.
#include "platform/linux/system/xdg_autostart_entry.h"

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <utility>

namespace quorvel {

namespace {

constexpr unsigned kFolderMode = 0700;
constexpr unsigned kEntryMode = 0644;

// The program as one argument of an Exec key: quoted when it holds a reserved character, then
// escaped as a desktop entry string ('\' doubled, '%' doubled).
std::optional<std::string> execArgument(const std::string& program) {
  const std::string reserved = " \t\"'\\><~|&;$*?#()`";
  bool quote = false;
  for (unsigned char c : program) {
    if (c < 0x20 || c == 0x7f) return std::nullopt;
    if (reserved.find(static_cast<char>(c)) != std::string::npos) quote = true;
  }
  std::string argument;
  if (quote) argument += '"';
  for (char c : program) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) argument += '\\';
    argument += c;
  }
  if (quote) argument += '"';
  std::string escaped;
  for (char c : argument) {
    if (c == '\\') escaped += '\\';
    if (c == '%') escaped += '%';
    escaped += c;
  }
  return escaped;
}

}  // namespace

XdgAutostartEntry::XdgAutostartEntry(const HomeDirectory& home, FileSystem& files,
                                     std::string program)
    : home_(home), files_(files), program_(std::move(program)) {}

std::string XdgAutostartEntry::path() const {
  return home_.configHome() + "/autostart/quorvel.desktop";
}

std::optional<std::string> XdgAutostartEntry::entryText(const std::string& program) {
  if (program.empty() || program.front() != '/') return std::nullopt;
  auto exec = execArgument(program);
  if (!exec) return std::nullopt;
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Quorvel\n"
         "Comment=Dictation from the tray: speech to polished text\n"
         "Exec=" +
         *exec +
         "\n"
         "Icon=quorvel\n"
         "Terminal=false\n"
         "StartupNotify=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

bool XdgAutostartEntry::isEnabled() const {
  return files_.exists(path());
}

bool XdgAutostartEntry::setEnabled(bool enabled) {
  const std::string entry = path();
  if (!enabled) return ::unlink(entry.c_str()) == 0 || errno == ENOENT;
  auto text = entryText(program_);
  if (!text) return false;
  files_.createDirectories(home_.configHome() + "/autostart", kFolderMode);
  return files_.writeFileAtomically(entry, *text, kEntryMode);
}

std::string runningProgramPath() {
  std::error_code error;
  auto program = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : program.string();
}

}  // namespace quorvel
