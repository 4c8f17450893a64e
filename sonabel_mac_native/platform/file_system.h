// The few file operations the stores and the configuration need.
//
// Contract (every call safe from any thread, none throws):
//   - readFile: the whole file, or nullopt when it is missing or unreadable.
//   - createDirectories: creates the folder and missing parents with `mode`; true when it exists
//     afterwards.
//   - writeFileAtomically: writes to a temporary file in the same folder, flushes it to disk and
//     renames it over `path`, so a reader sees the old file or the new one, never a mix; the
//     file gets `mode`. False (and the old file untouched) on any failure.
//   - moveAside: renames `path` to `newPath` without replacing an existing file.
//   - exists: true when something is at `path`, readable or not.
//   - moveFolder: moves the folder `path` with everything in it to `newPath`, which must not
//     exist yet (its parent must), and gives it `mode`. Within one file system a rename;
//     across file systems a copy into a temporary sibling of `newPath` that is renamed into
//     place before the original is removed. False on failure, with nothing at `newPath` and
//     the original where it was (a failed removal of the original after a copy leaves both).
// Linux: POSIX calls. Tests: the real one in a temporary home, or a wrapper that fails on demand.
#pragma once

#include <optional>
#include <string>

namespace quorvel {

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  virtual std::optional<std::string> readFile(const std::string& path) const = 0;
  virtual bool createDirectories(const std::string& path, unsigned mode) = 0;
  virtual bool writeFileAtomically(const std::string& path, const std::string& bytes,
                                   unsigned mode) = 0;
  virtual bool moveAside(const std::string& path, const std::string& newPath) = 0;
  virtual bool exists(const std::string& path) const { return readFile(path).has_value(); }
  virtual bool moveFolder(const std::string& path, const std::string& newPath, unsigned mode) = 0;
};

// The machine's own file system (defined in platform/linux).
FileSystem& localFileSystem();

// For the exit path: waits (at most two seconds) for the machine file system's writes in
// progress on any thread to end, and keeps later ones from starting, so that the process can
// end at once without leaving a temporary file behind or a rename undone.
void holdFileWritesForExit();

}  // namespace quorvel
