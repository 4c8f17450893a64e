// Child processes for the relay's tests: a private redis-server on a Unix socket and
// quorvel-relay instances, each with its standard output and error read line by line so a
// test can wait for a line (with a bound) instead of sleeping.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace quorvel::testing {

class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& args) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    reader_ = std::thread([this, fd = fds[0]] { read(fd); });
  }
  ~ChildProcess() {
    signal(SIGKILL);
    waitForExit();
  }

  void signal(int number) const {
    if (pid_ > 0 && !status_) ::kill(pid_, number);
  }

  // The first line holding `needle`, once printed; nothing after the bound or once the process
  // has closed its output.
  std::optional<std::string> waitForLine(const std::string& needle) {
    std::unique_lock lock(mutex_);
    std::optional<std::string> found;
    changed_.wait_for(lock, std::chrono::seconds(20), [&] {
      for (const auto& line : lines_) {
        if (!found && line.find(needle) != std::string::npos) found = line;
      }
      return found || closed_;
    });
    return found;
  }

  // The exit status once the process has closed its output and been reaped; nothing after
  // the bound.
  std::optional<int> waitForExit() {
    {
      std::unique_lock lock(mutex_);
      if (!changed_.wait_for(lock, std::chrono::seconds(20), [&] { return closed_; })) return {};
    }
    if (reader_.joinable()) reader_.join();
    int status = 0;
    if (pid_ > 0 && !status_ && ::waitpid(pid_, &status, 0) == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return status_;
  }

  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  void read(int fd) {
    std::string pending;
    char buffer[4096];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) {
      pending.append(buffer, static_cast<size_t>(got));
      std::lock_guard lock(mutex_);
      for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
        lines_.push_back(pending.substr(0, end));
      }
      changed_.notify_all();
    }
    ::close(fd);
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
  }

  pid_t pid_ = -1;
  std::optional<int> status_;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  bool closed_ = false;
};

// redis-server on a Unix socket in `folder`, without persistence.
class RedisServer {
 public:
  explicit RedisServer(const std::string& folder) : socket_(folder + "/redis.sock") { start(); }

  void start() {
    process_.reset();
    process_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        "redis-server", "--port", "0", "--unixsocket", socket_, "--unixsocketperm", "700", "--save",
        "", "--appendonly", "no", "--daemonize", "no"});
    ready_ = process_->waitForLine("ready to accept connections").has_value();
  }
  void stop() {
    process_->signal(SIGTERM);
    process_->waitForExit();
  }
  bool ready() const { return ready_; }
  std::string target() const { return "unix:" + socket_; }

 private:
  std::string socket_;
  std::unique_ptr<ChildProcess> process_;
  bool ready_ = false;
};

// quorvel-relay on a free loopback port.
class RelayProcess : public ChildProcess {
 public:
  explicit RelayProcess(std::vector<std::string> args) : ChildProcess(withListen(std::move(args))) {
    if (auto line = waitForLine("listening on 127.0.0.1:"))
      port_ = std::stoi(line->substr(line->rfind(':') + 1));
  }
  int port() const { return port_; }
  std::string url(const std::string& path = "") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  static std::vector<std::string> withListen(std::vector<std::string> args) {
    args.insert(args.begin(), {QUORVEL_RELAY_BINARY, "--listen", "127.0.0.1:0"});
    return args;
  }
  int port_ = -1;
};

}  // namespace quorvel::testing
