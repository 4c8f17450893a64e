// SystemHomeDirectory: $HOME, else the password database entry of the real user id, without a
// trailing slash; $XDG_CONFIG_HOME when absolute (a relative one is invalid and ignored), else
// <home>/.config. Missing: nothing; when neither source answers, the path is empty.
#include "platform/home_directory.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace quorvel {

namespace {

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string fromPasswordDatabase() {
  long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 4096);
  for (int attempt = 0; attempt < 8; ++attempt) {
    passwd entry{};
    passwd* found = nullptr;
    int rc = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found);
    if (rc == ERANGE) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc != 0 || found == nullptr || found->pw_dir == nullptr) return {};
    return found->pw_dir;
  }
  return {};
}

}  // namespace

std::string SystemHomeDirectory::path() const {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return withoutTrailingSlash(home);
  return withoutTrailingSlash(fromPasswordDatabase());
}

std::string SystemHomeDirectory::configHome() const {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return withoutTrailingSlash(config);
  return path() + "/.config";
}

}  // namespace quorvel
