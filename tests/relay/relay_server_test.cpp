// The relay between a private redis-server and a fake upstream on loopback.
#include <httplib.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <map>

#include <nlohmann/json.hpp>

#include "fakes/fake_http_client.h"
#include "fakes/loopback_http_server.h"
#include "fakes/recording_console.h"
#include "fakes/temp_home.h"
#include "polish/deepseek_polisher.h"
#include "relay/relay_harness.h"

namespace quorvel {
namespace {

using namespace quorvel::testing;
using Json = nlohmann::json;
using Reply = LoopbackHttpServer::Reply;
const std::string kAnswer = R"({"choices":[{"message":{"role":"assistant","content":"Done."}}]})";

std::string deviceId(int n) {
  char id[40];
  std::snprintf(id, sizeof id, "0a1b2c3d-0000-4000-8000-%012d", n);
  return id;
}

Json chat(const std::string& content) {
  return {{"messages", {{{"role", "user"}, {"content", content}}}}, {"max_tokens", 2048}};
}
const std::string kHello = chat("hello").dump();

class Relay : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(redis.ready());
    std::ofstream(folder.path() + "/key") << "upstream-secret-key\n";
    upstream.setDefault({200, kAnswer});
  }
  std::unique_ptr<RelayInstance> start(std::vector<std::string> flags = {}) {
    flags.insert(flags.end(), {"--redis", redis.target(), "--upstream", upstream.url("/v1"),
                               "--upstream-key-file", folder.path() + "/key", "--model", "m"});
    auto relay = std::make_unique<RelayInstance>(flags);
    EXPECT_GT(relay->port(), 0);
    return relay;
  }
  // The status of one POST /distill (-1: no answer) and its body, "+Retry-After" appended when
  // that header came.
  static std::pair<int, std::string> post(const RelayInstance& relay, const std::string& body,
                                          const std::string& device, const std::string& ip = "") {
    httplib::Client client("127.0.0.1", relay.port());
    httplib::Headers headers = {{"X-Real-IP", ip}};
    if (!device.empty()) headers.emplace("X-Device-ID", device);
    auto result = client.Post("/distill", headers, body, "application/json");
    if (!result) return {-1, ""};
    return {result->status,
            result->body + (result->has_header("Retry-After") ? "+Retry-After" : "")};
  }

  TempHome folder;
  RedisServer redis{folder.path()};
  LoopbackHttpServer upstream{256};  // every relay worker thread keeps its own connection open
};

TEST_F(Relay, answers_each_request_with_its_status_and_error_shape) {
  auto relay = start({"--device-requests-per-day", "2", "--device-chars-per-day", "9000",
                      "--address-requests-per-minute", "4", "--trust-x-real-ip", "true",
                      "--upstream-timeout-seconds", "1", "--max-in-flight", "1"});
  const std::string x = R"({"role":"user","content":"x"})";
  const std::string e400 = "400 invalid_request";
  enum Setup { none, freshDeviceEach, redisDown, slowOneInFlight };
  struct Row {
    const char* name;
    std::string body;
    std::string outcome;  // each status, then the last error's code and whether to retry
    int times = 1;
    Setup setup = none;
    std::optional<std::string> device = "";   // "": a fresh one
    std::optional<Reply> upstreamReply = {};  // to the first request
  };
  FakeHttpClient http;  // what the desktop client sends to the relay
  RecordingConsole console;
  DeepSeekPolisher desktop{folder, localFileSystem(), http, console};
  desktop.polish("hello", "Extract", {});
  const Row rows[] = {
      {"quota store down", kHello, "503 quota_store_unavailable Retry-After", 1, redisDown},
      {"extra members", R"({"stream":1,"messages":[{"role":"user","content":"hello","n":1}]})",
       "200 answered"},
      {"the desktop client's request", *http.sent().at(0).body, "200 answered", 1, none,
       desktop.getDeviceID()},
      {"not JSON", "{\"messages\": [", e400},
      {"array root", "[]", e400},
      {"deeply nested", std::string(100000, '[') + std::string(100000, ']'), e400},
      {"over 256 KiB", chat(std::string(270 * 1024, 'a')).dump(), "413 request_too_large"},
      {"no messages", R"({"messages":[]})", e400},
      {"nine messages", Json({{"messages", Json(9, Json::parse(x))}}).dump(), e400},
      {"unknown role", R"({"messages":[{"role":"tool","content":"x"}]})", e400},
      {"content not a string", R"({"messages":[{"role":"user","content":5}]})", e400},
      {"max_tokens above 2048", R"({"max_tokens":4096,"messages":[)" + x + "]}", e400},
      {"max_tokens not whole", R"({"max_tokens":1.5,"messages":[)" + x + "]}", e400},
      {"no device id", kHello, e400, 1, none, std::nullopt},
      {"device id not a UUID", kHello, e400, 1, none, "not-a-uuid"},
      {"upstream reply not JSON", kHello, "502 upstream_failed", 1, none, "", Reply{200, "<"}},
      {"over the in-flight cap", kHello, "503 overloaded Retry-After", 1, slowOneInFlight, "",
       Reply::stalling()},
      {"device out of requests, a failed one refunded", kHello,
       "502 200 200 429 device_quota_exceeded Retry-After", 4, none, "", Reply{500, kAnswer}},
      {"device out of characters", chat(std::string(5000, 'c')).dump(),
       "200 429 device_quota_exceeded Retry-After", 2},
      {"address out of requests, devices rotated", kHello,
       "200 200 200 200 429 address_rate_exceeded Retry-After", 5, freshDeviceEach},
  };
  int device = 0, address = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string ip = "10.0.0." + std::to_string(++address), id = row.device.value_or("");
    if (row.upstreamReply) upstream.script(*row.upstreamReply);
    if (row.setup == redisDown) redis.stop();
    std::future<std::pair<int, std::string>> slow;
    if (row.setup == slowOneInFlight) {  // held upstream until the relay gives up on it
      size_t before = upstream.requests().size();
      slow = std::async(std::launch::async, [&] { return post(*relay, kHello, deviceId(0), ip); });
      ASSERT_TRUE(upstream.waitForRequests(before + 1));
    }
    std::string outcome, body;
    for (int i = 0; i < row.times; ++i) {
      if (row.device == "" && (i == 0 || row.setup == freshDeviceEach)) id = deviceId(++device);
      auto [status, text] = post(*relay, row.body, id, ip);
      outcome += std::to_string(status) + " ";
      body = text;
    }
    Json reply = Json::parse(body.substr(0, body.find("+Retry-After")), nullptr, false);
    outcome += reply == Json::parse(kAnswer) ? "answered" : reply["error"].value("code", "?");
    EXPECT_EQ(outcome + (body.ends_with("+Retry-After") ? " Retry-After" : ""), row.outcome);
    EXPECT_TRUE(!reply.contains("error") || reply["error"]["message"].is_string());
    if (row.setup == slowOneInFlight) {
      EXPECT_EQ(slow.get().first, 504);
    }
    if (row.setup == redisDown) {
      EXPECT_EQ(httplib::Client(relay->url()).Get("/healthz")->status, 503);
      redis.start();
    }
  }
  Json forwarded = chat("hello");  // only the members the relay knows, and its model
  forwarded["model"] = "m";
  EXPECT_EQ(Json::parse(upstream.requests().front().body), forwarded);
  EXPECT_EQ(upstream.requests().front().header("Authorization"), "Bearer upstream-secret-key");
  EXPECT_FALSE(upstream.requests().front().hasHeader("X-Device-ID"));
  std::string metrics = httplib::Client(relay->url()).Get("/metrics")->body;
  EXPECT_NE(metrics.find("quorvel_relay_requests_total{status=\"504\"} 1"), std::string::npos);

  // The access log on standard output names the device of a request, never its text or the key.
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  ::dup2(pipeFds[1], STDOUT_FILENO);
  const int status = post(*relay, chat("private words").dump(), deviceId(99), "10.0.0.99").first;
  std::string log;  // the line is written after the answer: read until it comes, bounded
  pollfd readable{pipeFds[0], POLLIN, 0};
  char buffer[4096];
  while (log.find(deviceId(99)) == std::string::npos && ::poll(&readable, 1, 10000) == 1) {
    log.append(buffer, std::max<ssize_t>(0, ::read(pipeFds[0], buffer, sizeof buffer)));
  }
  ::dup2(saved, STDOUT_FILENO);
  for (int fd : {saved, pipeFds[0], pipeFds[1]}) ::close(fd);
  EXPECT_EQ(status, 200);
  EXPECT_NE(log.find("\"POST /distill\" 200"), std::string::npos) << log;
  EXPECT_NE(log.find("device=" + deviceId(99)), std::string::npos) << log;
  for (const char* secret : {"private", "upstream-secret-key"})
    EXPECT_EQ(log.find(secret), std::string::npos) << log;
}

// Every client asks for the same device at the same time, each through its own instance.
TEST_F(Relay, three_instances_sharing_redis_grant_each_device_exactly_its_quota) {
  constexpr int quota = 5, devices = 30, clients = 8;
  std::vector<std::unique_ptr<RelayInstance>> relays;
  for (int i = 0; i < 3; ++i) {
    relays.push_back(start({"--device-requests-per-day", std::to_string(quota),
                            "--address-requests-per-minute", "0", "--access-log", "false"}));
  }
  std::vector<std::future<std::vector<int>>> statuses;  // of each client, device by device
  for (int c = 0; c < clients; ++c) {
    statuses.push_back(std::async(std::launch::async, [&, c] {
      std::vector<int> got;
      for (int d = 0; d < devices; ++d)
        got.push_back(post(*relays[c % 3], kHello, deviceId(d)).first);
      return got;
    }));
  }
  std::vector<std::map<int, int>> counts(devices);  // status → count
  for (auto& client : statuses) {
    auto got = client.get();
    for (int d = 0; d < devices; ++d) ++counts[d][got.at(d)];
  }
  for (const auto& count : counts) {
    EXPECT_EQ(count, (std::map<int, int>{{200, quota}, {429, clients - quota}}));
  }
  EXPECT_EQ(upstream.requests().size(), static_cast<size_t>(devices * quota));
}

// Stopping (what SIGTERM does) closes the door at once and still answers what came in before.
TEST_F(Relay, stopping_refuses_new_requests_and_answers_the_one_in_flight) {
  auto relay = start();
  upstream.script(Reply{200, kAnswer, true});  // held until released
  auto inFlight = std::async(std::launch::async, [&] { return post(*relay, kHello, deviceId(7)); });
  ASSERT_TRUE(upstream.waitForRequests(1));
  relay->stop();
  EXPECT_EQ(post(*relay, kHello, deviceId(8)).first, -1);
  upstream.releaseStalls();
  EXPECT_EQ(inFlight.get(), std::make_pair(200, kAnswer));
}

}  // namespace
}  // namespace quorvel
