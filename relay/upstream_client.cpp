// UpstreamClient on libcurl's easy interface. TLS verification stays on; redirects are not
// followed; replies above 8 MiB are refused.
#include "upstream_client.h"

#include <curl/curl.h>

namespace quorvel::relay {

namespace {

constexpr size_t maxReplyBytes = 8 * 1024 * 1024;

size_t appendReply(char* data, size_t size, size_t count, void* user) {
  auto* body = static_cast<std::string*>(user);
  if (body->size() + size * count > maxReplyBytes) return 0;  // aborts the transfer
  body->append(data, size * count);
  return size * count;
}

struct Handle {
  CURL* easy = nullptr;
  ~Handle() {
    if (easy != nullptr) curl_easy_cleanup(easy);
  }
};

// This thread's handle: curl keeps the connection open between requests.
CURL* threadHandle() {
  thread_local Handle handle;
  if (handle.easy == nullptr) handle.easy = curl_easy_init();
  if (handle.easy != nullptr) curl_easy_reset(handle.easy);
  return handle.easy;
}

void commonOptions(CURL* easy, const std::string& url, long timeoutMs) {
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, timeoutMs);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(easy, CURLOPT_TCP_NODELAY, 1L);
}

}  // namespace

UpstreamClient::UpstreamClient(std::string url, std::string key, double timeoutSeconds)
    : url_(std::move(url)),
      authorization_("Authorization: Bearer " + key),
      timeoutMs_(static_cast<long>(timeoutSeconds * 1000)) {}

UpstreamResult UpstreamClient::post(const std::string& body) const {
  UpstreamResult result;
  CURL* easy = threadHandle();
  if (easy == nullptr) {
    result.error = "could not create an HTTP transfer";
    return result;
  }
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
  headers = curl_slist_append(headers, authorization_.c_str());
  headers = curl_slist_append(headers, "Expect:");
  commonOptions(easy, url_, timeoutMs_);
  curl_easy_setopt(easy, CURLOPT_POST, 1L);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, appendReply);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &result.body);
  CURLcode code = curl_easy_perform(easy);
  curl_slist_free_all(headers);
  if (code == CURLE_OK) {
    result.outcome = UpstreamResult::Outcome::answered;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &result.status);
  } else {
    result.outcome = code == CURLE_OPERATION_TIMEDOUT ? UpstreamResult::Outcome::timedOut
                                                      : UpstreamResult::Outcome::failed;
    result.error = curl_easy_strerror(code);
    result.body.clear();
  }
  return result;
}

bool UpstreamClient::reachable(double timeoutSeconds) const {
  CURL* easy = curl_easy_init();
  if (easy == nullptr) return false;
  commonOptions(easy, url_, static_cast<long>(timeoutSeconds * 1000));
  curl_easy_setopt(easy, CURLOPT_CONNECT_ONLY, 1L);
  bool ok = curl_easy_perform(easy) == CURLE_OK;
  curl_easy_cleanup(easy);
  return ok;
}

}  // namespace quorvel::relay
