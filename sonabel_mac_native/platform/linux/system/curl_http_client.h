// CurlHttpClient: the HTTP port on libcurl's multi interface. One worker thread drives every
// transfer, so many requests are in flight at once and every completion runs on that thread.
// Destroying the client stops the worker; requests still pending complete with an error first.
#pragma once

#include <memory>

#include "platform/http_client.h"

namespace quorvel {

class CurlHttpClient final : public HttpClient {
 public:
  CurlHttpClient();
  ~CurlHttpClient() override;
  CurlHttpClient(const CurlHttpClient&) = delete;
  CurlHttpClient& operator=(const CurlHttpClient&) = delete;

  std::optional<ParsedURL> parseURL(const std::string& text) const override;
  void send(HttpRequest request, Completion done) override;

 private:
  struct Worker;
  std::unique_ptr<Worker> worker_;
};

}  // namespace quorvel
