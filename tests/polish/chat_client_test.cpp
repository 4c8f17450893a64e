// The chat-completion client: what it sends for each setting, what it makes of each reply (over
// real HTTP) and that no path prints the user's key.
#include <gtest/gtest.h>

#include <future>
#include <map>

#include "fakes/fake_http_client.h"
#include "fakes/loopback_http_server.h"
#include "fakes/recording_console.h"
#include "fakes/self_signed_https_server.h"
#include "fakes/temp_home.h"
#include "platform/linux/system/curl_http_client.h"
#include "polish/deepseek_polisher.h"

namespace quorvel {
namespace {

using namespace quorvel::testing;
using json = nlohmann::json;
using Reply = LoopbackHttpServer::Reply;
constexpr auto npos = std::string::npos;

std::string answer(const json& content) {
  return json({{"choices", {{{"message", {{"role", "assistant"}, {"content", content}}}}}}}).dump();
}

// Polishes `text` (or applies `instruction` to it). The outcome reads "text|reason" (the few words
// the page shows for an error), either part possibly empty, and is ready at once when it came
// before the call returned.
std::future<std::string> send(const DeepSeekPolisher& via, const std::string& text = "x",
                              const std::string& mode = "Extract", const char* instruction = "") {
  auto promise = std::make_shared<std::promise<std::string>>();
  auto done = [promise](std::optional<std::string> text, std::optional<ChatError> error) {
    promise->set_value(text.value_or("") + "|" + (error ? error->reason : ""));
  };
  *instruction ? via.edit(text, instruction, done) : via.polish(text, mode, done);
  return promise->get_future();
}

bool ready(std::future<std::string>& outcome, int seconds = 0) {
  return outcome.wait_for(std::chrono::seconds(seconds)) == std::future_status::ready;
}

class ChatClient : public ::testing::Test {
 protected:
  TempHome home;
  RecordingConsole console;
  FakeHttpClient fake;
  DeepSeekPolisher polisher{home, localFileSystem(), fake, console};
};

TEST_F(ChatClient, sends_the_prompt_and_text_where_the_settings_say_or_refuses_at_once_saying_why) {
  const std::string vendor = "https://api.deepseek.com/chat/completions";
  const std::string relay = "https://api.quorvel.app/distill";
  const std::string unreadable = "config.json cannot be read";
  struct Row {
    std::string config;
    std::string to;  // the URL, or a part of the error when refused ("": neither)
    std::string key = "";
    double silence = 15, total = 120;
    std::string model = "deepseek-chat";
  };
  const Row rows[] = {
      {"{}", relay},
      {R"({"deepseek_api_key": "  sk-1 "})", vendor, "  sk-1 "},
      {R"({"deepseek_api_key": "sk", "api_base_url": 12})", vendor, "sk"},
      {R"({"deepseek_api_key": "", "relay_url": null})", relay},
      {R"({"deepseek_api_key": "sk", "api_base_url": "http://localhost:1/v1/"})",
       "http://localhost:1/v1/chat/completions", "sk"},
      {R"({"relay_url": "http://127.8.9.10/d", "model": "llama3.2"})", "http://127.8.9.10/d", "",
       15, 120, "llama3.2"},
      {R"({"relay_url": "http://[::1]:8080/d", "model": 7})", "http://[::1]:8080/d"},
      {R"({"request_timeout_seconds": 90.5})", relay, "", 90.5, 181},
      {R"({"request_timeout_seconds": 5})", relay},
      {R"({"request_timeout_seconds": "90"})", relay},
      {R"({"request_timeout_seconds": 1e9})", relay, "", 600, 1200},
      {R"({"deepseek_api_key": "sk", "api_base_url": "http://127.0.0.1.example.com"})",
       "config.json"},
      {R"({"relay_url": "ftp://127.0.0.1/distill"})", "config.json"},
      {R"({"deepseek_api_key": "sk\u007f"})", "malformed"},  // DEL, as a line break is refused
      {R"({"relay_url": "not a url"})", ""},
      {R"({"deepseek_api_key": "sk-1",})", unreadable},
      {"[1]", unreadable},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.config);
    home.put("config.json", row.config);
    console.clear();
    size_t before = fake.sent().size();
    auto outcome = send(polisher, " um\n");
    if (!row.to.starts_with("http")) {
      ASSERT_TRUE(ready(outcome));
      std::string result = outcome.get();
      EXPECT_TRUE(result.starts_with("|") && result.find(row.to) != npos) << result;
      EXPECT_EQ(result == "|", row.to.empty());
      EXPECT_EQ(console.lines().size(), 1u);
      EXPECT_EQ(fake.sent().size(), before);
      continue;
    }
    ASSERT_EQ(fake.sent().size(), before + 1);
    const HttpRequest sent = fake.sent().back();
    std::map<std::string, std::string> header(sent.headers.begin(), sent.headers.end());
    EXPECT_EQ(sent.url, row.to);
    EXPECT_EQ(header["Authorization"], row.key.empty() ? "" : "Bearer " + row.key);
    EXPECT_EQ(header["X-Device-ID"], row.key.empty() ? home.get("device_id").value_or("?") : "");
    EXPECT_EQ(header["Content-Type"], "application/json");
    EXPECT_EQ(sent.timeoutSeconds, row.silence);
    EXPECT_EQ(sent.totalTimeoutSeconds, row.total);
    json body = json::parse(*sent.body);
    EXPECT_EQ(body, json({{"model", row.model},
                          {"temperature", 0.3},
                          {"max_tokens", 2048},
                          {"messages",
                           {{{"role", "system"}, {"content", DeepSeekPolisher::extractionPrompt()}},
                            {{"role", "user"}, {"content", " um\n"}}}}}));
    EXPECT_TRUE(body["max_tokens"].is_number_integer());
  }
  EXPECT_EQ(console.lines()[0], "[DeepSeek] config.json cannot be read (" + polisher.configFile() +
                                    "); request not sent");
  size_t sent = fake.sent().size();
  for (const char* mode : {"extract", "", "Summary", "Extract "}) {  // no prompt: the text itself
    auto direct = send(polisher, " raw\n", mode);
    EXPECT_TRUE(ready(direct) && direct.get() == " raw\n|") << mode;
  }
  EXPECT_EQ(fake.sent().size(), sent);
}

// Over real HTTP, to a loopback server or none, with the key in config.json.
TEST_F(ChatClient, each_reply_or_failure_gives_its_text_or_reason_and_never_prints_the_key) {
  const std::string key = "sk-7f3a9c1e5b2d4068a1c3e5f7091b2d4f";
  LoopbackHttpServer server;
  SelfSignedHttpsServer https;
  CurlHttpClient http;
  DeepSeekPolisher loud{home, localFileSystem(), http, standardOutput(), 1.0};
  const std::string unparsed = "[DeepSeek] failed to parse response: ";
  struct Row {
    std::string name;
    std::optional<Reply> reply;
    std::string outcome = "|";  // "text|reason"
    std::string base = "";      // "": the loopback server
    std::string keyTail = "";
    const char* instruction = "";
    std::string printed = "[DeepSeek] ";  // a part of what it prints
  };
  const std::string closed = "http://127.0.0.1:" + std::to_string(closedPort());
  std::vector<Row> rows = {
      {"answers", Reply{200, answer("  Hello.\n")}, "Hello.|"},
      {"edit answers", Reply{200, answer("Hello.")}, "Hello.|", "", "", "make it short"},
      {"key refused by the server", Reply{401, R"({"error":"Bad key"})"}},
      {"reply unparseable", Reply{502, "<html>"}, "|", "", "", "", unparsed + "<html>"},
      {"stalls past the time-out", Reply::stalling(), "|the service did not answer in time"},
      {"connection refused", {}, "|no connection", closed},
      {"certificate nobody signed", {}, "|no secure connection to the service", https.url()},
      {"base URL refused before sending",
       {},
       "|the api_base_url in config.json cannot be used",
       "http://example.com"},
      {"key with a line break", {}, "|the API key in config.json is malformed", "", "\nX-Other: 1"},
  };
  const std::string accented = "\xC3\xA9";  // two bytes: the cut must not split it
  const std::pair<std::string, std::string> unusable[] = {
      // reply → what is printed of it
      {R"({"error":{"message":"Internal failure","type":"server_error"}})", ""},
      {R"({"choices":[]})", ""},
      {R"({"choices":[{"message":{"content":"fine"}},3]})", ""},
      {answer(nullptr), ""},
      {answer(" \n\t "), ""},
      {R"({"choices":[{"text":"no message"}]})", ""},
      {R"({"choices":{"0":{"message":{"content":"x"}}}})", ""},
      {"not json at all", ""},
      {std::string(199, 'x') + accented + std::string(5000, 'y'),
       std::string(199, 'x') + "... (5201 bytes)"},
      {std::string((1 << 20) + 1, ' '), "the reply is larger than 1 MiB"},
      {"{\"choices\":\"\xff\xfe\"}", "nil"},
  };
  for (const auto& [body, printed] : unusable) {
    rows.push_back({"unusable: " + body.substr(0, 60), Reply{200, body}, "|", "", "", "",
                    unparsed + (printed.empty() ? body : printed)});
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.reply) server.script(*row.reply);
    home.put("config.json",
             json({{"deepseek_api_key", key + row.keyTail},
                   {"api_base_url", row.base.empty() ? server.url("/v1") : row.base}})
                 .dump());
    // Caught at file descriptors 1 and 2, so writes by any thread and any library count.
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    auto outcome = send(loud, "hello there", "Extract", row.instruction);
    bool answered = ready(outcome, 20);
    std::string printed = ::testing::internal::GetCapturedStdout();
    printed += ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(answered);
    EXPECT_EQ(outcome.get(), row.outcome);
    EXPECT_NE(printed.find(row.printed), npos) << printed.substr(0, 400);
    EXPECT_EQ(printed.find(key.substr(3, 16)), npos) << printed;
    if (*row.instruction) {
      json sent = json::parse(server.requests().back().body)["messages"];
      EXPECT_EQ(sent[0]["content"], DeepSeekPolisher::editPrompt());
      EXPECT_EQ(sent[1]["content"], "Text:\nhello there\n\nInstruction: make it short");
    }
  }
  server.releaseStalls();
}

}  // namespace
}  // namespace quorvel
