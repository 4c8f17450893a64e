// The chat-completion client: against a real loopback server through the libcurl client, and
// against a client that only records what would be sent.
#include <gtest/gtest.h>

#include "fakes/captured_output.h"
#include "fakes/fake_http_client.h"
#include "fakes/loopback_http_server.h"
#include "fakes/recording_console.h"
#include "fakes/self_signed_https_server.h"
#include "fakes/temp_home.h"
#include "platform/linux/system/curl_http_client.h"
#include "polish/completion_probe.h"
#include "polish/deepseek_polisher.h"

namespace quorvel {
namespace {

using namespace quorvel::testing;
using json = nlohmann::json;
using Lines = std::vector<std::string>;
using Reply = LoopbackHttpServer::Reply;
constexpr auto npos = std::string::npos;

std::string answer(const json& content) {
  return json({{"choices", {{{"message", {{"role", "assistant"}, {"content", content}}}}}}}).dump();
}

template <typename Http>
class Polisher : public ::testing::Test {
 protected:
  void configure(const json& config) { home.put("config.json", config.dump()); }
  CompletionProbe& polish(const std::string& text = "x", const std::string& mode = "Extract") {
    probes.emplace_back(std::make_unique<CompletionProbe>());
    polisher.polish(text, mode, probes.back()->completion());
    return *probes.back();
  }

  TempHome home;
  Http http;
  RecordingConsole console;
  DeepSeekPolisher polisher{home, localFileSystem(), http, console};
  std::vector<std::unique_ptr<CompletionProbe>> probes;
};

class ChatClient : public Polisher<CurlHttpClient> {
 protected:
  CompletionProbe& polishAndWait(const std::string& text = "x") {
    auto& probe = polish(text);
    EXPECT_TRUE(probe.wait());
    return probe;
  }
  LoopbackHttpServer server;
};
using ChatRequest = Polisher<FakeHttpClient>;

TEST_F(ChatClient, user_key_goes_to_the_vendor_api_as_a_bearer_with_the_raw_text_and_no_device_id) {
  configure({{"deepseek_api_key", "sk-test"}, {"api_base_url", server.url("/v1/")}});
  server.script({200, answer("  Buy milk.\n")});
  auto& probe = polishAndWait("  um so buy milk ");
  EXPECT_EQ(probe.text, "Buy milk.");
  EXPECT_FALSE(probe.error || probe.onThisThread);
  auto request = server.requests().at(0);
  EXPECT_EQ(request.path, "/v1/chat/completions");
  EXPECT_EQ(request.header("Authorization"), "Bearer sk-test");
  EXPECT_EQ(request.header("Content-Type"), "application/json");
  EXPECT_FALSE(request.hasHeader("X-Device-ID") || home.has("device_id"));
  EXPECT_EQ(request.body.find('\n'), npos);
  auto body = json::parse(request.body);
  EXPECT_EQ(body, json({{"model", "deepseek-chat"},
                        {"temperature", 0.3},
                        {"max_tokens", 2048},
                        {"messages",
                         {{{"role", "system"}, {"content", DeepSeekPolisher::extractionPrompt()}},
                          {{"role", "user"}, {"content", "  um so buy milk "}}}}}));
  EXPECT_TRUE(body["max_tokens"].is_number_integer());
  EXPECT_EQ(console.lines(),
            (Lines{"[DeepSeek] Using user API key", "[DeepSeek] response status: 200"}));
}

TEST_F(ChatClient, without_key_the_relay_gets_one_device_id_and_the_configured_model_if_a_string) {
  server.setDefault({200, answer("fine")});
  configure({{"relay_url", server.url("/distill")}, {"model", "llama3.2"}});
  polishAndWait();
  configure({{"relay_url", server.url("/distill")}, {"model", 7}});
  polishAndWait();
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(json::parse(requests[0].body)["model"], "llama3.2");
  EXPECT_EQ(json::parse(requests[1].body)["model"], "deepseek-chat");
  for (const auto& request : requests) {
    EXPECT_EQ(request.path, "/distill");
    EXPECT_EQ(request.header("X-Device-ID"), home.get("device_id").value_or("none"));
    EXPECT_FALSE(request.hasHeader("Authorization"));
  }
  EXPECT_EQ(console.lines().at(0), "[DeepSeek] No user key, using Quorvel proxy API");
}

TEST_F(ChatClient, a_reply_without_a_usable_answer_gives_neither_and_logs_a_short_safe_prefix) {
  configure({{"relay_url", server.url("/distill")}});
  const std::string error = R"({"error":{"message":"Internal failure","type":"server_error"}})";
  const std::string accented = "\xC3\xA9";  // two bytes: the cut must not split it
  const std::pair<Reply, std::string> rows[] = {
      {{500, error}, error},
      {{200, R"({"choices":[]})"}, ""},
      {{200, R"({"choices":[{"message":{"content":"fine"}},3]})"}, ""},
      {{200, answer(nullptr)}, ""},
      {{200, answer(42)}, ""},
      {{200, answer(" \n\t ")}, ""},
      {{200, R"({"choices":[{"text":"no message"}]})"}, ""},
      {{200, R"({"choices":{"0":{"message":{"content":"x"}}}})"}, ""},
      {{200, R"([{"choices":[]}])"}, ""},
      {{200, "not json at all"}, ""},
      {{200, ""}, ""},
      {{200, std::string(199, 'x') + accented + std::string(5000, 'y')},
       std::string(199, 'x') + "... (5201 bytes)"},
      {{200, std::string((1 << 20) + 1, ' ')}, "the reply is larger than 1 MiB"},
      {{200, "{\"choices\":\"\xff\xfe\"}"}, "nil"},
  };
  for (const auto& [reply, logged] : rows) {
    server.script(reply);
    auto& probe = polishAndWait();
    EXPECT_FALSE(probe.text || probe.error) << reply.body.substr(0, 80);
    EXPECT_EQ(console.lines().back(),
              "[DeepSeek] failed to parse response: " + (logged.empty() ? reply.body : logged));
  }
}

TEST_F(ChatClient, no_path_prints_the_key_on_standard_output_or_error) {
  const std::string key = "sk-7f3a9c1e5b2d4068a1c3e5f7091b2d4f";
  SelfSignedHttpsServer https;
  struct Row {
    const char* name;
    std::optional<Reply> reply;
    std::string base;
    std::string keyTail = "";
    bool edit = false;
  };
  const Row rows[] = {
      {"answers", Reply{200, answer("Hello.")}, server.url("/v1")},
      {"edit answers", Reply{200, answer("Short.")}, server.url("/v1"), "", true},
      {"key refused by the server", Reply{401, R"({"error":{"message":"Bad key"}})"}, server.url()},
      {"reply unparseable", Reply{502, "<html>Bad Gateway</html>"}, server.url("/v1")},
      {"stalls past the time-out", Reply::stalling(), server.url("/v1")},
      {"connection refused", {}, "http://127.0.0.1:" + std::to_string(closedPort())},
      {"certificate nobody signed", {}, https.url()},
      {"base URL refused before sending", {}, "http://example.com"},
      {"key with a line break", {}, server.url("/v1"), "\nX-Other: 1"},
  };
  DeepSeekPolisher loud{home, localFileSystem(), http, standardOutput(), 1.0};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.reply) server.script(*row.reply);
    configure({{"deepseek_api_key", key + row.keyTail}, {"api_base_url", row.base}});
    CompletionProbe probe;
    CapturedOutput captured;
    if (row.edit) {
      loud.edit("some text", "make it short", probe.completion());
    } else {
      loud.polish("hello there", "Extract", probe.completion());
    }
    ASSERT_TRUE(probe.wait());
    std::string printed = captured.text();
    EXPECT_NE(printed.find("[DeepSeek] "), npos) << "nothing captured";
    EXPECT_EQ(printed.find(key.substr(3, 16)), npos) << printed;
  }
  server.releaseStalls();
}

TEST_F(ChatRequest, goes_to_the_configured_or_built_in_url_with_its_key_and_time_bounds) {
  struct Row {
    json config;
    std::string url, authorization = "";
    double silence = 15.0, total = 120.0;
  };
  const std::string vendor = "https://api.deepseek.com/chat/completions";
  const std::string relay = "https://api.quorvel.app/distill";
  const Row rows[] = {
      {json::object(), relay},
      {{{"deepseek_api_key", "  sk-1 "}}, vendor, "Bearer   sk-1 "},
      {{{"deepseek_api_key", "sk"}, {"api_base_url", 12}}, vendor, "Bearer sk"},
      {{{"relay_url", nullptr}}, relay},
      {{{"deepseek_api_key", "sk"}, {"api_base_url", "http://localhost:11434/v1"}},
       "http://localhost:11434/v1/chat/completions",
       "Bearer sk"},
      {{{"relay_url", "http://127.8.9.10/d"}}, "http://127.8.9.10/d"},
      {{{"relay_url", "http://[::1]:8080/d"}}, "http://[::1]:8080/d"},
      {{{"request_timeout_seconds", 60}}, relay, "", 60.0},
      {{{"request_timeout_seconds", 90.5}}, relay, "", 90.5, 181.0},
      {{{"request_timeout_seconds", 5}}, relay},
      {{{"request_timeout_seconds", "90"}}, relay},
      {{{"request_timeout_seconds", 1e9}}, relay, "", 600.0, 1200.0},
  };
  for (const Row& row : rows) {
    configure(row.config);
    polish("");  // an empty text is still sent
    const HttpRequest sent = http.sent().back();
    EXPECT_EQ(sent.url, row.url) << row.config;
    std::string authorization;
    for (const auto& [name, value] : sent.headers) {
      if (name == "Authorization") authorization = value;
    }
    EXPECT_EQ(authorization, row.authorization) << row.config;
    EXPECT_EQ(sent.timeoutSeconds, row.silence) << row.config;
    EXPECT_EQ(sent.totalTimeoutSeconds, row.total) << row.config;
    EXPECT_EQ(sent.method + std::to_string(sent.maxBodyBytes), "POST1048576");
  }
}

TEST_F(ChatRequest, refused_settings_send_nothing_and_answer_at_once_saying_why) {
  const std::pair<std::string, std::string> rows[] = {
      // config.json → error part
      {R"({"deepseek_api_key": "sk-1\n"})", "malformed"},
      {R"({"deepseek_api_key": "sk-1\r\nX-Evil: 1"})", "malformed"},
      {R"({"deepseek_api_key": "sk\t1"})", "malformed"},
      {R"({"deepseek_api_key": "sk\u007f"})", "malformed"},
      {R"({"deepseek_api_key": "sk", "api_base_url": "http://api.example.com/v1"})", "config.json"},
      {R"({"deepseek_api_key": "sk", "api_base_url": "http://127.0.0.1.example.com"})",
       "config.json"},
      {R"({"relay_url": "http://10.0.0.7/distill"})", "config.json"},
      {R"({"relay_url": "ftp://127.0.0.1/distill"})", "config.json"},
      {R"({"relay_url": "file:///etc/passwd"})", "config.json"},
      {R"({"deepseek_api_key": "sk-1",})", polisher.configFile() + " cannot be read"},
      {"[1]", polisher.configFile() + " cannot be read"},
      {"key = sk-1", polisher.configFile() + " cannot be read"},
  };
  for (const auto& [config, why] : rows) {
    console.clear();
    home.put("config.json", config);
    auto& probe = polish();
    EXPECT_TRUE(probe.onThisThread) << config;
    ASSERT_TRUE(probe.error && !probe.text) << config;
    EXPECT_NE(probe.error->description.find(why), npos) << probe.error->description;
    ASSERT_EQ(console.lines().size(), 1u) << config;
    EXPECT_EQ(console.lines()[0].rfind("[DeepSeek] ", 0), 0u);
  }
  EXPECT_EQ(DeepSeekPolisher::failureReason(probes.back()->error), "config.json cannot be read");
  EXPECT_EQ(console.lines()[0], "[DeepSeek] config.json cannot be read (" + polisher.configFile() +
                                    "); request not sent");
  EXPECT_TRUE(http.sent().empty());
  EXPECT_FALSE(home.has("device_id"));

  configure({{"relay_url", "not a url"}});  // no rule broken, no request possible: neither
  auto& probe = polish();
  EXPECT_TRUE(probe.onThisThread && !probe.text && !probe.error);
  EXPECT_TRUE(http.sent().empty());
}

TEST_F(ChatRequest, extract_and_edit_send_their_prompt_and_other_modes_hand_the_text_back) {
  auto& extract = polish(" so um\nhello ");
  EXPECT_EQ(extract.calls, 0);
  http.reply(0, 200, answer("Hello."));
  EXPECT_EQ(extract.text, "Hello.");
  CompletionProbe edit;
  polisher.edit("", "make it formal", edit.completion());
  http.fail(0, "offline");
  EXPECT_EQ(edit.error.value_or(ChatError{}).description, "offline");
  EXPECT_EQ(console.lines().back(), "[DeepSeek] request failed: offline");
  ASSERT_EQ(http.sent().size(), 2u);
  auto messages = [&](size_t i) { return json::parse(*http.sent()[i].body)["messages"]; };
  EXPECT_EQ(messages(0),
            json::array({{{"role", "system"}, {"content", DeepSeekPolisher::extractionPrompt()}},
                         {{"role", "user"}, {"content", " so um\nhello "}}}));
  EXPECT_EQ(messages(1)[0]["content"], DeepSeekPolisher::editPrompt());
  EXPECT_EQ(messages(1)[1]["content"], "Text:\n\n\nInstruction: make it formal");

  for (const char* mode : {"extract", "", "Summary", "Extract "}) {
    auto& direct = polish(" raw\n", mode);
    EXPECT_TRUE(direct.onThisThread && direct.text == " raw\n" && !direct.error) << mode;
  }
  EXPECT_EQ(http.sent().size(), 2u);
}

}  // namespace
}  // namespace quorvel
