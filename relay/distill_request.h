// The checks on a POST /distill request and the body the relay sends upstream in its place.
// Errors come back in the chat-completion API's own error shape.
#pragma once

#include <optional>
#include <string>
#include <variant>

namespace quorvel::relay {

constexpr size_t maxBodyBytes = 256 * 1024;
constexpr size_t maxMessages = 8;
constexpr long long maxTokens = 2048;

struct RelayError {
  int status;
  std::string type;
  std::string code;
  std::string message;
  std::optional<long long> retryAfterSeconds;
};

// {"error": {"message", "type", "code"}}
std::string errorBody(const RelayError& error);

struct DistillRequest {
  std::string deviceId;    // lower case
  long long contentChars;  // characters (code points) of every message's content
  std::string upstreamBody;
};

// deviceHeader: the X-Device-ID value, absent when the header is missing.
std::variant<DistillRequest, RelayError> checkDistillRequest(
    const std::string& body, const std::optional<std::string>& deviceHeader,
    const std::string& model);

// 8-4-4-4-12 hexadecimal digits; the lower-case form, or nothing.
std::optional<std::string> normalisedUuid(const std::string& text);

}  // namespace quorvel::relay
