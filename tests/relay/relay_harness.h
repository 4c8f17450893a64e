// The relay's surroundings for its tests and benchmark: a private redis-server on a Unix socket
// (a child process, without persistence) and relay instances served in this process, each on a
// free loopback port.
#pragma once

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "relay_config.h"
#include "relay_server.h"

namespace quorvel::testing {

class RedisServer {
 public:
  explicit RedisServer(const std::string& folder) : socket_(folder + "/redis.sock") { start(); }
  ~RedisServer() { stop(); }

  // Ready once it says so; one that fails exits, which ends its output and the wait.
  void start() {
    output_ = ::popen(("echo $$; exec redis-server --port 0 --save '' --appendonly no "
                       "--unixsocket " +
                       socket_ + " 2>&1")
                          .c_str(),
                      "re");
    bool started = std::fscanf(output_, "%d", &pid_) == 1;
    char line[1024];
    for (ready_ = false; started && !ready_ && std::fgets(line, sizeof line, output_);) {
      ready_ = std::strstr(line, "ready to accept") != nullptr;
    }
  }
  void stop() {
    if (output_ == nullptr) return;
    if (pid_ > 0) ::kill(pid_, SIGTERM);
    ::pclose(output_);
    output_ = nullptr;
  }
  bool ready() const { return ready_; }
  std::string target() const { return "unix:" + socket_; }

 private:
  std::string socket_;
  std::FILE* output_ = nullptr;
  int pid_ = 0;
  bool ready_ = false;
};

// The relay as `quorvel-relay ARGS --listen 127.0.0.1:0` would run it; port() is -1 when the
// arguments were refused.
class RelayInstance {
 public:
  explicit RelayInstance(std::vector<std::string> args) {
    ::signal(SIGPIPE, SIG_IGN);  // as the program does: Redis may close its socket
    args.insert(args.end(), {"--listen", "127.0.0.1:0"});
    auto parsed = relay::parseCommandLine(args);
    if (parsed.error) return;
    server_ = std::make_unique<relay::RelayServer>(parsed.config);
    std::string error;
    port_ = server_->bind(error).value_or(-1);
    serving_ = std::async(std::launch::async, [this] { server_->run(); });
  }
  // stop() does nothing until the listening loop runs, so it is repeated until the loop ends.
  ~RelayInstance() {
    while (serving_.valid() &&
           serving_.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
      server_->stop();
    }
  }

  // Closes the listening socket; requests already received are still answered.
  void stop() { server_->stop(); }
  int port() const { return port_; }
  std::string url(const std::string& path = "") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  std::unique_ptr<relay::RelayServer> server_;
  std::future<void> serving_;
  int port_ = -1;
};

}  // namespace quorvel::testing
