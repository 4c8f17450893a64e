#include "platform/linux/system/curl_http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "fakes/loopback_http_server.h"
#include "fakes/self_signed_https_server.h"

namespace quorvel {
namespace {

using namespace testing;
using Reply = LoopbackHttpServer::Reply;

// Sends and waits (with a bound) for the outcome in a few words: "<kind>: <error>",
// "<status> <body>" or "<status> too large".
std::string outcome(HttpClient& client, HttpRequest request) {
  auto said = std::make_shared<std::promise<std::string>>();  // outlives a lost completion
  client.send(std::move(request), [said, caller = std::this_thread::get_id()](HttpResult r) {
    const char* kinds[] = {"connection: ", "timeout: ", "security: "};
    said->set_value((std::this_thread::get_id() == caller ? "on the caller's thread " : "") +
                    (r.error ? kinds[static_cast<int>(r.failure)] + *r.error
                             : std::to_string(r.status.value_or(0)) + " " +
                                   (r.bodyTooLarge ? "too large" : r.body.value_or("(none)"))));
  });
  auto answer = said->get_future();
  if (answer.wait_for(std::chrono::seconds(20)) != std::future_status::ready) return "no answer";
  return answer.get();
}

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
    auto started = std::chrono::steady_clock::now();
    std::string said = outcome(client, row.request);
    EXPECT_EQ(said.rfind(row.outcome, 0), 0u) << said;
    EXPECT_GE(std::chrono::steady_clock::now() - started,
              std::chrono::duration<double>(row.minSeconds));
  }
  EXPECT_EQ(https.requests(), 0);
  server.releaseStalls();
}

}  // namespace
}  // namespace quorvel
