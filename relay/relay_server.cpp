#include "relay_server.h"

#include <arpa/inet.h>
#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

#include <nlohmann/json.hpp>

#include "distill_request.h"
#include "quota_store.h"
#include "relay_metrics.h"
#include "upstream_client.h"

namespace quorvel::relay {

namespace {

using Clock = std::chrono::steady_clock;

thread_local std::optional<Clock::time_point> requestStart;

bool isLoopback(const std::string& address) {
  return address.rfind("127.", 0) == 0 || address == "::1" || address.rfind("::ffff:127.", 0) == 0;
}

void sendError(httplib::Response& response, const RelayError& error) {
  response.status = error.status;
  if (error.retryAfterSeconds) {
    response.set_header("Retry-After", std::to_string(*error.retryAfterSeconds));
  }
  response.set_content(errorBody(error), "application/json");
}

bool looksLikeJsonObject(const std::string& body) {
  auto first = body.find_first_not_of(" \t\r\n");
  return first != std::string::npos && body[first] == '{' && nlohmann::json::accept(body);
}

// For statuses the library sets itself (404, 413 on a body too large to read, 400 on a
// request it cannot parse): the same error shape as every other answer.
RelayError libraryError(int status) {
  switch (status) {
    case 404:
      return {404, "invalid_request_error", "not_found", "No such endpoint.", std::nullopt};
    case 405:
      return {405, "invalid_request_error", "method_not_allowed", "Method not allowed.",
              std::nullopt};
    case 413:
      return {413, "invalid_request_error", "request_too_large",
              "The request body is larger than 256 KiB.", std::nullopt};
    default:
      return {status, "invalid_request_error", "invalid_request", "The request is malformed.",
              std::nullopt};
  }
}

}  // namespace

struct RelayServer::Impl {
  RelayConfig config;
  httplib::Server server;
  QuotaStore quotas;
  UpstreamClient upstream;
  RelayMetrics metrics;
  std::mutex logMutex;

  explicit Impl(RelayConfig c)
      : config(std::move(c)),
        quotas(config.redis, QuotaLimits{config.deviceRequestsPerDay, config.deviceCharsPerDay,
                                         config.addressRequestsPerMinute}),
        upstream(config.upstream, config.upstreamKey, config.upstreamTimeoutSeconds) {}

  std::string clientAddress(const httplib::Request& request) const {
    if (config.trustRealIp && isLoopback(request.remote_addr)) {
      // Only an address: the value becomes part of a Redis key and of the access log.
      auto real = request.get_header_value("X-Real-IP");
      in6_addr parsed{};
      if (inet_pton(AF_INET, real.c_str(), &parsed) == 1 ||
          inet_pton(AF_INET6, real.c_str(), &parsed) == 1) {
        return real;
      }
    }
    return request.remote_addr;
  }

  void distill(const httplib::Request& request, httplib::Response& response) {
    std::optional<std::string> device;
    if (request.has_header("X-Device-ID")) device = request.get_header_value("X-Device-ID");
    auto checked = checkDistillRequest(request.body, device, config.model);
    if (auto* error = std::get_if<RelayError>(&checked)) return sendError(response, *error);
    const auto& distill = std::get<DistillRequest>(checked);

    auto& inFlight = metrics.inFlight();
    if (inFlight.fetch_add(1) >= config.maxInFlight) {
      inFlight.fetch_sub(1);
      return sendError(response, {503, "server_error", "overloaded",
                                  "The relay is busy; try again shortly.", 1});
    }
    struct Release {
      std::atomic<long long>& count;
      ~Release() { count.fetch_sub(1); }
    } release{inFlight};

    auto admission = quotas.admit(distill.deviceId, clientAddress(request), distill.contentChars,
                                  std::chrono::system_clock::now());
    switch (admission.verdict) {
      case Verdict::admitted:
        break;
      case Verdict::unavailable:
        return sendError(response,
                         {503, "server_error", "quota_store_unavailable",
                          "The relay cannot check quotas right now; try again later.", 5});
      case Verdict::addressRate:
        metrics.countRejection(Rejection::addressRate);
        return sendError(response, {429, "rate_limit_error", "address_rate_exceeded",
                                    "Too many requests from this address; try again in a minute.",
                                    admission.retryAfterSeconds});
      case Verdict::deviceRequests:
      case Verdict::deviceChars:
        metrics.countRejection(admission.verdict == Verdict::deviceRequests
                                   ? Rejection::deviceRequests
                                   : Rejection::deviceChars);
        return sendError(response, {429, "rate_limit_error", "device_quota_exceeded",
                                    admission.verdict == Verdict::deviceRequests
                                        ? "This device has used today's requests."
                                        : "This device has used today's characters.",
                                    admission.retryAfterSeconds});
    }

    auto sent = Clock::now();
    UpstreamResult result = upstream.post(distill.upstreamBody);
    metrics.observeUpstream(std::chrono::duration<double>(Clock::now() - sent).count());
    if (result.outcome == UpstreamResult::Outcome::answered && result.status >= 200 &&
        result.status < 300 && looksLikeJsonObject(result.body)) {
      response.status = 200;
      response.set_content(std::move(result.body), "application/json");
      return;
    }
    quotas.refund(admission.deviceKey, distill.contentChars);
    if (result.outcome == UpstreamResult::Outcome::timedOut) {
      return sendError(response, {504, "upstream_error", "upstream_timeout",
                                  "The upstream service did not answer in time.", std::nullopt});
    }
    std::string why = result.outcome == UpstreamResult::Outcome::failed
                          ? result.error
                          : "status " + std::to_string(result.status);
    sendError(response, {502, "upstream_error", "upstream_failed",
                         "The upstream service failed (" + why + ").", std::nullopt});
  }

  void health(httplib::Response& response) {
    bool redis = quotas.ping();
    bool up = upstream.reachable(std::min(2.0, config.upstreamTimeoutSeconds));
    response.status = redis && up ? 200 : 503;
    response.set_content(nlohmann::json{{"redis", redis ? "ok" : "unreachable"},
                                        {"upstream", up ? "ok" : "unreachable"}}
                             .dump(),
                         "application/json");
  }

  // One line per request; the device identifier but never a message.
  void log(const httplib::Request& request, const httplib::Response& response) {
    metrics.countRequest(response.status);
    if (!config.accessLog) {
      requestStart.reset();
      return;
    }
    double ms =
        requestStart
            ? std::chrono::duration<double, std::milli>(Clock::now() - *requestStart).count()
            : 0.0;
    requestStart.reset();
    time_t now = std::time(nullptr);
    tm utc{};
    gmtime_r(&now, &utc);
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::string device = request.get_header_value("X-Device-ID").substr(0, 36);
    for (char& c : device) {
      if (!std::isxdigit(static_cast<unsigned char>(c)) && c != '-') c = '?';
    }
    std::string path = request.path.substr(0, 64);
    for (char& c : path) {
      if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7e) c = '?';
    }
    std::lock_guard lock(logMutex);
    std::printf("%s %s \"%s %s\" %d %zu %.1fms device=%s\n", when,
                clientAddress(request).substr(0, 64).c_str(), request.method.substr(0, 16).c_str(),
                path.c_str(), response.status, response.body.size(), ms,
                device.empty() ? "-" : device.c_str());
    std::fflush(stdout);
  }
};

RelayServer::RelayServer(RelayConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {
  auto& server = impl_->server;
  Impl* impl = impl_.get();
  int threads = impl->config.threads;
  server.new_task_queue = [threads] {
    return new httplib::ThreadPool(static_cast<size_t>(threads));
  };
  server.set_payload_max_length(maxBodyBytes);
  server.set_tcp_nodelay(true);
  server.set_keep_alive_timeout(5);
  server.set_keep_alive_max_count(10000);
  server.set_read_timeout(10);
  server.set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
    requestStart = Clock::now();
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server.Post("/distill", [impl](const httplib::Request& request, httplib::Response& response) {
    impl->distill(request, response);
  });
  server.Get("/healthz", [impl](const httplib::Request&, httplib::Response& response) {
    impl->health(response);
  });
  server.Get("/metrics", [impl](const httplib::Request&, httplib::Response& response) {
    response.set_content(impl->metrics.text(), "text/plain; version=0.0.4");
  });
  server.set_error_handler(httplib::Server::HandlerWithResponse(
      [](const httplib::Request&, httplib::Response& response) {
        if (!response.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        sendError(response, libraryError(response.status));
        return httplib::Server::HandlerResponse::Handled;
      }));
  server.set_logger([impl](const httplib::Request& request, const httplib::Response& response) {
    impl->log(request, response);
  });
}

RelayServer::~RelayServer() = default;

std::optional<int> RelayServer::bind(std::string& error) {
  const RelayConfig& config = impl_->config;
  int port =
      config.listenPort == 0
          ? impl_->server.bind_to_any_port(config.listenHost)
          : (impl_->server.bind_to_port(config.listenHost, config.listenPort) ? config.listenPort
                                                                              : -1);
  if (port <= 0) {
    error = "cannot listen on " + config.listenHost + ":" + std::to_string(config.listenPort);
    return std::nullopt;
  }
  return port;
}

void RelayServer::run() {
  impl_->server.listen_after_bind();
}

void RelayServer::stop() {
  impl_->server.stop();
}

}  // namespace quorvel::relay
