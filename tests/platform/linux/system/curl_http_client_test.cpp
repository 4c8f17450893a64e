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

using testing::closedPort;
using testing::LoopbackHttpServer;
using testing::SelfSignedHttpsServer;

// Collects completions from the worker thread; waits on them with a bound.
class Results {
 public:
  HttpClient::Completion completion() {
    return [this](HttpResult result) {
      std::lock_guard lock(mutex_);
      results_.push_back(std::move(result));
      threads_.push_back(std::this_thread::get_id());
      arrived_.notify_all();
    };
  }
  bool waitFor(size_t count, std::chrono::seconds bound = std::chrono::seconds(20)) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, bound, [&] { return results_.size() >= count; });
  }
  std::vector<HttpResult> all() {
    std::lock_guard lock(mutex_);
    return results_;
  }
  std::vector<std::thread::id> threads() {
    std::lock_guard lock(mutex_);
    return threads_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<HttpResult> results_;
  std::vector<std::thread::id> threads_;
};

HttpRequest post(const std::string& url, std::string body, double timeout = 15.0) {
  HttpRequest request;
  request.url = url;
  request.headers = {{"Content-Type", "application/json"}, {"X-Device-ID", "ABC"}};
  request.body = std::move(body);
  request.timeoutSeconds = timeout;
  return request;
}

const std::string kNotUTF8 = "\xff\xfe not utf-8";

TEST(CurlHttpClient, posts_headers_and_body_and_hands_back_status_and_bytes_on_worker_thread) {
  LoopbackHttpServer server;
  server.script({201, kNotUTF8});
  CurlHttpClient client;
  Results results;
  client.send(post(server.url("/chat/completions"), R"({"a":1})"), results.completion());
  ASSERT_TRUE(results.waitFor(1));

  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].path, "/chat/completions");
  EXPECT_EQ(requests[0].body, R"({"a":1})");
  EXPECT_EQ(requests[0].header("Content-Type"), "application/json");
  EXPECT_EQ(requests[0].header("X-Device-ID"), "ABC");
  auto result = results.all()[0];
  EXPECT_FALSE(result.error);
  EXPECT_EQ(result.status, 201);
  EXPECT_EQ(result.body, kNotUTF8);
  EXPECT_NE(results.threads()[0], std::this_thread::get_id());
}

TEST(CurlHttpClient, reports_refused_connection_as_transport_error) {
  CurlHttpClient client;
  Results results;
  client.send(post("http://127.0.0.1:" + std::to_string(closedPort()) + "/x", "{}"),
              results.completion());
  ASSERT_TRUE(results.waitFor(1));
  auto result = results.all()[0];
  ASSERT_TRUE(result.error);
  EXPECT_FALSE(result.error->empty());
  EXPECT_FALSE(result.status);
  EXPECT_FALSE(result.body);
}

TEST(CurlHttpClient, refuses_a_server_whose_certificate_nobody_signed_and_says_why) {
  SelfSignedHttpsServer server;
  ASSERT_TRUE(server.valid());
  CurlHttpClient client;
  Results results;
  client.send(post(server.url("/chat/completions"), R"({"secret":"text"})"), results.completion());
  ASSERT_TRUE(results.waitFor(1));
  auto result = results.all()[0];
  ASSERT_TRUE(result.error);
  EXPECT_NE(result.error->find("certificate"), std::string::npos) << *result.error;
  EXPECT_FALSE(result.status);
  EXPECT_FALSE(result.body);
  EXPECT_EQ(server.requests(), 0);
}

TEST(CurlHttpClient, gives_up_on_a_server_that_sends_nothing_after_the_timeout) {
  LoopbackHttpServer server;
  server.script(LoopbackHttpServer::Reply::stalling());
  CurlHttpClient client;
  Results results;
  auto started = std::chrono::steady_clock::now();
  client.send(post(server.url("/slow"), "{}", 1.0), results.completion());
  ASSERT_TRUE(results.waitFor(1, std::chrono::seconds(10)));
  double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  ASSERT_TRUE(results.all()[0].error);
  EXPECT_NE(results.all()[0].error->find("timed out"), std::string::npos);
  EXPECT_FALSE(results.all()[0].status);
  EXPECT_GE(waited, 0.9);  // not some other, instant failure
  server.releaseStalls();
}

TEST(CurlHttpClient, a_server_that_trickles_bytes_runs_into_the_total_deadline) {
  LoopbackHttpServer server;
  server.script(LoopbackHttpServer::Reply::trickling(std::chrono::milliseconds(200)));
  CurlHttpClient client;
  Results results;
  HttpRequest request = post(server.url("/trickle"), "{}", 1.0);
  request.totalTimeoutSeconds = 2.0;
  auto started = std::chrono::steady_clock::now();
  client.send(request, results.completion());
  ASSERT_TRUE(results.waitFor(1, std::chrono::seconds(10)));
  double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  server.releaseStalls();
  ASSERT_TRUE(results.all()[0].error);
  EXPECT_EQ(*results.all()[0].error, "The request timed out: no complete answer within 2 seconds");
  EXPECT_EQ(results.all()[0].failure, HttpFailure::Timeout);
  EXPECT_GE(waited, 1.9);  // each byte came well within the silence bound
}

TEST(CurlHttpClient, a_reply_body_past_the_cap_is_dropped_as_too_large) {
  const size_t cap = 1 << 20;
  LoopbackHttpServer server;
  CurlHttpClient client;
  for (size_t size : {cap, cap + 1}) {
    server.script({200, std::string(size, 'x')});
    Results results;
    client.send(post(server.url("/big"), "{}"), results.completion());
    ASSERT_TRUE(results.waitFor(1));
    HttpResult result = results.all()[0];
    EXPECT_FALSE(result.error) << size;
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.bodyTooLarge, size > cap);
    EXPECT_EQ(result.body ? result.body->size() : 0, size > cap ? 0 : cap);
  }
}

TEST(CurlHttpClient, keeps_several_requests_in_flight_at_once) {
  LoopbackHttpServer server;
  server.setDefault(LoopbackHttpServer::Reply::gathering(4, R"({"ok":true})"));
  CurlHttpClient client;
  Results results;
  for (int i = 0; i < 4; ++i) client.send(post(server.url("/n"), "{}"), results.completion());
  ASSERT_TRUE(results.waitFor(4));
  EXPECT_EQ(server.mostInFlight(), 4);
  for (const auto& result : results.all()) EXPECT_EQ(result.status, 200);
}

TEST(CurlHttpClient, completes_pending_requests_with_an_error_when_destroyed) {
  LoopbackHttpServer server;
  server.setDefault(LoopbackHttpServer::Reply::stalling());
  Results results;
  {
    CurlHttpClient client;
    client.send(post(server.url("/a"), "{}"), results.completion());
    client.send(post(server.url("/b"), "{}"), results.completion());
  }
  ASSERT_TRUE(results.waitFor(2, std::chrono::seconds(0)));
  for (const auto& result : results.all()) EXPECT_TRUE(result.error);
  server.releaseStalls();
}

TEST(CurlHttpClient, completion_may_send_again_from_the_worker_thread) {
  LoopbackHttpServer server;
  server.setDefault({200, "{}"});
  CurlHttpClient client;
  Results results;
  auto second = results.completion();
  client.send(post(server.url("/first"), "{}"),
              [&](HttpResult) { client.send(post(server.url("/second"), "{}"), second); });
  ASSERT_TRUE(results.waitFor(1));
  EXPECT_EQ(server.requests().size(), 2u);
}

TEST(CurlHttpClient, parses_only_http_and_https_urls_with_a_host) {
  CurlHttpClient client;
  auto plain = client.parseURL("HTTP://LocalHost:8080/v1");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->scheme, "http");
  EXPECT_EQ(plain->host, "localhost");
  auto secure = client.parseURL("https://api.deepseek.com/chat/completions");
  ASSERT_TRUE(secure);
  EXPECT_EQ(secure->scheme, "https");
  EXPECT_EQ(secure->host, "api.deepseek.com");
  auto six = client.parseURL("http://[0:0:0:0:0:0:0:1]:11434/v1");
  ASSERT_TRUE(six);
  EXPECT_EQ(six->host, "::1");

  EXPECT_FALSE(client.parseURL("ftp://example.com/file"));
  EXPECT_FALSE(client.parseURL("not a url"));
  EXPECT_FALSE(client.parseURL("https://"));
  EXPECT_FALSE(client.parseURL(""));
}

}  // namespace
}  // namespace quorvel
