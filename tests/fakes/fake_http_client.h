// An HTTP client that sends nothing: it keeps every request and answers only when the test
// says so, from the test's own thread (which stands in for the worker thread), in any order,
// late or never. URLs parse when they start with "http://" or "https://" followed by a host
// (an IPv6 host in brackets, handed back without them).
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/http_client.h"

namespace quorvel::testing {

class FakeHttpClient final : public HttpClient {
 public:
  std::optional<ParsedURL> parseURL(const std::string& text) const override {
    for (const char* scheme : {"http", "https"}) {
      std::string prefix = std::string(scheme) + "://";
      if (text.rfind(prefix, 0) != 0) continue;
      std::string rest = text.substr(prefix.size());
      std::string host = rest.substr(0, rest.find_first_of("/:?#"));
      if (!rest.empty() && rest[0] == '[') host = rest.substr(1, rest.find(']') - 1);
      if (host.empty()) return std::nullopt;
      return ParsedURL{scheme, host};
    }
    return std::nullopt;
  }

  void send(HttpRequest request, Completion done) override {
    std::lock_guard lock(mutex_);
    pending_.push_back({std::move(request), std::move(done)});
    sent_.push_back(pending_.back().request);
  }

  std::vector<HttpRequest> sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
  }

  size_t pending() const {
    std::lock_guard lock(mutex_);
    return pending_.size();
  }

  // Answers the pending request at `index` (0 = oldest still pending).
  void answer(size_t index, HttpResult result) {
    Completion done;
    {
      std::lock_guard lock(mutex_);
      done = std::move(pending_.at(index).done);
      pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(index));
    }
    done(std::move(result));
  }

  void reply(size_t index, long status, std::string body) {
    answer(index, HttpResult{std::nullopt, status, std::move(body)});
  }

  void fail(size_t index, std::string error) {
    answer(index, HttpResult{std::move(error), std::nullopt, std::nullopt});
  }

 private:
  struct Pending {
    HttpRequest request;
    Completion done;
  };
  mutable std::mutex mutex_;
  std::vector<Pending> pending_;
  std::vector<HttpRequest> sent_;
};

}  // namespace quorvel::testing
