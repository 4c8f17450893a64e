// The relay's settings: file, then flags; every bad value refused with a message.
#include <gtest/gtest.h>

#include <fstream>

#include "fakes/temp_home.h"
#include "relay_config.h"

namespace quorvel::relay {
namespace {

TEST(RelayConfig, flags_override_the_file_and_bad_values_are_refused) {
  quorvel::testing::TempHome folder;
  auto at = [&](const std::string& name) { return folder.path() + "/" + name; };
  std::ofstream(at("key")) << "  sk-upstream\n";
  std::ofstream(at("relay.json")) << R"({"listen": "0.0.0.0:9000", "device_requests_per_day": 7,
      "upstream_timeout_seconds": 2.5, "trust_x_real_ip": true, "upstream_key_file": ")"
                                  << at("key") << "\"}";
  std::ofstream(at("unknown.json")) << R"({"device_requests": 7})";
  std::ofstream(at("multiline.key")) << "sk-one\nsk-two\n";

  auto parsed = parseCommandLine({"--device-requests-per-day", "9", "--config", at("relay.json"),
                                  "--listen=[::1]:8080", "--model", "m"});
  ASSERT_FALSE(parsed.error) << *parsed.error;
  const RelayConfig& config = parsed.config;
  EXPECT_EQ(config.listenHost + " " + std::to_string(config.listenPort), "::1 8080");
  EXPECT_EQ(config.deviceRequestsPerDay, 9);
  EXPECT_EQ(config.upstreamTimeoutSeconds, 2.5);
  EXPECT_TRUE(config.trustRealIp);
  EXPECT_EQ(config.upstreamKey, "sk-upstream");
  EXPECT_EQ(config.threads, config.maxInFlight + 16);

  const std::vector<std::vector<std::string>> refused = {
      {"--config", at("missing.json")},
      {"--config", at("unknown.json")},
      {"--upstream-key-file", at("multiline.key")},
      {"--upstream-key-file", at("missing.key")},
      {"--config", at("relay.json"), "--listen", "8080"},
      {"--config", at("relay.json"), "--redis", "localhost:6379"},
      {"--config", at("relay.json"), "--upstream", "ftp://x/chat"},
      {"--config", at("relay.json"), "--device-chars-per-day", "-1"},
      {"--config", at("relay.json"), "--upstream-timeout-seconds", "0"},
      {"--config", at("relay.json"), "--max-in-flight", "0"},
      {"--config", at("relay.json"), "--model"},
      {"--config", at("relay.json"), "stray"},
      {"--device-requests-per-day", "5"},  // no key file
  };
  for (const auto& args : refused) {
    EXPECT_TRUE(parseCommandLine(args).error) << ::testing::PrintToString(args);
  }
  EXPECT_TRUE(parseCommandLine({"--help"}).help);
}

}  // namespace
}  // namespace quorvel::relay
