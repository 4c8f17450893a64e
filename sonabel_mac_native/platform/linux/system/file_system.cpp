// FileSystem on POSIX calls. Atomic writes go through mkstemp in the target's folder, fsync and
// rename, so a crash leaves the old file or the new one. Missing: the folder itself is not
// fsynced after the rename (the new name may be lost on power failure; the old file then stays).
#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <vector>

namespace quorvel {

namespace {

bool isDirectory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool writeAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Held by every write, and for good by the exit path.
std::timed_mutex& writeGate() {
  static std::timed_mutex gate;
  return gate;
}

// A rename that never replaces what is at `to`; errno tells why it failed.
bool renameFolder(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without RENAME_NOREPLACE: a plain rename replaces only an empty folder, and
  // the caller has checked that nothing is there.
  return ::rename(from.c_str(), to.c_str()) == 0;
}

std::string folderOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

class LocalFileSystem final : public FileSystem {
 public:
  std::optional<std::string> readFile(const std::string& path) const override {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string bytes;
    char chunk[65536];
    for (;;) {
      ssize_t n = ::read(fd, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        ::close(fd);
        return std::nullopt;
      }
      if (n == 0) break;
      bytes.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    return bytes;
  }

  bool createDirectories(const std::string& path, unsigned mode) override {
    if (path.empty()) return false;
    size_t pos = 0;
    while (pos != std::string::npos) {
      pos = path.find('/', pos + 1);
      std::string prefix = path.substr(0, pos);
      if (prefix.empty() || isDirectory(prefix)) continue;
      if (::mkdir(prefix.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) {
        return false;
      }
    }
    return isDirectory(path);
  }

  bool writeFileAtomically(const std::string& path, const std::string& bytes,
                           unsigned mode) override {
    std::lock_guard<std::timed_mutex> writing(writeGate());
    std::string name = path.substr(path.find_last_of('/') + 1);
    std::string temp = folderOf(path) + "/." + name + ".XXXXXX";
    std::vector<char> buffer(temp.begin(), temp.end());
    buffer.push_back('\0');
    int fd = ::mkstemp(buffer.data());
    if (fd < 0) return false;
    std::string tempPath(buffer.data());
    bool ok =
        writeAll(fd, bytes) && ::fchmod(fd, static_cast<mode_t>(mode)) == 0 && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(tempPath.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(tempPath.c_str());
    return ok;
  }

  bool moveAside(const std::string& path, const std::string& newPath) override {
    std::lock_guard<std::timed_mutex> writing(writeGate());
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, newPath.c_str(), RENAME_NOREPLACE) == 0) {
      return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without RENAME_NOREPLACE: link() refuses an existing target just as well.
    if (::link(path.c_str(), newPath.c_str()) != 0) return false;
    return ::unlink(path.c_str()) == 0;
  }

  bool exists(const std::string& path) const override {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
  }

  bool moveFolder(const std::string& path, const std::string& newPath, unsigned mode) override {
    if (!isDirectory(path) || exists(newPath)) return false;
    if (renameFolder(path, newPath)) {
      ::chmod(newPath.c_str(), static_cast<mode_t>(mode));
      return true;
    }
    if (errno != EXDEV) return false;
    // Another file system: copy beside the target first, so that a crash part-way leaves no
    // half-filled folder under the final name.
    std::string temp = newPath + ".moving-XXXXXX";
    std::vector<char> buffer(temp.begin(), temp.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) return false;
    namespace fs = std::filesystem;
    std::error_code error;
    fs::copy(path, buffer.data(), fs::copy_options::recursive | fs::copy_options::copy_symlinks,
             error);
    if (!error) {
      ::chmod(buffer.data(), static_cast<mode_t>(mode));
      if (!renameFolder(buffer.data(), newPath)) {
        error = std::error_code(errno, std::generic_category());
      }
    }
    if (error) {
      fs::remove_all(buffer.data(), error);
      return false;
    }
    fs::remove_all(path, error);
    return true;
  }
};

}  // namespace

FileSystem& localFileSystem() {
  static LocalFileSystem files;
  return files;
}

void holdFileWritesForExit() {
  // Never released: the process ends next. A writer stuck beyond the bound (a hung disk) is
  // left to the rename's all-or-nothing.
  (void)writeGate().try_lock_for(std::chrono::seconds(2));
}

}  // namespace quorvel
