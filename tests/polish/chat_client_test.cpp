// The chat-completion client against a real loopback server through the libcurl client.
#include <gtest/gtest.h>

#include <tuple>

#include "fakes/fake_http_client.h"
#include "fakes/loopback_http_server.h"
#include "fakes/recording_console.h"
#include "fakes/temp_home.h"
#include "platform/linux/system/curl_http_client.h"
#include "polish/completion_probe.h"
#include "polish/deepseek_polisher.h"

namespace quorvel {
namespace {

using namespace quorvel::testing;
using Lines = std::vector<std::string>;
using Reply = LoopbackHttpServer::Reply;

std::string answer(const nlohmann::json& content) {
  return nlohmann::json(
             {{"choices", {{{"message", {{"role", "assistant"}, {"content", content}}}}}}})
      .dump();
}

class ChatClient : public ::testing::Test {
 protected:
  void configure(nlohmann::json config) { home.put("config.json", config.dump()); }
  void useRelay() { configure({{"relay_url", server.url("/distill")}}); }
  void useKey(const std::string& key) {
    configure({{"deepseek_api_key", key}, {"api_base_url", server.url("/v1/")}});
  }

  // One polish request, waited for.
  CompletionProbe& polish(const std::string& text, DeepSeekPolisher* with = nullptr) {
    probes.emplace_back(std::make_unique<CompletionProbe>());
    (with ? *with : polisher).polish(text, "Extract", probes.back()->completion());
    EXPECT_TRUE(probes.back()->wait());
    return *probes.back();
  }

  LoopbackHttpServer server;
  TempHome home;
  CurlHttpClient http;
  RecordingConsole console;
  DeepSeekPolisher polisher{home, localFileSystem(), http, console};
  std::vector<std::unique_ptr<CompletionProbe>> probes;
};

TEST_F(ChatClient, user_key_goes_to_the_vendor_api_with_bearer_header_and_no_device_id) {
  useKey("sk-test");
  server.script({200, answer("  Buy milk.\n")});
  auto& probe = polish("um so buy milk");

  EXPECT_EQ(probe.text(), "Buy milk.");
  EXPECT_FALSE(probe.error());
  EXPECT_FALSE(probe.calledOnThisThread());
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, "/v1/chat/completions");
  EXPECT_EQ(requests[0].header("Authorization"), "Bearer sk-test");
  EXPECT_EQ(requests[0].header("Content-Type"), "application/json");
  EXPECT_FALSE(requests[0].hasHeader("X-Device-ID"));
  EXPECT_FALSE(home.has("device_id"));
  EXPECT_EQ(console.lines(),
            (Lines{"[DeepSeek] Using user API key", "[DeepSeek] response status: 200"}));
}

TEST_F(ChatClient, body_is_compact_json_with_model_messages_in_order_and_integer_max_tokens) {
  useKey("sk-test");
  server.script({200, answer("ok")});
  polish("  raw text, untrimmed ");
  const std::string body = server.requests().at(0).body;
  EXPECT_EQ(body.find('\n'), std::string::npos);
  auto json = nlohmann::json::parse(body);
  EXPECT_EQ(json.size(), 4u);
  EXPECT_EQ(json["model"], "deepseek-chat");
  EXPECT_DOUBLE_EQ(json["temperature"].get<double>(), 0.3);
  EXPECT_TRUE(json["max_tokens"].is_number_integer());
  EXPECT_EQ(json["max_tokens"], 2048);
  EXPECT_EQ(json["messages"],
            nlohmann::json::array(
                {{{"role", "system"}, {"content", DeepSeekPolisher::extractionPrompt()}},
                 {{"role", "user"}, {"content", "  raw text, untrimmed "}}}));
}

TEST_F(ChatClient, configured_model_replaces_the_default_only_when_it_is_a_string) {
  configure({{"relay_url", server.url("/distill")}, {"model", "llama3.2"}});
  server.setDefault({200, answer("ok")});
  polish("a");
  configure({{"relay_url", server.url("/distill")}, {"model", 7}});
  polish("b");
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(nlohmann::json::parse(requests[0].body)["model"], "llama3.2");
  EXPECT_EQ(nlohmann::json::parse(requests[1].body)["model"], "deepseek-chat");
}

TEST_F(ChatClient, without_key_the_relay_gets_the_same_device_id_every_time) {
  useRelay();
  server.setDefault({200, answer("fine")});
  polish("one");
  polish("two");
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  ASSERT_TRUE(home.get("device_id"));
  for (const auto& request : requests) {
    EXPECT_EQ(request.path, "/distill");
    EXPECT_EQ(request.header("X-Device-ID"), *home.get("device_id"));
    EXPECT_FALSE(request.hasHeader("Authorization"));
    EXPECT_EQ(request.header("Content-Type"), "application/json");
  }
  EXPECT_EQ(console.lines().at(0), "[DeepSeek] No user key, using Quorvel proxy API");
}

TEST_F(ChatClient, error_status_with_error_object_logs_status_and_body_and_gives_neither) {
  useRelay();
  const std::string body = R"({"error":{"message":"Internal failure","type":"server_error"}})";
  server.script({500, body});
  auto& probe = polish("x");
  EXPECT_FALSE(probe.text());
  EXPECT_FALSE(probe.error());
  EXPECT_EQ(console.lines(), (Lines{"[DeepSeek] No user key, using Quorvel proxy API",
                                    "[DeepSeek] response status: 500",
                                    "[DeepSeek] failed to parse response: " + body}));
}

TEST_F(ChatClient, replies_without_a_usable_first_answer_give_neither_text_nor_error) {
  useRelay();
  const std::vector<std::string> bodies = {
      R"({"choices":[]})",
      R"({"choices":[{"message":{"content":"fine"}},3]})",
      answer(nullptr),
      answer(42),
      answer(" \n\t "),
      R"({"choices":[{"text":"no message"}]})",
      R"({"choices":{"0":{"message":{"content":"x"}}}})",
      R"([{"choices":[]}])",
      "not json at all",
      "",
  };
  for (const auto& body : bodies) {
    console.clear();
    server.script({200, body});
    auto& probe = polish("x");
    EXPECT_FALSE(probe.text()) << body;
    EXPECT_FALSE(probe.error()) << body;
    EXPECT_EQ(console.lines().back(), "[DeepSeek] failed to parse response: " + body);
  }
}

TEST_F(ChatClient, only_a_short_prefix_of_an_unusable_body_is_logged) {
  useRelay();
  const std::string accented = "\xC3\xA9";  // two bytes: the cut must not split it
  server.script({200, std::string(199, 'x') + accented + std::string(5000, 'y')});
  auto& probe = polish("x");
  EXPECT_FALSE(probe.text());
  EXPECT_FALSE(probe.error());
  EXPECT_EQ(console.lines().back(),
            "[DeepSeek] failed to parse response: " + std::string(199, 'x') + "... (5201 bytes)");

  server.script({200, std::string((1 << 20) + 1, ' ')});  // past the cap: not kept at all
  auto& tooLarge = polish("x");
  EXPECT_FALSE(tooLarge.text());
  EXPECT_FALSE(tooLarge.error());
  EXPECT_EQ(console.lines().back(),
            "[DeepSeek] failed to parse response: the reply is larger than 1 MiB");
}

TEST_F(ChatClient, body_that_is_not_utf8_is_logged_as_nil) {
  useRelay();
  server.script({200, "{\"choices\":\"\xff\xfe\"}"});
  auto& probe = polish("x");
  EXPECT_FALSE(probe.text());
  EXPECT_FALSE(probe.error());
  EXPECT_EQ(console.lines().back(), "[DeepSeek] failed to parse response: nil");
}

TEST_F(ChatClient, refused_connection_is_a_transport_error_with_its_description) {
  configure({{"relay_url", "http://127.0.0.1:" + std::to_string(closedPort()) + "/distill"}});
  auto& probe = polish("x");
  EXPECT_FALSE(probe.text());
  ASSERT_TRUE(probe.error());
  EXPECT_FALSE(probe.error()->description.empty());
  EXPECT_EQ(console.lines().back(), "[DeepSeek] request failed: " + probe.error()->description);
}

TEST_F(ChatClient, server_that_stalls_past_the_timeout_is_a_transport_error) {
  DeepSeekPolisher impatient(home, localFileSystem(), http, console, 1.0);
  useRelay();
  server.script(Reply::stalling());
  auto& probe = polish("x", &impatient);
  server.releaseStalls();
  ASSERT_TRUE(probe.error());
  EXPECT_NE(probe.error()->description.find("timed out"), std::string::npos);
  EXPECT_EQ(console.lines().back(), "[DeepSeek] request failed: " + probe.error()->description);
}

TEST_F(ChatClient, several_requests_are_in_flight_at_once) {
  useRelay();
  server.setDefault(Reply::gathering(3, answer("together")));
  std::vector<CompletionProbe> three(3);
  for (auto& probe : three) polisher.polish("x", "Extract", probe.completion());
  for (auto& probe : three) {
    ASSERT_TRUE(probe.wait());
    EXPECT_EQ(probe.text(), "together");
  }
  EXPECT_EQ(server.mostInFlight(), 3);
}

TEST_F(ChatClient, unparseable_url_calls_back_at_once_with_neither) {
  configure({{"relay_url", "not a url"}});
  CompletionProbe probe;
  polisher.polish("x", "Extract", probe.completion());
  EXPECT_TRUE(probe.calledOnThisThread());
  EXPECT_FALSE(probe.text());
  EXPECT_FALSE(probe.error());
  EXPECT_EQ(console.lines(), Lines{"[DeepSeek] No user key, using Quorvel proxy API"});
  EXPECT_TRUE(server.requests().empty());
}

// What must never be sent: checked against a client that only records.
class ChatClientRefusals : public ::testing::Test {
 protected:
  void configure(nlohmann::json config) { home.put("config.json", config.dump()); }
  CompletionProbe& polish() {
    probes.emplace_back(std::make_unique<CompletionProbe>());
    polisher.polish("x", "Extract", probes.back()->completion());
    return *probes.back();
  }

  TempHome home;
  FakeHttpClient http;
  RecordingConsole console;
  DeepSeekPolisher polisher{home, localFileSystem(), http, console};
  std::vector<std::unique_ptr<CompletionProbe>> probes;
};

TEST_F(ChatClientRefusals, key_with_a_control_character_is_refused_and_nothing_is_sent) {
  for (const char* key : {"sk-1\n", "sk-1\r\nX-Evil: 1", "sk\t1", "sk\x7f"}) {
    console.clear();
    configure({{"deepseek_api_key", key}});
    auto& probe = polish();
    EXPECT_TRUE(probe.calledOnThisThread());
    EXPECT_FALSE(probe.text());
    ASSERT_TRUE(probe.error());
    EXPECT_NE(probe.error()->description.find("config.json"), std::string::npos);
    EXPECT_NE(probe.error()->description.find("malformed"), std::string::npos);
    ASSERT_EQ(console.lines().size(), 1u);
    EXPECT_EQ(console.lines()[0].rfind("[DeepSeek] ", 0), 0u);
    EXPECT_NE(console.lines()[0].find("malformed"), std::string::npos);
  }
  EXPECT_TRUE(http.sent().empty());
}

TEST_F(ChatClientRefusals, an_unreadable_config_sends_nothing_and_says_where) {
  const std::string path = polisher.configFile();
  for (const char* text : {R"({"deepseek_api_key": "sk-1",})", "[1]", "key = sk-1"}) {
    console.clear();
    home.put("config.json", text);
    auto& probe = polish();
    EXPECT_TRUE(probe.calledOnThisThread());
    EXPECT_FALSE(probe.text());
    ASSERT_TRUE(probe.error()) << text;
    EXPECT_NE(probe.error()->description.find(path + " cannot be read"), std::string::npos);
    EXPECT_EQ(DeepSeekPolisher::failureReason(probe.error()), "config.json cannot be read");
    EXPECT_EQ(console.lines(),
              Lines{"[DeepSeek] config.json cannot be read (" + path + "); request not sent"});
  }
  EXPECT_TRUE(http.sent().empty());
  EXPECT_FALSE(home.has("device_id"));
}

TEST_F(ChatClientRefusals, request_timeout_seconds_only_raises_the_silence_bound) {
  const std::vector<std::tuple<nlohmann::json, double, double>> cases = {
      {nullptr, 15.0, 120.0}, {60, 60.0, 120.0},   {90.5, 90.5, 181.0},
      {5, 15.0, 120.0},       {"90", 15.0, 120.0}, {1e9, 600.0, 1200.0},
  };
  for (const auto& [value, silence, total] : cases) {
    nlohmann::json config = nlohmann::json::object();
    if (!value.is_null()) config["request_timeout_seconds"] = value;
    configure(config);
    polish();
    EXPECT_EQ(http.sent().back().timeoutSeconds, silence) << value;
    EXPECT_EQ(http.sent().back().totalTimeoutSeconds, total) << value;
  }
}

TEST_F(ChatClientRefusals, spaces_around_the_key_pass_into_the_header_unchanged) {
  configure({{"deepseek_api_key", "  sk-1 "}});
  polish();
  ASSERT_EQ(http.sent().size(), 1u);
  auto headers = http.sent()[0].headers;
  EXPECT_NE(std::find(headers.begin(), headers.end(),
                      std::pair<std::string, std::string>{"Authorization", "Bearer   sk-1 "}),
            headers.end());
  EXPECT_EQ(http.sent()[0].url, "https://api.deepseek.com/chat/completions");
  EXPECT_EQ(http.sent()[0].timeoutSeconds, 15.0);
  EXPECT_EQ(http.sent()[0].maxBodyBytes, 1u << 20);
  EXPECT_EQ(http.sent()[0].method, "POST");
}

TEST_F(ChatClientRefusals, built_in_relay_is_used_without_key_or_override) {
  polish();
  ASSERT_EQ(http.sent().size(), 1u);
  EXPECT_EQ(http.sent()[0].url, "https://api.quorvel.app/distill");
}

TEST_F(ChatClientRefusals, plain_http_is_sent_only_to_this_machine) {
  for (const char* url :
       {"http://localhost:11434/v1", "http://127.8.9.10/v1", "http://[::1]:8080/v1"}) {
    configure({{"deepseek_api_key", "sk"}, {"api_base_url", url}});
    polish();
  }
  ASSERT_EQ(http.sent().size(), 3u);
  EXPECT_EQ(http.sent()[0].url, "http://localhost:11434/v1/chat/completions");

  const std::vector<nlohmann::json> refused = {
      {{"deepseek_api_key", "sk"}, {"api_base_url", "http://api.example.com/v1"}},
      {{"deepseek_api_key", "sk"}, {"api_base_url", "http://127.0.0.1.example.com"}},
      {{"relay_url", "http://10.0.0.7/distill"}},
      {{"relay_url", "ftp://127.0.0.1/distill"}},
      {{"relay_url", "file:///etc/passwd"}},
  };
  for (const auto& config : refused) {
    console.clear();
    configure(config);
    auto& probe = polish();
    EXPECT_TRUE(probe.calledOnThisThread()) << config;
    EXPECT_FALSE(probe.text());
    ASSERT_TRUE(probe.error()) << config;
    EXPECT_NE(probe.error()->description.find("config.json"), std::string::npos);
    ASSERT_EQ(console.lines().size(), 1u) << config;
    EXPECT_EQ(console.lines()[0].rfind("[DeepSeek] ", 0), 0u);
  }
  EXPECT_EQ(http.sent().size(), 3u);
  EXPECT_FALSE(home.has("device_id"));
}

TEST_F(ChatClientRefusals, overrides_that_are_not_strings_fall_back_to_the_built_in_urls) {
  configure({{"deepseek_api_key", "sk"}, {"api_base_url", 12}});
  polish();
  configure({{"relay_url", nullptr}});
  polish();
  ASSERT_EQ(http.sent().size(), 2u);
  EXPECT_EQ(http.sent()[0].url, "https://api.deepseek.com/chat/completions");
  EXPECT_EQ(http.sent()[1].url, "https://api.quorvel.app/distill");
}

}  // namespace
}  // namespace quorvel
