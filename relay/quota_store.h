// Per-device daily quotas and per-address minute rates, kept in Redis so that every relay
// instance sharing the Redis server counts against the same totals.
//
// Keys (all with an expiry, so nothing needs cleaning up):
//   quorvel:dev:<device uuid>:<YYYYMMDD>   hash {r: requests, c: characters}, expires one hour
//                                          after the end of that UTC day
//   quorvel:addr:<address>:<minute>        request counter, minute = Unix time / 60, expires
//                                          after 120 seconds
// One Lua script checks and increments both atomically (EVALSHA, falling back to EVAL when
// the server has lost the script), so concurrent requests through any number of instances
// can never exceed a quota.
//
// Each calling thread has its own connection, opened on first use and again after any failure.
#pragma once

#include <chrono>
#include <string>

namespace quorvel::relay {

struct QuotaLimits {
  long long deviceRequestsPerDay = 0;  // 0: unlimited
  long long deviceCharsPerDay = 0;
  long long addressRequestsPerMinute = 0;
};

enum class Verdict { admitted, deviceRequests, deviceChars, addressRate, unavailable };

struct Admission {
  Verdict verdict = Verdict::unavailable;
  long long retryAfterSeconds = 0;  // for the rejections
  std::string deviceKey;            // for refund()
};

class QuotaStore {
 public:
  // target: "redis://HOST:PORT" or "unix:PATH".
  QuotaStore(std::string target, QuotaLimits limits,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(1000));

  // Counts one request of `chars` characters for the device and the address, unless that
  // would pass a limit. The address counter counts every attempt, admitted or not.
  Admission admit(const std::string& deviceId, const std::string& address, long long chars,
                  std::chrono::system_clock::time_point now);

  // Gives back a request the relay could not answer (upstream failure), best effort.
  void refund(const std::string& deviceKey, long long chars);

  bool ping();

 private:
  struct Connection;
  Connection& connection();

  std::string target_;
  QuotaLimits limits_;
  std::chrono::milliseconds timeout_;
};

// The address as counted: IPv6 addresses by their /64 network, since one subscriber commonly
// holds a whole /64.
std::string addressBucket(const std::string& address);

}  // namespace quorvel::relay
