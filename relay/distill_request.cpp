// Request checks. The client's "model" is ignored (the operator's is sent) and each message is
// rebuilt from its role and content alone, so nothing else the client adds reaches upstream.
#include "distill_request.h"

#include <cctype>

#include <nlohmann/json.hpp>

#include "store/ascii.h"

namespace quorvel::relay {

namespace {

using Json = nlohmann::json;

RelayError malformed(std::string message) {
  return {400, "invalid_request_error", "invalid_request", std::move(message), std::nullopt};
}

long long codePoints(const std::string& utf8) {
  long long count = 0;
  for (unsigned char c : utf8) count += (c & 0xC0) != 0x80;
  return count;
}

}  // namespace

std::string errorBody(const RelayError& error) {
  return Json{{"error", {{"message", error.message}, {"type", error.type}, {"code", error.code}}}}
      .dump();
}

std::optional<std::string> normalisedUuid(const std::string& text) {
  if (text.size() != 36) return std::nullopt;
  for (size_t i = 0; i < text.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    auto c = static_cast<unsigned char>(text[i]);
    if (dash ? c != '-' : !std::isxdigit(c)) return std::nullopt;
  }
  return asciiLowerCase(text);
}

std::variant<DistillRequest, RelayError> checkDistillRequest(
    const std::string& body, const std::optional<std::string>& deviceHeader,
    const std::string& model) {
  if (body.size() > maxBodyBytes) {
    return RelayError{413, "invalid_request_error", "request_too_large",
                      "The request body is larger than 256 KiB.", std::nullopt};
  }
  auto device = deviceHeader ? normalisedUuid(*deviceHeader) : std::nullopt;
  if (!device) return malformed("The X-Device-ID header must be a UUID.");
  Json request = Json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (!request.is_object()) return malformed("The request body must be a JSON object.");

  auto messages = request.find("messages");
  if (messages == request.end() || !messages->is_array() || messages->empty() ||
      messages->size() > maxMessages) {
    return malformed("\"messages\" must be an array of 1 to 8 messages.");
  }
  Json forwarded = Json::array();
  long long chars = 0;
  for (const Json& message : *messages) {
    if (!message.is_object()) return malformed("Each message must be an object.");
    auto role = message.find("role");
    auto content = message.find("content");
    if (role == message.end() || !role->is_string() ||
        (*role != "system" && *role != "user" && *role != "assistant")) {
      return malformed("Each message needs a \"role\" of system, user or assistant.");
    }
    if (content == message.end() || !content->is_string()) {
      return malformed("Each message needs a string \"content\".");
    }
    chars += codePoints(content->get_ref<const std::string&>());
    forwarded.push_back({{"role", *role}, {"content", *content}});
  }

  Json upstream = {{"model", model}, {"messages", std::move(forwarded)}, {"max_tokens", maxTokens}};
  if (auto tokens = request.find("max_tokens"); tokens != request.end()) {
    if (!tokens->is_number_integer() || *tokens < 1 || *tokens > maxTokens) {
      return malformed("\"max_tokens\" must be a whole number from 1 to 2048.");
    }
    upstream["max_tokens"] = *tokens;
  }
  if (auto temperature = request.find("temperature"); temperature != request.end()) {
    if (!temperature->is_number() || *temperature < 0 || *temperature > 2) {
      return malformed("\"temperature\" must be a number from 0 to 2.");
    }
    upstream["temperature"] = *temperature;
  }
  return DistillRequest{*device, chars, upstream.dump()};
}

}  // namespace quorvel::relay
