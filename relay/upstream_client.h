// The upstream chat-completions API: one blocking POST per call, on a libcurl handle kept per
// calling thread so that each thread reuses its connection. The time-out bounds the whole
// exchange, connecting included.
#pragma once

#include <string>

namespace quorvel::relay {

struct UpstreamResult {
  enum class Outcome { answered, failed, timedOut } outcome = Outcome::failed;
  long status = 0;
  std::string body;
  std::string error;  // for failed and timedOut: a description without the key
};

class UpstreamClient {
 public:
  UpstreamClient(std::string url, std::string key, double timeoutSeconds);

  UpstreamResult post(const std::string& body) const;

  // Whether a connection to the upstream host can be opened (TCP, and TLS for https).
  bool reachable(double timeoutSeconds) const;

 private:
  std::string url_;
  std::string authorization_;
  long timeoutMs_;
};

}  // namespace quorvel::relay
