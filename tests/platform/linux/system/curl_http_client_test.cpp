#include "platform/linux/system/curl_http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "fakes/loopback_http_server.h"
#include "fakes/self_signed_https_server.h"

namespace quorvel {
namespace {

using namespace testing;
using Reply = LoopbackHttpServer::Reply;
using Clock = std::chrono::steady_clock;

// Collects completions (and the thread each ran on); waits on them with a bound.
struct Results {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<std::pair<HttpResult, std::thread::id>> got;

  HttpClient::Completion completion() {
    return [this](HttpResult result) {
      std::lock_guard lock(mutex);
      got.emplace_back(std::move(result), std::this_thread::get_id());
      arrived.notify_all();
    };
  }
  bool waitFor(size_t count, int seconds = 20) {
    std::unique_lock lock(mutex);
    return arrived.wait_for(lock, std::chrono::seconds(seconds),
                            [&] { return got.size() >= count; });
  }
};

HttpRequest post(const std::string& url, double silence = 15.0, double total = 120.0) {
  return {url,          "POST",  {{"Content-Type", "application/json"}, {"X-Device-ID", "ABC"}},
          R"({"a":1})", silence, total};
}

TEST(CurlHttpClient, posts_headers_and_body_and_hands_back_status_and_bytes_on_worker_thread) {
  LoopbackHttpServer server;
  server.script({201, "\xff\xfe not utf-8"});
  CurlHttpClient client;
  Results results;
  client.send(post(server.url("/chat/completions")), results.completion());
  ASSERT_TRUE(results.waitFor(1));
  auto request = server.requests().at(0);
  EXPECT_EQ(request.method + " " + request.path + " " + request.body,
            R"(POST /chat/completions {"a":1})");
  EXPECT_EQ(request.header("Content-Type"), "application/json");
  EXPECT_EQ(request.header("X-Device-ID"), "ABC");
  auto& [result, thread] = results.got[0];
  EXPECT_FALSE(result.error);
  EXPECT_EQ(result.status, 201);
  EXPECT_EQ(result.body, "\xff\xfe not utf-8");
  EXPECT_NE(thread, std::this_thread::get_id());
}

TEST(CurlHttpClient, transport_failures_give_an_error_and_no_answer_within_their_bound) {
  LoopbackHttpServer server;
  SelfSignedHttpsServer https;
  ASSERT_TRUE(https.valid());
  struct Row {
    const char* name;
    std::optional<Reply> reply;
    HttpRequest request;
    std::string error;  // a part of the error text
    double minSeconds;  // not some other, instant failure
  };
  const Row rows[] = {
      {"refused", {}, post("http://127.0.0.1:" + std::to_string(closedPort()) + "/x"), "", 0},
      {"certificate nobody signed", {}, post(https.url()), "certificate", 0},
      {"silent past the time-out", Reply::stalling(), post(server.url("/slow"), 1.0), "timed out",
       0.9},
      // Each byte comes well within the silence bound: only the total deadline stops it.
      {"trickling past the deadline", Reply::trickling(std::chrono::milliseconds(200)),
       post(server.url("/trickle"), 1.0, 2.0),
       "The request timed out: no complete answer within 2 seconds", 1.9},
  };
  CurlHttpClient client;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.reply) server.script(*row.reply);
    Results results;
    auto started = Clock::now();
    client.send(row.request, results.completion());
    ASSERT_TRUE(results.waitFor(1, 10));
    const HttpResult& result = results.got[0].first;
    ASSERT_TRUE(result.error);
    EXPECT_NE(result.error->find(row.error), std::string::npos) << *result.error;
    EXPECT_FALSE(result.status || result.body);
    EXPECT_GE(std::chrono::duration<double>(Clock::now() - started).count(), row.minSeconds);
    EXPECT_TRUE(row.minSeconds == 0 || result.failure == HttpFailure::Timeout);
  }
  EXPECT_EQ(https.requests(), 0);
  server.releaseStalls();
}

TEST(CurlHttpClient, a_reply_body_past_the_cap_is_dropped_as_too_large) {
  const size_t cap = 1 << 20;
  LoopbackHttpServer server;
  CurlHttpClient client;
  for (size_t size : {cap, cap + 1}) {
    server.script({200, std::string(size, 'x')});
    Results results;
    client.send(post(server.url("/big")), results.completion());
    ASSERT_TRUE(results.waitFor(1));
    const HttpResult& result = results.got[0].first;
    EXPECT_FALSE(result.error) << size;
    EXPECT_EQ(result.bodyTooLarge, size > cap);
    EXPECT_EQ(result.body ? result.body->size() : 0, size > cap ? 0 : cap);
  }
}

TEST(CurlHttpClient, keeps_requests_in_flight_together_and_a_completion_may_send_again) {
  LoopbackHttpServer server;
  server.setDefault(Reply::gathering(3, "{}"));
  CurlHttpClient client;
  Results results;
  for (int i = 0; i < 2; ++i) client.send(post(server.url("/n")), results.completion());
  client.send(post(server.url("/first")),
              [&](HttpResult) { client.send(post(server.url("/second")), results.completion()); });
  ASSERT_TRUE(results.waitFor(3));
  EXPECT_EQ(server.mostInFlight(), 3);
  for (const auto& [result, thread] : results.got) EXPECT_EQ(result.status, 200);
}

TEST(CurlHttpClient, completes_pending_requests_with_an_error_when_destroyed) {
  LoopbackHttpServer server;
  server.setDefault(Reply::stalling());
  Results results;
  {
    CurlHttpClient client;
    client.send(post(server.url("/a")), results.completion());
    client.send(post(server.url("/b")), results.completion());
  }
  ASSERT_TRUE(results.waitFor(2, 0));
  for (const auto& [result, thread] : results.got) EXPECT_TRUE(result.error);
}

TEST(CurlHttpClient, parses_only_http_and_https_urls_with_a_host) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"HTTP://LocalHost:8080/v1", "http localhost"},
      {"https://api.deepseek.com/chat/completions", "https api.deepseek.com"},
      {"http://[0:0:0:0:0:0:0:1]:11434/v1", "http ::1"},
      {"ftp://example.com/file", std::nullopt},
      {"not a url", std::nullopt},
      {"https://", std::nullopt},
      {"", std::nullopt},
  };
  CurlHttpClient client;
  for (const auto& [text, expected] : cases) {
    auto parsed = client.parseURL(text);
    EXPECT_EQ(parsed ? std::optional(parsed->scheme + " " + parsed->host) : std::nullopt, expected)
        << text;
  }
}

}  // namespace
}  // namespace quorvel
