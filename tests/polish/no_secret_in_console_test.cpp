// The user's key never reaches the console: each client runs with a key through its success
// and failure paths (the real libcurl client, the real console), with standard output and
// standard error captured at the file descriptors, and the key must appear in neither. A row
// per client and path: add rows for every client that sends a key.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "fakes/loopback_http_server.h"
#include "fakes/self_signed_https_server.h"
#include "fakes/temp_home.h"
#include "platform/console.h"
#include "platform/linux/system/curl_http_client.h"
#include "polish/completion_probe.h"
#include "polish/deepseek_polisher.h"

namespace quorvel {
namespace {

using namespace quorvel::testing;
using Reply = LoopbackHttpServer::Reply;

const std::string kKey = "sk-7f3a9c1e5b2d4068a1c3e5f7091b2d4f";

// Everything written to file descriptors 1 and 2 while it lives.
class ConsoleCapture {
 public:
  ConsoleCapture() {
    std::fflush(stdout);
    std::fflush(stderr);
    std::FILE* file = std::tmpfile();
    file_ = file;
    savedOut_ = ::dup(1);
    savedErr_ = ::dup(2);
    ::dup2(::fileno(file), 1);
    ::dup2(::fileno(file), 2);
  }
  ~ConsoleCapture() { release(); }

  std::string release() {
    if (file_ == nullptr) return text_;
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(savedOut_, 1);
    ::dup2(savedErr_, 2);
    ::close(savedOut_);
    ::close(savedErr_);
    std::rewind(file_);
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file_)) > 0) text_.append(chunk, n);
    std::fclose(file_);
    file_ = nullptr;
    return text_;
  }

 private:
  std::FILE* file_ = nullptr;
  int savedOut_ = -1;
  int savedErr_ = -1;
  std::string text_;
};

// What one row needs: servers to point at, a home for config.json, the real HTTP client.
struct World {
  LoopbackHttpServer server;
  SelfSignedHttpsServer https;
  TempHome home;
  CurlHttpClient http;
};

// Runs one request of a client with the key and waits for its completion.
using Run = std::function<void(World&, const std::string& key)>;

void chat(World& world, nlohmann::json config, bool edit = false) {
  world.home.put("config.json", config.dump());
  DeepSeekPolisher polisher{world.home, localFileSystem(), world.http, standardOutput(), 1.0};
  CompletionProbe probe;
  if (edit) {
    polisher.edit("some text", "make it short", probe.completion());
  } else {
    polisher.polish("hello there", "Extract", probe.completion());
  }
  ASSERT_TRUE(probe.wait());
}

nlohmann::json vendor(World& world, const std::string& key) {
  return {{"deepseek_api_key", key}, {"api_base_url", world.server.url("/v1")}};
}

struct Row {
  const char* name;
  Run run;
};

const Row kRows[] = {
    {"chat answers",
     [](World& w, const std::string& key) {
       w.server.script({200, R"({"choices":[{"message":{"content":"Hello."}}]})"});
       chat(w, vendor(w, key));
     }},
    {"chat edit answers",
     [](World& w, const std::string& key) {
       w.server.script({200, R"({"choices":[{"message":{"content":"Short."}}]})"});
       chat(w, vendor(w, key), true);
     }},
    {"chat key refused by the server",
     [](World& w, const std::string& key) {
       w.server.script({401, R"({"error":{"message":"Authentication Fails","type":"auth"}})"});
       chat(w, vendor(w, key));
     }},
    {"chat reply unparseable",
     [](World& w, const std::string& key) {
       w.server.script({502, "<html>Bad Gateway</html>"});
       chat(w, vendor(w, key));
     }},
    {"chat server stalls past the time-out",
     [](World& w, const std::string& key) {
       w.server.script(Reply::stalling());
       chat(w, vendor(w, key));
       w.server.releaseStalls();
     }},
    {"chat connection refused",
     [](World& w, const std::string& key) {
       chat(w, {{"deepseek_api_key", key},
                {"api_base_url", "http://127.0.0.1:" + std::to_string(closedPort())}});
     }},
    {"chat certificate nobody signed",
     [](World& w, const std::string& key) {
       chat(w, {{"deepseek_api_key", key}, {"api_base_url", w.https.url()}});
     }},
    {"chat base URL refused before sending",
     [](World&, const std::string& key) {
       World other;
       chat(other, {{"deepseek_api_key", key}, {"api_base_url", "http://example.com"}});
     }},
    {"chat key with a line break refused",
     [](World& w, const std::string& key) { chat(w, vendor(w, key + "\nX-Other: 1")); }},
};

TEST(NoSecretInConsole, no_client_path_prints_the_key_on_standard_output_or_error) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    World world;
    ConsoleCapture capture;
    row.run(world, kKey);
    std::string printed = capture.release();
    EXPECT_NE(printed.find("[DeepSeek] "), std::string::npos) << "nothing captured";
    EXPECT_EQ(printed.find(kKey), std::string::npos) << printed;
    // Nor a telling part of it.
    EXPECT_EQ(printed.find(kKey.substr(3, 16)), std::string::npos) << printed;
  }
}

}  // namespace
}  // namespace quorvel
