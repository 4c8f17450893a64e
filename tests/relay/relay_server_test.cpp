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

Json chat(const std::string& content) {
  return {{"model", "deepseek-chat"},
          {"messages", {{{"role", "user"}, {"content", content}}}},
          {"temperature", 0.3},
          {"max_tokens", 2048}};
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
  // The status of one POST /distill, or -1 when no answer came.
  static int post(RelayProcess& relay, const std::string& body, httplib::Headers headers,
                  std::string* reply = nullptr) {
    httplib::Client client("127.0.0.1", relay.port());
    client.set_read_timeout(20);
    auto result = client.Post("/distill", headers, body, "application/json");
    if (result && reply)
      *reply = result->body + (result->has_header("Retry-After") ? "\nRetry-After" : "");
    return result ? result->status : -1;
  }

  TempHome folder;
  RedisServer redis{folder.path()};
  LoopbackHttpServer upstream{64};  // every relay worker thread keeps its own connection open
};

TEST_F(Relay, desktop_chat_client_gets_polished_text_and_nothing_secret_is_logged) {
  auto relay = startRelay();
  TempHome home;
  home.put("config.json", Json({{"relay_url", relay->url("/distill")}}).dump());
  CurlHttpClient http;
  RecordingConsole console;
  DeepSeekPolisher polisher{home, localFileSystem(), http, console};
  CompletionProbe probe;
  polisher.polish("um so buy the oat milk", "Extract", probe.completion());
  ASSERT_TRUE(probe.wait());
  EXPECT_EQ(probe.text, "Polished text.");
  auto request = upstream.requests().at(0);
  EXPECT_EQ(request.header("Authorization"), "Bearer upstream-secret-key");
  EXPECT_FALSE(request.hasHeader("X-Device-ID"));
  Json sent = Json::parse(request.body);
  EXPECT_EQ(sent["model"], "relay-model");
  EXPECT_EQ(sent["messages"].back()["content"], "um so buy the oat milk");
  ASSERT_TRUE(relay->waitForLine("\"POST /distill\" 200"));
  for (const auto& line : relay->lines()) {
    EXPECT_EQ(line.find("oat milk"), std::string::npos) << line;
    EXPECT_EQ(line.find("upstream-secret-key"), std::string::npos) << line;
  }
}

TEST_F(Relay, answers_each_request_with_its_status_and_error_shape) {
  auto relay = startRelay({"--device-requests-per-day", "2", "--device-chars-per-day", "40",
                           "--address-requests-per-minute", "4", "--trust-x-real-ip", "true",
                           "--upstream-timeout-seconds", "1"});
  auto with = [](const char* key, Json value) {
    Json body = chat("hello");
    body[key] = std::move(value);
    return body;
  };
  Json extras = with("model", "client-choice");
  extras["messages"][0]["name"] = "extra member";
  Reply slow = Reply::stalling();
  slow.body = answer("too late");
  struct Row {
    const char* name;
    std::string body;
    int status;
    std::string code = "";                   // of the error; "" for 200
    std::optional<std::string> device = "";  // "" for a fresh one
    std::optional<Reply> upstreamReply = {};
    int admittedBefore = 0;  // identical requests sent first, each answered 200
  };
  const std::string ok = chat("hello").dump();
  const Row rows[] = {
      {"valid request with extra members", extras.dump(), 200},
      {"upper-case device id", ok, 200, "", "0A1B2C3D-0000-4000-8000-00000000ABCD"},
      {"not JSON", "{\"messages\": [", 400, "invalid_request"},
      {"array root", "[]", 400, "invalid_request"},
      {"deeply nested", std::string(100000, '[') + std::string(100000, ']'), 400,
       "invalid_request"},
      {"over 256 KiB", chat(std::string(270 * 1024, 'a')).dump(), 413, "request_too_large"},
      {"no messages", with("messages", Json::array()).dump(), 400, "invalid_request"},
      {"nine messages", with("messages", Json(9, chat("x")["messages"][0])).dump(), 400,
       "invalid_request"},
      {"unknown role", with("messages", {{{"role", "tool"}, {"content", "x"}}}).dump(), 400,
       "invalid_request"},
      {"content not a string", with("messages", {{{"role", "user"}, {"content", 5}}}).dump(), 400,
       "invalid_request"},
      {"max_tokens above 2048", with("max_tokens", 4096).dump(), 400, "invalid_request"},
      {"max_tokens not whole", with("max_tokens", 1.5).dump(), 400, "invalid_request"},
      {"no device id", ok, 400, "invalid_request", std::nullopt},
      {"device id not a UUID", ok, 400, "invalid_request", "not-a-uuid"},
      {"upstream error status", ok, 502, "upstream_failed", "", Reply{500, answer("x")}},
      {"upstream reply not JSON", ok, 502, "upstream_failed", "", Reply{200, "<html>"}},
      {"slow upstream", ok, 504, "upstream_timeout", "", slow},
      {"device out of requests", ok, 429, "device_quota_exceeded", "", {}, 2},
      {"device out of characters",
       chat(std::string(25, 'c')).dump(),
       429,
       "device_quota_exceeded",
       "",
       {},
       1},
  };
  int device = 100, address = 1;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    httplib::Headers headers = {{"X-Real-IP", "10.0.0." + std::to_string(address++)}};
    if (row.device)
      headers.emplace("X-Device-ID", row.device->empty() ? deviceId(device++) : *row.device);
    for (int i = 0; i < row.admittedBefore; ++i) EXPECT_EQ(post(*relay, row.body, headers), 200);
    if (row.upstreamReply) upstream.script(*row.upstreamReply);
    auto started = std::chrono::steady_clock::now();
    std::string body;
    EXPECT_EQ(post(*relay, row.body, headers, &body), row.status) << body;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(body.ends_with("\nRetry-After"), row.status == 429);
    Json reply = Json::parse(body.substr(0, body.find("\nRetry-After")), nullptr, false);
    if (row.status == 200) {
      EXPECT_EQ(reply, Json::parse(answer("Polished text.")));
    } else {
      EXPECT_EQ(reply["error"]["code"], row.code);
      EXPECT_TRUE(reply["error"]["message"].is_string() && reply["error"]["type"].is_string());
    }
  }
  Json first = Json::parse(upstream.requests().front().body);
  EXPECT_EQ(first["model"], "relay-model");
  EXPECT_EQ(first["messages"][0], Json({{"role", "user"}, {"content", "hello"}}));

  // A request the upstream failed does not use up the device's quota.
  httplib::Headers unlucky = {{"X-Real-IP", "10.0.2.1"}, {"X-Device-ID", deviceId(device++)}};
  upstream.script({500, answer("x")});
  std::vector<int> statuses;
  for (int i = 0; i < 4; ++i) statuses.push_back(post(*relay, ok, unlucky));
  EXPECT_EQ(statuses, (std::vector<int>{502, 200, 200, 429}));
  // Rotating device identifiers does not get round the per-address rate.
  statuses.clear();
  for (int i = 0; i < 5; ++i) {
    statuses.push_back(
        post(*relay, ok, {{"X-Real-IP", "10.0.1.1"}, {"X-Device-ID", deviceId(device++)}}));
  }
  EXPECT_EQ(statuses, (std::vector<int>{200, 200, 200, 200, 429}));

  auto metrics = httplib::Client("127.0.0.1", relay->port()).Get("/metrics");
  ASSERT_TRUE(metrics);
  EXPECT_NE(metrics->body.find("quorvel_relay_requests_total{status=\"504\"} 1"),
            std::string::npos);
  EXPECT_NE(metrics->body.find("quorvel_relay_quota_rejections_total{limit=\"address_rate\"} 1"),
            std::string::npos);
  upstream.releaseStalls();
}

TEST_F(Relay, answers_503_while_redis_is_down_and_recovers_when_it_is_back) {
  auto relay = startRelay();
  httplib::Client client("127.0.0.1", relay->port());
  auto statuses = [&] {
    auto health = client.Get("/healthz");
    return std::make_pair(post(*relay, chat("hello").dump(), {{"X-Device-ID", deviceId(1)}}),
                          health ? health->status : -1);
  };
  EXPECT_EQ(statuses(), std::make_pair(200, 200));
  redis.stop();
  EXPECT_EQ(statuses(), std::make_pair(503, 503));
  redis.start();
  ASSERT_TRUE(redis.ready());
  EXPECT_EQ(statuses(), std::make_pair(200, 200));
  EXPECT_EQ(upstream.requests().size(), 2u);  // never sent upstream unmetered
}

TEST_F(Relay, three_instances_sharing_redis_grant_each_device_exactly_its_quota) {
  constexpr int quota = 5, devices = 30, perDevice = 8;
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
        auto result = connections[static_cast<size_t>(job + c) % 3]->Post(
            "/distill", {{"X-Device-ID", deviceId(job % devices)}}, chat("hello").dump(),
            "application/json");
        std::lock_guard lock(mutex);
        ++statuses[job % devices][result ? result->status : -1];
      }
    });
  }
  for (auto& client : clients) client.join();
  ASSERT_EQ(statuses.size(), static_cast<size_t>(devices));
  for (const auto& [device, counts] : statuses) {
    EXPECT_EQ(counts, (std::map<int, int>{{200, quota}, {429, perDevice - quota}})) << device;
  }
  EXPECT_EQ(upstream.requests().size(), static_cast<size_t>(devices * quota));
}

TEST_F(Relay, caps_requests_in_flight_and_on_sigterm_answers_them_and_refuses_new_ones) {
  auto relay = startRelay({"--max-in-flight", "1"});
  Reply held = Reply::stalling();
  held.body = answer("Finished.");
  upstream.script(held);
  std::string finished;
  int inFlight = 0;
  std::thread client([&] {
    inFlight = post(*relay, chat("hello").dump(), {{"X-Device-ID", deviceId(1)}}, &finished);
  });
  ASSERT_TRUE(upstream.waitForRequests(1));
  std::string overCap;
  EXPECT_EQ(post(*relay, chat("hello").dump(), {{"X-Device-ID", deviceId(2)}}, &overCap), 503);
  EXPECT_NE(overCap.find("overloaded"), std::string::npos);
  relay->signal(SIGTERM);
  ASSERT_TRUE(relay->waitForLine("stopping"));
  EXPECT_EQ(post(*relay, chat("hello").dump(), {{"X-Device-ID", deviceId(2)}}), -1);
  upstream.releaseStalls();
  client.join();
  EXPECT_EQ(inFlight, 200);
  EXPECT_EQ(Json::parse(finished), Json::parse(answer("Finished.")));
  EXPECT_EQ(relay->waitForExit(), 0);
}

}  // namespace
}  // namespace quorvel
