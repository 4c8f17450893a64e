// Counters for GET /metrics, in the Prometheus text exposition format. Lock-free: every field
// is an atomic updated by the request threads.
#pragma once

#include <array>
#include <atomic>
#include <string>

namespace quorvel::relay {

enum class Rejection { deviceRequests, deviceChars, addressRate, count };

class RelayMetrics {
 public:
  void countRequest(int status);
  void countRejection(Rejection reason);
  void observeUpstream(double seconds);
  std::atomic<long long>& inFlight() { return inFlight_; }

  std::string text() const;

 private:
  static constexpr std::array<double, 12> bounds_ = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25,
                                                     0.5,   1,    2.5,   5,    10,  30};
  std::array<std::atomic<long long>, 600> byStatus_{};
  std::array<std::atomic<long long>, static_cast<size_t>(Rejection::count)> rejections_{};
  std::array<std::atomic<long long>, bounds_.size() + 1> buckets_{};  // last: above every bound
  std::atomic<long long> upstreamMicros_{0};
  std::atomic<long long> inFlight_{0};
};

}  // namespace quorvel::relay
