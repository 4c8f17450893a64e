// The relay's settings: file, then flags; every bad value refused with a message.
#include <gtest/gtest.h>

#include <fstream>

#include "fakes/temp_home.h"
#include "relay_config.h"

namespace quorvel::relay {
namespace {

using quorvel::testing::TempHome;

TEST(RelayConfig, flags_override_the_file_and_bad_values_are_refused) {
  TempHome folder;
  std::string key = folder.path() + "/key";
  std::string file = folder.path() + "/relay.json";
  std::ofstream(key) << "  sk-upstream\n";
  std::ofstream(file) << R"({"listen": "0.0.0.0:9000", "device_requests_per_day": 7,
                            "upstream_timeout_seconds": 2.5, "trust_x_real_ip": true,
                            "upstream_key_file": ")"
                      << key << "\"}";
  std::ofstream(folder.path() + "/unknown.json") << R"({"device_requests": 7})";
  std::ofstream(folder.path() + "/multiline.key") << "sk-one\nsk-two\n";

  auto parsed = parseCommandLine({"--device-requests-per-day", "9", "--config", file,
                                  "--listen=[::1]:8080", "--model", "m"});
  ASSERT_FALSE(parsed.error) << *parsed.error;
  EXPECT_EQ(parsed.config.listenHost, "::1");
  EXPECT_EQ(parsed.config.listenPort, 8080);
  EXPECT_EQ(parsed.config.deviceRequestsPerDay, 9);
  EXPECT_EQ(parsed.config.upstreamTimeoutSeconds, 2.5);
  EXPECT_TRUE(parsed.config.trustRealIp);
  EXPECT_EQ(parsed.config.upstreamKey, "sk-upstream");
  EXPECT_EQ(parsed.config.threads, parsed.config.maxInFlight + 16);

  std::vector<std::vector<std::string>> refused = {
      {"--config", folder.path() + "/missing.json"},
      {"--config", folder.path() + "/unknown.json"},
      {"--upstream-key-file", folder.path() + "/multiline.key"},
      {"--upstream-key-file", folder.path() + "/missing.key"},
      {"--config", file, "--listen", "8080"},
      {"--config", file, "--redis", "localhost:6379"},
      {"--config", file, "--upstream", "ftp://x/chat"},
      {"--config", file, "--device-chars-per-day", "-1"},
      {"--config", file, "--upstream-timeout-seconds", "0"},
      {"--config", file, "--max-in-flight", "0"},
      {"--config", file, "--model"},
      {"--config", file, "stray"},
      {"--device-requests-per-day", "5"},  // no key file
  };
  for (const auto& args : refused) {
    auto result = parseCommandLine(args);
    EXPECT_TRUE(result.error) << ::testing::PrintToString(args);
  }
  EXPECT_TRUE(parseCommandLine({"--help"}).help);
}

}  // namespace
}  // namespace quorvel::relay
