// One chat completion: choose the endpoint (the user's key → the vendor API, else the hosted
// relay), refuse what must not be sent, post the request and read the first answer.
#include <algorithm>
#include <cctype>

#include "polish/deepseek_polisher.h"
#include "polish/request_url.h"
#include "store/utf8.h"

namespace quorvel {

namespace {

// A configured URL override: a non-empty string, else the built-in value.
std::string configuredString(const nlohmann::json& config, const char* key,
                             const std::string& fallback) {
  auto it = config.find(key);
  if (it == config.end() || !it->is_string() || it->get_ref<const std::string&>().empty()) {
    return fallback;
  }
  return it->get<std::string>();
}

// The first answer's content, trimmed, when the reply has exactly the expected shape.
std::optional<std::string> answerText(const std::optional<std::string>& body) {
  if (!body) return std::nullopt;
  auto reply = nlohmann::json::parse(*body, nullptr, /*allow_exceptions=*/false);
  if (!reply.is_object()) return std::nullopt;
  auto choices = reply.find("choices");
  if (choices == reply.end() || !choices->is_array() || choices->empty()) return std::nullopt;
  if (!std::all_of(choices->begin(), choices->end(), [](const auto& c) { return c.is_object(); })) {
    return std::nullopt;
  }
  auto message = choices->front().find("message");
  if (message == choices->front().end() || !message->is_object()) return std::nullopt;
  auto content = message->find("content");
  if (content == message->end() || !content->is_string()) return std::nullopt;
  std::string text = trimWhitespace(content->get<std::string>());
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace

void DeepSeekPolisher::refuse(const std::string& line, const std::string& description,
                              const ChatCompletion& completion) const {
  console_.line("[DeepSeek] " + line);
  completion(std::nullopt, ChatError{description});
}

bool DeepSeekPolisher::permitsURL(const std::string& url, const std::string& configKey,
                                  const ChatCompletion& completion) const {
  auto why = urlRefusal(http_, url);
  if (!why) return true;
  refuse("request not sent to " + url + " (" + configKey + " in config.json): " + *why,
         "The " + configKey + " in config.json (" + url + ") cannot be used: " + *why + ".",
         completion);
  return false;
}

void DeepSeekPolisher::sendChat(const std::vector<nlohmann::json>& messages,
                                ChatCompletion completion) const {
  auto config = readConfig();
  nlohmann::json body = {{"model", configuredString(config, "model", model)},
                         {"messages", messages},
                         {"temperature", 0.3},
                         {"max_tokens", 2048}};
  auto key = getAPIKey();
  std::vector<std::pair<std::string, std::string>> headers = {{"Content-Type", "application/json"}};
  std::string url;
  if (key) {
    if (hasControlCharacter(*key)) {
      refuse(
          "deepseek_api_key in config.json is malformed (it holds a line break or another "
          "control character); request not sent",
          "The deepseek_api_key in config.json is malformed: it holds a line break or another "
          "control character.",
          completion);
      return;
    }
    std::string base = configuredString(config, "api_base_url", deepseekBaseURL);
    while (!base.empty() && base.back() == '/') base.pop_back();
    url = base + "/chat/completions";
    if (!permitsURL(url, "api_base_url", completion)) return;
    console_.line("[DeepSeek] Using user API key");
    headers.emplace_back("Authorization", "Bearer " + *key);
  } else {
    url = configuredString(config, "relay_url", quorvelAPIURL);
    if (!permitsURL(url, "relay_url", completion)) return;
    console_.line("[DeepSeek] No user key, using Quorvel proxy API");
    headers.emplace_back("X-Device-ID", getDeviceID());
  }
  callAPI(url, body, headers, std::move(completion));
}

void DeepSeekPolisher::callAPI(const std::string& url, const nlohmann::json& body,
                               const std::vector<std::pair<std::string, std::string>>& headers,
                               ChatCompletion completion) const {
  if (!http_.parseURL(url)) {
    completion(std::nullopt, std::nullopt);
    return;
  }
  HttpRequest request;
  request.url = url;
  request.method = "POST";
  request.timeoutSeconds = requestTimeoutSeconds_;
  for (const auto& header : headers) {
    auto same = std::find_if(request.headers.begin(), request.headers.end(),
                             [&](const auto& h) { return h.first == header.first; });
    if (same != request.headers.end()) {
      same->second = header.second;
    } else {
      request.headers.push_back(header);
    }
  }
  try {
    request.body = body.dump();
  } catch (const nlohmann::json::exception&) {
    // Text that is not UTF-8 cannot be serialised: the request goes out without a body.
  }
  Console& console = console_;
  http_.send(std::move(request), [&console, completion = std::move(completion)](HttpResult result) {
    if (result.error) {
      console.line("[DeepSeek] request failed: " + *result.error);
      completion(std::nullopt, ChatError{*result.error});
      return;
    }
    if (result.status)
      console.line("[DeepSeek] response status: " + std::to_string(*result.status));
    if (auto text = answerText(result.body)) {
      completion(std::move(text), std::nullopt);
      return;
    }
    bool printable = result.body && isValidUTF8(*result.body);
    console.line("[DeepSeek] failed to parse response: " + (printable ? *result.body : "nil"));
    completion(std::nullopt, std::nullopt);
  });
}

}  // namespace quorvel
