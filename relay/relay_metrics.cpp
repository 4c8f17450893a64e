#include "relay_metrics.h"

#include <cstdio>

namespace quorvel::relay {

void RelayMetrics::countRequest(int status) {
  if (status >= 100 && status < static_cast<int>(byStatus_.size())) {
    byStatus_[static_cast<size_t>(status)].fetch_add(1, std::memory_order_relaxed);
  }
}

void RelayMetrics::countRejection(Rejection reason) {
  rejections_[static_cast<size_t>(reason)].fetch_add(1, std::memory_order_relaxed);
}

void RelayMetrics::observeUpstream(double seconds) {
  size_t bucket = 0;
  while (bucket < bounds_.size() && seconds > bounds_[bucket]) ++bucket;
  buckets_[bucket].fetch_add(1, std::memory_order_relaxed);
  upstreamMicros_.fetch_add(static_cast<long long>(seconds * 1e6), std::memory_order_relaxed);
}

std::string RelayMetrics::text() const {
  std::string out;
  char line[160];
  out += "# HELP quorvel_relay_requests_total Requests answered, by HTTP status.\n";
  out += "# TYPE quorvel_relay_requests_total counter\n";
  for (size_t status = 100; status < byStatus_.size(); ++status) {
    long long n = byStatus_[status].load(std::memory_order_relaxed);
    if (n == 0) continue;
    std::snprintf(line, sizeof line, "quorvel_relay_requests_total{status=\"%zu\"} %lld\n", status,
                  n);
    out += line;
  }
  out += "# HELP quorvel_relay_quota_rejections_total Requests refused by a quota, by limit.\n";
  out += "# TYPE quorvel_relay_quota_rejections_total counter\n";
  const char* reasons[] = {"device_requests", "device_chars", "address_rate"};
  for (size_t i = 0; i < rejections_.size(); ++i) {
    std::snprintf(line, sizeof line, "quorvel_relay_quota_rejections_total{limit=\"%s\"} %lld\n",
                  reasons[i], rejections_[i].load(std::memory_order_relaxed));
    out += line;
  }
  out += "# HELP quorvel_relay_in_flight Requests admitted and not yet answered.\n";
  out += "# TYPE quorvel_relay_in_flight gauge\n";
  out += "quorvel_relay_in_flight " + std::to_string(inFlight_.load()) + "\n";
  out += "# HELP quorvel_relay_upstream_seconds Time the upstream took to answer.\n";
  out += "# TYPE quorvel_relay_upstream_seconds histogram\n";
  long long cumulative = 0;
  for (size_t i = 0; i < buckets_.size(); ++i) {
    cumulative += buckets_[i].load(std::memory_order_relaxed);
    if (i < bounds_.size()) {
      std::snprintf(line, sizeof line, "quorvel_relay_upstream_seconds_bucket{le=\"%g\"} %lld\n",
                    bounds_[i], cumulative);
    } else {
      std::snprintf(line, sizeof line, "quorvel_relay_upstream_seconds_bucket{le=\"+Inf\"} %lld\n",
                    cumulative);
    }
    out += line;
  }
  std::snprintf(line, sizeof line, "quorvel_relay_upstream_seconds_sum %.6f\n",
                static_cast<double>(upstreamMicros_.load()) / 1e6);
  out += line;
  out += "quorvel_relay_upstream_seconds_count " + std::to_string(cumulative) + "\n";
  return out;
}

}  // namespace quorvel::relay
