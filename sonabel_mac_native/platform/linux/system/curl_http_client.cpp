// CurlHttpClient on libcurl (multi interface, one worker thread). TLS peer and host
// verification stay on; only http and https are spoken; redirects are not followed. The
// time-out bounds connecting and every wait for data: a transfer through which no byte has
// moved either way for that long ends with a time-out error (curl's own low-speed check
// averages over several seconds and would let a 1-second limit run to 3). The total time-out
// ends a transfer that trickles on for longer, and a reply body past its cap is dropped as
// soon as it passes it. Missing: no proxy
// configuration of our own (curl's usual environment variables apply) and no cancellation of
// single requests.
#include "platform/linux/system/curl_http_client.h"

#include <arpa/inet.h>
#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "store/ascii.h"

namespace quorvel {

namespace {

struct Transfer {
  HttpRequest request;
  HttpClient::Completion done;
  CURL* easy = nullptr;
  curl_slist* headers = nullptr;
  std::string received;
  bool tooLarge = false;
  char errorText[CURL_ERROR_SIZE] = {};
  double timeoutSeconds = 15.0;
  curl_off_t bytesMoved = 0;
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point lastActivity = started;
  std::chrono::steady_clock::duration total = std::chrono::minutes(2);

  void noteProgress(curl_off_t moved) {
    if (moved != bytesMoved) {
      bytesMoved = moved;
      lastActivity = std::chrono::steady_clock::now();
    }
  }
  std::chrono::steady_clock::time_point silenceDeadline() const {
    return lastActivity + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(timeoutSeconds));
  }
  std::chrono::steady_clock::time_point deadline() const {
    return std::min(silenceDeadline(), started + total);
  }

  ~Transfer() {
    if (easy != nullptr) curl_easy_cleanup(easy);
    curl_slist_free_all(headers);
  }
};

int noteProgress(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
  static_cast<Transfer*>(user)->noteProgress(downloaded + uploaded);
  return 0;
}

std::string timeoutText(const char* what, double seconds) {
  char text[96];
  std::snprintf(text, sizeof text, "The request timed out: %s %g seconds", what, seconds);
  return text;
}

// Past the cap the transfer is stopped (curl ends it with a write error) and nothing is kept.
size_t appendBody(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  size_t n = size * count;
  if (transfer->received.size() + n > transfer->request.maxBodyBytes) {
    transfer->tooLarge = true;
    transfer->received.clear();
    return CURL_WRITEFUNC_ERROR;
  }
  transfer->received.append(data, n);
  return n;
}

HttpFailure failureKind(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return HttpFailure::Timeout;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return HttpFailure::Security;
    default:
      return HttpFailure::Connection;
  }
}

// IPv6 hosts in their canonical text, so "[0:0::1]" and "[::1]" read the same.
std::string canonicalHost(std::string host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
    if (auto percent = host.find('%'); percent != std::string::npos) host.resize(percent);
    in6_addr address{};
    char text[INET6_ADDRSTRLEN];
    if (inet_pton(AF_INET6, host.c_str(), &address) == 1 &&
        inet_ntop(AF_INET6, &address, text, sizeof text) != nullptr) {
      return text;
    }
    return host;
  }
  return asciiLowerCase(host);
}

}  // namespace

struct CurlHttpClient::Worker {
  CURLM* multi = nullptr;
  std::thread thread;
  std::mutex mutex;
  std::deque<std::unique_ptr<Transfer>> incoming;     // guarded by mutex
  bool stopping = false;                              // guarded by mutex
  std::map<CURL*, std::unique_ptr<Transfer>> active;  // worker thread only

  void start(std::unique_ptr<Transfer> transfer) {
    const HttpRequest& request = transfer->request;
    CURL* easy = curl_easy_init();
    if (easy == nullptr) {
      transfer->done(HttpResult{"could not create an HTTP transfer", std::nullopt, std::nullopt});
      return;
    }
    transfer->easy = easy;
    for (const auto& [name, value] : request.headers) {
      transfer->headers = curl_slist_append(transfer->headers, (name + ": " + value).c_str());
    }
    // curl would otherwise add "Expect: 100-continue" to larger bodies and wait for it.
    transfer->headers = curl_slist_append(transfer->headers, "Expect:");
    double timeout = request.timeoutSeconds > 0 ? request.timeoutSeconds : 15.0;
    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    if (request.body) {
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(request.body->size()));
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body->data());
    } else if (request.method == "POST") {
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, "");
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer->headers);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout * 1000));
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, noteProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, transfer.get());
    transfer->timeoutSeconds = timeout;
    transfer->started = transfer->lastActivity = std::chrono::steady_clock::now();
    double total = request.totalTimeoutSeconds > 0 ? request.totalTimeoutSeconds : 120.0;
    transfer->total = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(total));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer.get());
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer->errorText);
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
      transfer->done(HttpResult{"could not start the HTTP transfer", std::nullopt, std::nullopt});
      return;
    }
    active.emplace(easy, std::move(transfer));
  }

  void finish(CURL* easy, CURLcode code) {
    auto it = active.find(easy);
    if (it == active.end()) return;
    std::unique_ptr<Transfer> transfer = std::move(it->second);
    active.erase(it);
    curl_multi_remove_handle(multi, easy);
    HttpResult result;
    if (transfer->tooLarge) {
      long status = 0;
      curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
      result.status = status;
      result.bodyTooLarge = true;
    } else if (code != CURLE_OK) {
      result.error = transfer->errorText[0] != '\0' ? std::string(transfer->errorText)
                                                    : std::string(curl_easy_strerror(code));
      result.failure = failureKind(code);
    } else {
      long status = 0;
      curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
      result.status = status;
      result.body = std::move(transfer->received);
    }
    transfer->done(std::move(result));
  }

  void run() {
    for (;;) {
      std::deque<std::unique_ptr<Transfer>> fresh;
      bool stop;
      {
        std::lock_guard lock(mutex);
        fresh.swap(incoming);
        stop = stopping;
      }
      if (stop) {
        for (auto& transfer : fresh) cancel(std::move(transfer));
        cancelActive();
        return;
      }
      for (auto& transfer : fresh) start(std::move(transfer));
      int running = 0;
      curl_multi_perform(multi, &running);
      int queued = 0;
      while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg == CURLMSG_DONE) finish(message->easy_handle, message->data.result);
      }
      expireIdle();
      curl_multi_poll(multi, nullptr, 0, pollMilliseconds(), nullptr);
    }
  }

  // Ends every transfer that has waited longer than its time-out for a byte, or has run out of
  // its total time.
  void expireIdle() {
    auto now = std::chrono::steady_clock::now();
    for (auto it = active.begin(); it != active.end();) {
      if (it->second->deadline() > now) {
        ++it;
        continue;
      }
      std::unique_ptr<Transfer> transfer = std::move(it->second);
      it = active.erase(it);
      curl_multi_remove_handle(multi, transfer->easy);
      HttpResult result;
      result.failure = HttpFailure::Timeout;
      result.error = transfer->silenceDeadline() <= now
                         ? timeoutText("no data for", transfer->timeoutSeconds)
                         : timeoutText("no complete answer within",
                                       std::chrono::duration<double>(transfer->total).count());
      transfer->done(std::move(result));
    }
  }

  // Until the next deadline (curl shortens the wait further for its own timers).
  int pollMilliseconds() const {
    auto now = std::chrono::steady_clock::now();
    auto wait = std::chrono::milliseconds(1000);
    for (const auto& [easy, transfer] : active) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(transfer->deadline() - now);
      wait = std::min(wait, std::max(left, std::chrono::milliseconds(1)));
    }
    return static_cast<int>(wait.count());
  }

  static void cancel(std::unique_ptr<Transfer> transfer) {
    transfer->done(HttpResult{"the HTTP client was shut down before the request completed",
                              std::nullopt, std::nullopt});
  }

  void cancelActive() {
    while (!active.empty()) {
      auto it = active.begin();
      std::unique_ptr<Transfer> transfer = std::move(it->second);
      active.erase(it);
      curl_multi_remove_handle(multi, transfer->easy);
      cancel(std::move(transfer));
    }
  }
};

CurlHttpClient::CurlHttpClient() : worker_(std::make_unique<Worker>()) {
  // Counted by libcurl: each client's cleanup balances its own init.
  curl_global_init(CURL_GLOBAL_DEFAULT);
  worker_->multi = curl_multi_init();
  worker_->thread = std::thread([worker = worker_.get()] { worker->run(); });
}

CurlHttpClient::~CurlHttpClient() {
  {
    std::lock_guard lock(worker_->mutex);
    worker_->stopping = true;
  }
  curl_multi_wakeup(worker_->multi);
  worker_->thread.join();
  curl_multi_cleanup(worker_->multi);
  curl_global_cleanup();
}

std::optional<ParsedURL> CurlHttpClient::parseURL(const std::string& text) const {
  CURLU* url = curl_url();
  if (url == nullptr) return std::nullopt;
  std::optional<ParsedURL> parsed;
  char* scheme = nullptr;
  char* host = nullptr;
  if (curl_url_set(url, CURLUPART_URL, text.c_str(), 0) == CURLUE_OK &&
      curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
      curl_url_get(url, CURLUPART_HOST, &host, 0) == CURLUE_OK && host != nullptr &&
      *host != '\0') {
    std::string lowered = asciiLowerCase(scheme);
    if (lowered == "http" || lowered == "https") parsed = ParsedURL{lowered, canonicalHost(host)};
  }
  curl_free(scheme);
  curl_free(host);
  curl_url_cleanup(url);
  return parsed;
}

void CurlHttpClient::send(HttpRequest request, Completion done) {
  auto transfer = std::make_unique<Transfer>();
  transfer->request = std::move(request);
  transfer->done = std::move(done);
  {
    std::lock_guard lock(worker_->mutex);
    worker_->incoming.push_back(std::move(transfer));
  }
  curl_multi_wakeup(worker_->multi);
}

}  // namespace quorvel
