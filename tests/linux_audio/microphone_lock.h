// Tests that play into the test session's null sink "vmic" and listen to its monitor run one
// at a time, also under a parallel ctest: each holds this lock (a file lock in the session's
// private PulseAudio folder) while it plays and listens. Any test that plays into vmic should
// take it too.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace quorvel::testing {

class MicrophoneLock {
 public:
  MicrophoneLock() {
    const char* dir = std::getenv("PULSE_RUNTIME_PATH");
    const std::string path = std::string(dir && *dir ? dir : "/tmp") + "/quorvel-vmic.lock";
    fd_ = ::open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  ~MicrophoneLock() {
    if (fd_ >= 0) ::close(fd_);  // releases the lock
  }
  MicrophoneLock(const MicrophoneLock&) = delete;
  MicrophoneLock& operator=(const MicrophoneLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace quorvel::testing
