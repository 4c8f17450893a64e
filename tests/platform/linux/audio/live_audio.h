// The test session's sound server (scripts/with-test-session) for tests and benchmarks that
// record for real. Tests that play into the null sink "vmic" and listen to its monitor run one
// at a time, also under a parallel ctest: each holds MicrophoneLock (a file lock in the
// session's private PulseAudio folder) while it plays and listens. Player plays a recording
// into vmic; startAndWait starts an input and waits, bounded, for its answer.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/speech.h"

extern char** environ;

namespace quorvel::testing {

inline bool pulseSession() {
  const char* flag = std::getenv("QUORVEL_TEST_PULSE");
  return flag && std::string(flag) == "1";
}

class MicrophoneLock {
 public:
  MicrophoneLock() {
    const char* dir = std::getenv("PULSE_RUNTIME_PATH");
    const std::string path = std::string(dir && *dir ? dir : "/tmp") + "/quorvel-vmic.lock";
    fd_ = ::open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    ::flock(fd_, LOCK_EX);  // on a failed open, no lock: the tests may then disturb each other
  }
  ~MicrophoneLock() { ::close(fd_); }  // releases the lock
  MicrophoneLock(const MicrophoneLock&) = delete;
  MicrophoneLock& operator=(const MicrophoneLock&) = delete;

 private:
  int fd_ = -1;
};

// Plays a raw 16 kHz mono recording into the null sink whose monitor is the default source.
class Player {
 public:
  explicit Player(const std::string& rawFile) {
    const char* argv[] = {"paplay",       "-d",           "vmic",           "--raw",
                          "--rate=16000", "--channels=1", "--format=s16le", rawFile.c_str(),
                          nullptr};
    if (posix_spawnp(&pid_, "paplay", nullptr, nullptr, const_cast<char**>(argv), environ))
      pid_ = -1;
  }
  ~Player() { wait(); }
  bool started() const { return pid_ > 0; }
  // Blocks until playback has ended; true when paplay succeeded.
  bool wait() {
    int status = 0;
    if (pid_ > 0)
      ok_ = waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status) && !WEXITSTATUS(status);
    pid_ = -1;
    return ok_;
  }

 private:
  pid_t pid_ = -1;
  bool ok_ = false;
};

inline std::optional<std::string> startAndWait(
    AudioInput& input, AudioInput::LossHandler lost = [](std::string) {}) {
  auto answer = std::make_shared<std::promise<std::optional<std::string>>>();
  auto answered = answer->get_future();
  input.start([answer](std::optional<std::string> error) { answer->set_value(std::move(error)); },
              std::move(lost));
  if (answered.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    input.stop();
    return "no answer to the start within a minute";
  }
  return answered.get();
}

}  // namespace quorvel::testing
