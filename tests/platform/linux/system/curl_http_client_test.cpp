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

// Completions in a few words ("<kind>: <error>", "<status> <body>" or "<status> too large"),
// waited for with a bound.
struct Results {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<std::string> got;

  HttpClient::Completion completion() {
    return [this, caller = std::this_thread::get_id()](HttpResult r) {
      const char* kinds[] = {"connection: ", "timeout: ", "security: "};
      std::string said = std::this_thread::get_id() == caller ? "on the caller's thread " : "";
      said += r.error ? kinds[static_cast<int>(r.failure)] + *r.error
                      : std::to_string(r.status.value_or(0)) + " " +
                            (r.bodyTooLarge ? "too large" : r.body.value_or("(no body)"));
      std::lock_guard lock(mutex);
      got.push_back(said);
      arrived.notify_all();
    };
  }
  bool waitFor(size_t count) {
    std::unique_lock lock(mutex);
    return arrived.wait_for(lock, std::chrono::seconds(20), [&] { return got.size() >= count; });
  }
};

HttpRequest post(const std::string& url, double silence = 15, double total = 120) {
  return {url, "POST", {{"Content-Type", "application/json"}}, "{}", silence, total, 10};
}

TEST(CurlHttpClient, hands_back_the_answer_or_a_transport_failure_within_its_bound) {
  LoopbackHttpServer server;
  SelfSignedHttpsServer https;
  struct Row {
    std::optional<Reply> reply;
    HttpRequest request;
    std::string outcome;    // its beginning
    double minSeconds = 0;  // not some other, instant failure
  };
  const Row rows[] = {
      {Reply{201, "\xff\xfe not 8"}, post(server.url("/a")), "201 \xff\xfe not 8"},
      {Reply{200, "0123456789"}, post(server.url("/at-the-cap")), "200 0123456789"},
      {Reply{200, "0123456789!"}, post(server.url("/past-the-cap")), "200 too large"},
      {{}, post("http://127.0.0.1:" + std::to_string(closedPort())), "connection: "},
      {{}, post(https.url()), "security: "},
      {Reply::stalling(), post(server.url("/slow"), 1),
       "timeout: The request timed out: no data for 1 seconds", 0.9},
      // Each byte comes well within the silence bound: only the total deadline stops it.
      {Reply::trickling(std::chrono::milliseconds(200)), post(server.url("/trickle"), 1, 2),
       "timeout: The request timed out: no complete answer within 2 seconds", 1.9},
  };
  CurlHttpClient client;
  for (const Row& row : rows) {
    if (row.reply) server.script(*row.reply);
    Results results;
    auto started = std::chrono::steady_clock::now();
    client.send(row.request, results.completion());
    ASSERT_TRUE(results.waitFor(1));
    EXPECT_EQ(results.got[0].rfind(row.outcome, 0), 0u) << results.got[0];
    EXPECT_GE(std::chrono::steady_clock::now() - started,
              std::chrono::duration<double>(row.minSeconds));
  }
  EXPECT_EQ(https.requests(), 0);
  server.releaseStalls();
}

TEST(CurlHttpClient, keeps_requests_in_flight_together_and_ends_the_pending_ones_when_destroyed) {
  LoopbackHttpServer server;
  server.setDefault(Reply::gathering(3, "{}"));
  Results results;
  {
    CurlHttpClient client;
    for (int i = 0; i < 2; ++i) client.send(post(server.url()), results.completion());
    client.send(post(server.url()), [&, again = results.completion()](HttpResult) {
      client.send(post(server.url()), again);  // a completion may send again
    });
    ASSERT_TRUE(results.waitFor(3));
    server.setDefault(Reply::stalling());
    for (int i = 0; i < 2; ++i) client.send(post(server.url()), results.completion());
    ASSERT_TRUE(server.waitForRequests(6));
  }
  EXPECT_EQ(server.mostInFlight(), 3);
  const std::string cut = "connection: the HTTP client was shut down before the request completed";
  EXPECT_EQ(results.got, (std::vector<std::string>{"200 {}", "200 {}", "200 {}", cut, cut}));
  server.releaseStalls();
}

TEST(CurlHttpClient, parses_only_http_and_https_urls_with_a_host) {
  const std::pair<const char*, const char*> cases[] = {
      {"HTTP://LocalHost:8080/v1", "http localhost"},
      {"http://[0:0:0:0:0:0:0:1]:11434/v1", "http ::1"},
      {"ftp://example.com/file", "(none)"},
      {"https://", "(none)"},
  };
  CurlHttpClient client;
  for (const auto& [text, expected] : cases) {
    auto parsed = client.parseURL(text);
    EXPECT_EQ(parsed ? parsed->scheme + " " + parsed->host : "(none)", expected) << text;
  }
}

}  // namespace
}  // namespace quorvel
