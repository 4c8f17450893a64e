// quorvel-relay as a process, between a private redis-server and a fake upstream on loopback.
#include <httplib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>

#include <nlohmann/json.hpp>

#include "fakes/loopback_http_server.h"
#include "fakes/recording_console.h"
#include "fakes/temp_home.h"
#include "platform/linux/system/curl_http_client.h"
#include "polish/completion_probe.h"
#include "polish/deepseek_polisher.h"
#include "relay/relay_processes.h"

namespace quorvel {
namespace {

using namespace quorvel::testing;
using Json = nlohmann::json;
using Reply = LoopbackHttpServer::Reply;

std::string answer(const std::string& content) {
  return Json({{"choices", {{{"message", {{"role", "assistant"}, {"content", content}}}}}}}).dump();
}

std::string deviceId(int n) {
  char id[40];
  std::snprintf(id, sizeof id, "0a1b2c3d-0000-4000-8000-%012d", n);
  return id;
}

std::string chat(const std::string& content) {
  return Json({{"model", "deepseek-chat"},
               {"messages", {{{"role", "user"}, {"content", content}}}},
               {"temperature", 0.3},
               {"max_tokens", 2048}})
      .dump();
}

class Relay : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(redis.ready());
    std::ofstream(folder.path() + "/key") << "upstream-secret-key\n";
    upstream.setDefault({200, answer("Polished text.")});
  }

  std::unique_ptr<RelayProcess> startRelay(std::vector<std::string> flags = {}) {
    std::vector<std::string> args = {"--redis",
                                     redis.target(),
                                     "--upstream",
                                     upstream.url("/v1/chat/completions"),
                                     "--upstream-key-file",
                                     folder.path() + "/key",
                                     "--model",
                                     "relay-model"};
    args.insert(args.end(), flags.begin(), flags.end());
    auto relay = std::make_unique<RelayProcess>(args);
    EXPECT_GT(relay->port(), 0);
    return relay;
  }

  static httplib::Result post(RelayProcess& relay, const std::string& body,
                              httplib::Headers headers) {
    httplib::Client client("127.0.0.1", relay.port());
    client.set_read_timeout(20);
    return client.Post("/distill", headers, body, "application/json");
  }

  TempHome folder;
  RedisServer redis{folder.path()};
  // Every relay worker thread keeps its own upstream connection open.
  LoopbackHttpServer upstream{64};
};

TEST_F(Relay, desktop_chat_client_gets_polished_text_through_the_relay) {
  auto relay = startRelay();
  TempHome home;
  home.put("config.json", Json({{"relay_url", relay->url("/distill")}}).dump());
  CurlHttpClient http;
  RecordingConsole console;
  DeepSeekPolisher polisher{home, localFileSystem(), http, console};
  CompletionProbe probe;
  polisher.polish("um so buy the oat milk", "Extract", probe.completion());

  ASSERT_TRUE(probe.wait());
  EXPECT_EQ(probe.text(), "Polished text.");
  auto requests = upstream.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, "/v1/chat/completions");
  EXPECT_EQ(requests[0].header("Authorization"), "Bearer upstream-secret-key");
  EXPECT_FALSE(requests[0].hasHeader("X-Device-ID"));
  Json sent = Json::parse(requests[0].body);
  EXPECT_EQ(sent["model"], "relay-model");
  EXPECT_EQ(sent["max_tokens"], 2048);
  EXPECT_EQ(sent["messages"].back()["content"], "um so buy the oat milk");

  ASSERT_TRUE(relay->process().waitForLine("\"POST /distill\" 200"));
  for (const auto& line : relay->process().lines()) {
    EXPECT_EQ(line.find("oat milk"), std::string::npos) << line;
    EXPECT_EQ(line.find("upstream-secret-key"), std::string::npos) << line;
  }
}

struct Row {
  const char* name;
  std::string body;
  std::optional<std::string> device;
  std::optional<Reply> upstreamReply;
  int admittedBefore = 0;  // identical requests sent first, each answered 200
  int status;
  const char* code = nullptr;
  bool retryAfter = false;
};

TEST_F(Relay, answers_each_request_with_its_status_and_error_shape) {
  auto relay = startRelay({"--device-requests-per-day", "2", "--device-chars-per-day", "40",
                           "--address-requests-per-minute", "4", "--trust-x-real-ip", "true",
                           "--upstream-timeout-seconds", "1"});
  Json nine = Json::array();
  for (int i = 0; i < 9; ++i) nine.push_back({{"role", "user"}, {"content", "x"}});
  Json extras = Json::parse(chat("hello"));
  extras["model"] = "client-choice";
  extras["messages"][0]["name"] = "extra member";
  auto with = [](const std::string& base, const char* key, Json value) {
    Json body = Json::parse(base);
    body[key] = std::move(value);
    return body.dump();
  };
  Reply slow = Reply::stalling();
  slow.body = answer("too late");
  const std::string ok = chat("hello");
  std::vector<Row> rows = {
      {"valid request", extras.dump(), "", std::nullopt, 0, 200},
      {"upper-case device id", ok, "0A1B2C3D-0000-4000-8000-00000000ABCD", std::nullopt, 0, 200},
      {"not JSON", "{\"messages\": [", "", std::nullopt, 0, 400, "invalid_request"},
      {"array root", "[]", "", std::nullopt, 0, 400, "invalid_request"},
      {"deeply nested", std::string(100000, '[') + std::string(100000, ']'), "", std::nullopt, 0,
       400, "invalid_request"},
      {"over 256 KiB", chat(std::string(270 * 1024, 'a')), "", std::nullopt, 0, 413,
       "request_too_large"},
      {"no messages", with(ok, "messages", Json::array()), "", std::nullopt, 0, 400},
      {"nine messages", with(ok, "messages", nine), "", std::nullopt, 0, 400},
      {"unknown role", with(ok, "messages", {{{"role", "tool"}, {"content", "x"}}}), "",
       std::nullopt, 0, 400},
      {"content not a string", with(ok, "messages", {{{"role", "user"}, {"content", 5}}}), "",
       std::nullopt, 0, 400},
      {"max_tokens above 2048", with(ok, "max_tokens", 4096), "", std::nullopt, 0, 400},
      {"max_tokens not whole", with(ok, "max_tokens", 1.5), "", std::nullopt, 0, 400},
      {"no device id", ok, std::nullopt, std::nullopt, 0, 400},
      {"device id not a UUID", ok, "not-a-uuid", std::nullopt, 0, 400},
      {"upstream error status", ok, "", Reply{500, answer("x")}, 0, 502, "upstream_failed"},
      {"upstream reply not JSON", ok, "", Reply{200, "<html>"}, 0, 502, "upstream_failed"},
      {"slow upstream", ok, "", slow, 0, 504, "upstream_timeout"},
      {"device out of requests", ok, "", std::nullopt, 2, 429, "device_quota_exceeded", true},
      {"device out of characters", chat(std::string(25, 'c')), "", std::nullopt, 1, 429,
       "device_quota_exceeded", true},
  };
  int device = 100;
  int address = 1;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    httplib::Headers headers = {{"X-Real-IP", "10.0.0." + std::to_string(address++)}};
    if (row.device) {
      headers.emplace("X-Device-ID", row.device->empty() ? deviceId(device++) : *row.device);
    }
    for (int i = 0; i < row.admittedBefore; ++i) {
      auto before = post(*relay, row.body, headers);
      ASSERT_TRUE(before);
      EXPECT_EQ(before->status, 200);
    }
    if (row.upstreamReply) upstream.script(*row.upstreamReply);
    auto started = std::chrono::steady_clock::now();
    auto result = post(*relay, row.body, headers);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, row.status) << result->body;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(result->has_header("Retry-After"), row.retryAfter);
    Json reply = Json::parse(result->body, nullptr, false);
    if (row.status == 200) {
      EXPECT_EQ(reply, Json::parse(answer("Polished text.")));
      continue;
    }
    ASSERT_TRUE(reply.contains("error")) << result->body;
    EXPECT_TRUE(reply["error"]["message"].is_string());
    EXPECT_TRUE(reply["error"]["type"].is_string());
    if (row.code) {
      EXPECT_EQ(reply["error"]["code"], row.code);
    }
  }
  Json first = Json::parse(upstream.requests().front().body);
  EXPECT_EQ(first["model"], "relay-model");
  EXPECT_EQ(first["temperature"], 0.3);
  EXPECT_EQ(first["messages"][0], Json({{"role", "user"}, {"content", "hello"}}));

  // A request the upstream failed does not use up the device's quota.
  httplib::Headers unlucky = {{"X-Real-IP", "10.0.2.1"}, {"X-Device-ID", deviceId(device++)}};
  upstream.script({500, answer("x")});
  std::vector<int> afterFailure;
  for (int i = 0; i < 4; ++i) {
    auto result = post(*relay, ok, unlucky);
    ASSERT_TRUE(result);
    afterFailure.push_back(result->status);
  }
  EXPECT_EQ(afterFailure, (std::vector<int>{502, 200, 200, 429}));

  // Rotating device identifiers does not get round the per-address rate.
  httplib::Headers sameAddress = {{"X-Real-IP", "10.0.1.1"}};
  std::vector<int> statuses;
  for (int i = 0; i < 5; ++i) {
    sameAddress.erase("X-Device-ID");
    sameAddress.emplace("X-Device-ID", deviceId(device++));
    auto result = post(*relay, ok, sameAddress);
    ASSERT_TRUE(result);
    statuses.push_back(result->status);
  }
  EXPECT_EQ(statuses, (std::vector<int>{200, 200, 200, 200, 429}));

  httplib::Client client("127.0.0.1", relay->port());
  auto metrics = client.Get("/metrics");
  ASSERT_TRUE(metrics);
  EXPECT_NE(metrics->body.find("quorvel_relay_requests_total{status=\"504\"} 1"),
            std::string::npos);
  EXPECT_NE(metrics->body.find("quorvel_relay_quota_rejections_total{limit=\"address_rate\"} 1"),
            std::string::npos);
  upstream.releaseStalls();
}

TEST_F(Relay, answers_503_while_redis_is_down_and_recovers_when_it_is_back) {
  auto relay = startRelay();
  httplib::Headers headers = {{"X-Device-ID", deviceId(1)}};
  httplib::Client client("127.0.0.1", relay->port());
  auto status = [&] {
    auto result = post(*relay, chat("hello"), headers);
    return result ? result->status : -1;
  };
  auto health = [&] {
    auto result = client.Get("/healthz");
    return result ? result->status : -1;
  };
  EXPECT_EQ(status(), 200);
  EXPECT_EQ(health(), 200);

  redis.stop();
  EXPECT_EQ(status(), 503);
  EXPECT_EQ(health(), 503);

  redis.start();
  ASSERT_TRUE(redis.ready());
  EXPECT_EQ(status(), 200);
  EXPECT_EQ(health(), 200);
  EXPECT_EQ(upstream.requests().size(), 2u);  // never sent upstream unmetered
}

TEST_F(Relay, three_instances_sharing_redis_grant_each_device_exactly_its_quota) {
  constexpr int quota = 5;
  constexpr int devices = 30;
  constexpr int perDevice = 8;
  std::vector<std::unique_ptr<RelayProcess>> relays;
  for (int i = 0; i < 3; ++i) {
    relays.push_back(startRelay({"--device-requests-per-day", std::to_string(quota),
                                 "--address-requests-per-minute", "0", "--access-log", "false"}));
  }
  std::atomic<int> next{0};
  std::mutex mutex;
  std::map<int, std::map<int, int>> statuses;  // device → status → count
  std::vector<std::thread> clients;
  for (int c = 0; c < 12; ++c) {
    clients.emplace_back([&, c] {
      std::vector<std::unique_ptr<httplib::Client>> connections;
      for (auto& relay : relays) {
        connections.push_back(std::make_unique<httplib::Client>("127.0.0.1", relay->port()));
        connections.back()->set_keep_alive(true);
        connections.back()->set_read_timeout(20);
      }
      for (int job; (job = next++) < devices * perDevice;) {
        int device = job % devices;
        auto result = connections[static_cast<size_t>(job + c) % connections.size()]->Post(
            "/distill", {{"X-Device-ID", deviceId(device)}}, chat("hello"), "application/json");
        std::lock_guard lock(mutex);
        ++statuses[device][result ? result->status : -1];
      }
    });
  }
  for (auto& client : clients) client.join();

  ASSERT_EQ(statuses.size(), static_cast<size_t>(devices));
  for (const auto& [device, counts] : statuses) {
    EXPECT_EQ(counts, (std::map<int, int>{{200, quota}, {429, perDevice - quota}}))
        << "device " << device;
  }
  EXPECT_EQ(upstream.requests().size(), static_cast<size_t>(devices * quota));
}

TEST_F(Relay, caps_requests_in_flight_and_on_sigterm_answers_them_and_refuses_new_ones) {
  auto relay = startRelay({"--max-in-flight", "1"});
  Reply held = Reply::stalling();
  held.body = answer("Finished.");
  upstream.script(held);
  std::optional<httplib::Response> inFlight;
  std::thread client([&] {
    if (auto result = post(*relay, chat("hello"), {{"X-Device-ID", deviceId(1)}})) {
      inFlight = *result;
    }
  });
  ASSERT_TRUE(upstream.waitForRequests(1));
  auto overCap = post(*relay, chat("hello"), {{"X-Device-ID", deviceId(2)}});
  ASSERT_TRUE(overCap);
  EXPECT_EQ(overCap->status, 503);
  EXPECT_NE(overCap->body.find("overloaded"), std::string::npos);

  relay->process().signal(SIGTERM);
  ASSERT_TRUE(relay->process().waitForLine("stopping"));
  EXPECT_FALSE(post(*relay, chat("hello"), {{"X-Device-ID", deviceId(2)}}));

  upstream.releaseStalls();
  client.join();
  ASSERT_TRUE(inFlight);
  EXPECT_EQ(inFlight->status, 200);
  EXPECT_EQ(Json::parse(inFlight->body), Json::parse(answer("Finished.")));
  EXPECT_EQ(relay->process().waitForExit(std::chrono::seconds(20)), 0);
}

}  // namespace
}  // namespace quorvel
