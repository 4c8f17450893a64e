// The relay's settings: built-in defaults, then a JSON configuration file (--config FILE),
// then command-line flags, each overriding the one before.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvel::relay {

struct RelayConfig {
  std::string listenHost = "127.0.0.1";
  int listenPort = 8787;  // 0: any free port (the bound one is printed)
  std::string redis = "redis://127.0.0.1:6379";
  std::string upstream = "https://api.deepseek.com/chat/completions";
  std::string upstreamKeyFile;
  std::string upstreamKey;  // read from upstreamKeyFile; never printed
  std::string model = "deepseek-chat";
  // A limit of 0 switches that check off.
  long long deviceRequestsPerDay = 300;
  long long deviceCharsPerDay = 600000;
  long long addressRequestsPerMinute = 120;
  double upstreamTimeoutSeconds = 30;
  int maxInFlight = 64;  // requests admitted and not yet answered, per instance
  int threads = 0;       // HTTP worker threads; 0: maxInFlight + 16
  // Behind a reverse proxy on this machine: take the client address from X-Real-IP when the
  // connection comes from a loopback address.
  bool trustRealIp = false;
  bool accessLog = true;
};

struct ParsedCommandLine {
  RelayConfig config;
  bool help = false;
  std::optional<std::string> error;  // set: print it and exit with status 2
};

// Reads the configuration file named by --config (if any), applies the flags and loads the
// upstream key.
ParsedCommandLine parseCommandLine(const std::vector<std::string>& args);

const std::string& helpText();

}  // namespace quorvel::relay
