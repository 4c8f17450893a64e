// One chat completion: choose the endpoint (the user's key → the vendor API, else the hosted
// relay), refuse what must not be sent, post the request and read the first answer.
#include <algorithm>
#include <cctype>

#include "polish/deepseek_polisher.h"
#include "polish/request_url.h"
#include "store/json_file.h"
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

constexpr size_t kLoggedBodyBytes = 200;

// At most the first kLoggedBodyBytes of a body for the console, cut at a character boundary;
// "nil" for none or for bytes that are not UTF-8.
std::string loggedBody(const std::optional<std::string>& body) {
  if (!body || !isValidUTF8(*body)) return "nil";
  if (body->size() <= kLoggedBodyBytes) return *body;
  size_t cut = kLoggedBodyBytes;
  while (cut > 0 && (static_cast<unsigned char>((*body)[cut]) & 0xC0) == 0x80) --cut;
  return body->substr(0, cut) + "... (" + std::to_string(body->size()) + " bytes)";
}

std::string transportReason(HttpFailure failure) {
  switch (failure) {
    case HttpFailure::Timeout:
      return "the service did not answer in time";
    case HttpFailure::Security:
      return "no secure connection to the service";
    case HttpFailure::Connection:
      break;
  }
  return "no connection";
}

// The user's silence bound: "request_timeout_seconds" when it is a number above the default.
double silenceBound(const nlohmann::json& config, double fallback) {
  auto it = config.find("request_timeout_seconds");
  if (it == config.end() || !it->is_number()) return fallback;
  double seconds = it->get<double>();
  if (!(seconds > fallback)) return fallback;
  return std::min(seconds, DeepSeekPolisher::kMaxRequestTimeoutSeconds);
}

}  // namespace

std::string DeepSeekPolisher::failureReason(const std::optional<ChatError>& error) {
  if (!error) return "the reply could not be used";
  return error->reason.empty() ? "no connection" : error->reason;
}

void DeepSeekPolisher::refuse(const std::string& line, const std::string& description,
                              const std::string& reason, const ChatCompletion& completion) const {
  console_.line("[DeepSeek] " + line);
  completion(std::nullopt, ChatError{description, reason});
}

bool DeepSeekPolisher::permitsURL(const std::string& url, const std::string& configKey,
                                  const ChatCompletion& completion) const {
  auto why = urlRefusal(http_, url);
  if (!why) return true;
  refuse("request not sent to " + url + " (" + configKey + " in config.json): " + *why,
         "The " + configKey + " in config.json (" + url + ") cannot be used: " + *why + ".",
         "the " + configKey + " in config.json cannot be used", completion);
  return false;
}

void DeepSeekPolisher::sendChat(const std::vector<nlohmann::json>& messages,
                                ChatCompletion completion) const {
  auto loaded = JsonObjectFile(files_, configFile_, kPrivateFileMode).load();
  if (loaded.unreadable) {
    // The user's own key or server may be in it: sending to the relay instead would hand the
    // text to a party the user may have chosen not to use.
    refuse("config.json cannot be read (" + configFile_ + "); request not sent",
           "The settings file " + configFile_ +
               " cannot be read (it is not a valid JSON object); nothing was sent. Fix or "
               "remove it.",
           "config.json cannot be read", completion);
    return;
  }
  const nlohmann::json& config = loaded.object;
  nlohmann::json body = {{"model", configuredString(config, "model", model)},
                         {"messages", messages},
                         {"temperature", 0.3},
                         {"max_tokens", 2048}};
  auto key = apiKeyIn(config);
  std::vector<std::pair<std::string, std::string>> headers = {{"Content-Type", "application/json"}};
  std::string url;
  if (key) {
    if (hasControlCharacter(*key)) {
      refuse(
          "deepseek_api_key in config.json is malformed (it holds a line break or another "
          "control character); request not sent",
          "The deepseek_api_key in config.json is malformed: it holds a line break or another "
          "control character.",
          "the API key in config.json is malformed", completion);
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
  callAPI(url, body, headers, silenceBound(config, requestTimeoutSeconds_), std::move(completion));
}

void DeepSeekPolisher::callAPI(const std::string& url, const nlohmann::json& body,
                               const std::vector<std::pair<std::string, std::string>>& headers,
                               double silenceSeconds, ChatCompletion completion) const {
  if (!http_.parseURL(url)) {
    completion(std::nullopt, std::nullopt);
    return;
  }
  HttpRequest request;
  request.url = url;
  request.method = "POST";
  request.timeoutSeconds = silenceSeconds;
  request.totalTimeoutSeconds = std::max(kTotalTimeoutSeconds, 2 * silenceSeconds);
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
      completion(std::nullopt, ChatError{*result.error, transportReason(result.failure)});
      return;
    }
    if (result.status)
      console.line("[DeepSeek] response status: " + std::to_string(*result.status));
    if (result.bodyTooLarge) {
      console.line("[DeepSeek] failed to parse response: the reply is larger than 1 MiB");
      completion(std::nullopt, std::nullopt);
      return;
    }
    if (auto text = answerText(result.body)) {
      completion(std::move(text), std::nullopt);
      return;
    }
    console.line("[DeepSeek] failed to parse response: " + loggedBody(result.body));
    completion(std::nullopt, std::nullopt);
  });
}

}  // namespace quorvel
