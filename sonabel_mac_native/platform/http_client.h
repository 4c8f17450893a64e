// One HTTP exchange at a time per call, many calls in flight.
//
// Contract:
//   - parseURL(text) gives the scheme (lower case) and host (IPv6 without brackets, in its
//     canonical form) when text is an absolute http or https URL with a host, nullopt otherwise.
//   - send(request, done) returns at once; done is called exactly once, on a worker thread,
//     never on the caller's thread and never inside send().
//   - A transport failure (refused, name lookup, TLS, time-out) sets `error` to a readable
//     description and leaves status and body empty. Otherwise status holds the HTTP status and
//     body the reply bytes (possibly empty); the status is not judged here.
//   - timeoutSeconds bounds connecting and every wait for data; totalTimeoutSeconds bounds the
//     whole exchange. Both end the request as a transport failure (kind Timeout).
//   - A reply body larger than maxBodyBytes is not kept: the result then has its status,
//     bodyTooLarge set and no body.
// Linux: libcurl (multi interface on one worker thread). Tests: a recorder that answers on
// demand, and the real client against loopback servers.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvel {

struct ParsedURL {
  std::string scheme;
  std::string host;
};

struct HttpRequest {
  std::string url;
  std::string method = "POST";
  std::vector<std::pair<std::string, std::string>> headers;
  std::optional<std::string> body;
  double timeoutSeconds = 15.0;
  double totalTimeoutSeconds = 120.0;
  size_t maxBodyBytes = 1 << 20;
};

enum class HttpFailure { Connection, Timeout, Security };

struct HttpResult {
  std::optional<std::string> error;  // set only for a transport failure
  std::optional<long> status;
  std::optional<std::string> body;
  HttpFailure failure = HttpFailure::Connection;  // what kind of transport failure `error` is
  bool bodyTooLarge = false;
};

class HttpClient {
 public:
  using Completion = std::function<void(HttpResult)>;
  virtual ~HttpClient() = default;

  virtual std::optional<ParsedURL> parseURL(const std::string& text) const = 0;
  virtual void send(HttpRequest request, Completion done) = 0;
};

}  // namespace quorvel
