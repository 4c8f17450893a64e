// The relay's HTTP service: POST /distill, GET /healthz and GET /metrics on cpp-httplib's
// thread pool. Each worker thread handles one request at a time and blocks on Redis and on the
// upstream; the in-flight cap keeps the number of blocked threads below the pool's size.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "relay_config.h"

namespace quorvel::relay {

class RelayServer {
 public:
  explicit RelayServer(RelayConfig config);
  ~RelayServer();
  RelayServer(const RelayServer&) = delete;
  RelayServer& operator=(const RelayServer&) = delete;

  // Binds the listening socket; the bound port, or nothing (error says why).
  std::optional<int> bind(std::string& error);
  // Serves until stop(); returns once every request already received has been answered.
  void run();
  // Stops accepting connections. Safe from any thread.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quorvel::relay
