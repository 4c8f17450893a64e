// QuotaStore on libhiredis (synchronous, one connection per thread).
#include "quota_store.h"

#include <arpa/inet.h>
#include <hiredis/hiredis.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <vector>

namespace quorvel::relay {

namespace {

// KEYS[1] device day hash, KEYS[2] address minute counter.
// ARGV: requests limit, characters limit, address limit, characters, day expiry, minute expiry.
// Returns {0} admitted, or {1|2|3} for the limit that refused (requests, characters, address).
constexpr const char* admitScript = R"lua(
local a = redis.call('INCR', KEYS[2])
if a == 1 then redis.call('EXPIRE', KEYS[2], ARGV[6]) end
local maxA = tonumber(ARGV[3])
if maxA > 0 and a > maxA then return 3 end
local v = redis.call('HMGET', KEYS[1], 'r', 'c')
local r = tonumber(v[1]) or 0
local c = tonumber(v[2]) or 0
local n = tonumber(ARGV[4])
local maxR = tonumber(ARGV[1])
local maxC = tonumber(ARGV[2])
if maxR > 0 and r + 1 > maxR then return 1 end
if maxC > 0 and c + n > maxC then return 2 end
redis.call('HINCRBY', KEYS[1], 'r', 1)
redis.call('HINCRBY', KEYS[1], 'c', n)
redis.call('EXPIRE', KEYS[1], ARGV[5])
return 0
)lua";

constexpr const char* refundScript = R"lua(
if redis.call('EXISTS', KEYS[1]) == 1 then
  redis.call('HINCRBY', KEYS[1], 'r', -1)
  redis.call('HINCRBY', KEYS[1], 'c', -tonumber(ARGV[1]))
end
return 0
)lua";

using Reply = std::unique_ptr<redisReply, decltype(&freeReplyObject)>;

timeval toTimeval(std::chrono::milliseconds ms) {
  return {static_cast<time_t>(ms.count() / 1000),
          static_cast<suseconds_t>(ms.count() % 1000 * 1000)};
}

}  // namespace

struct QuotaStore::Connection {
  const QuotaStore* owner = nullptr;
  redisContext* context = nullptr;
  std::string admitSha;
  std::string refundSha;

  ~Connection() { drop(); }
  void drop() {
    if (context != nullptr) redisFree(context);
    context = nullptr;
  }

  Reply command(const std::vector<std::string>& args) {
    std::vector<const char*> argv;
    std::vector<size_t> lengths;
    for (const auto& arg : args) {
      argv.push_back(arg.data());
      lengths.push_back(arg.size());
    }
    auto* reply = static_cast<redisReply*>(
        redisCommandArgv(context, static_cast<int>(argv.size()), argv.data(), lengths.data()));
    if (reply == nullptr) drop();  // the connection is unusable after any I/O error
    return Reply(reply, freeReplyObject);
  }

  std::optional<std::string> load(const char* script) {
    auto reply = command({"SCRIPT", "LOAD", script});
    if (!reply || reply->type != REDIS_REPLY_STRING) return std::nullopt;
    return std::string(reply->str, reply->len);
  }

  bool open(const std::string& target, std::chrono::milliseconds timeout) {
    drop();
    timeval tv = toTimeval(timeout);
    if (target.rfind("unix:", 0) == 0) {
      context = redisConnectUnixWithTimeout(target.substr(5).c_str(), tv);
    } else {
      std::string hostPort = target.substr(8);  // after "redis://"
      while (!hostPort.empty() && hostPort.back() == '/') hostPort.pop_back();
      auto colon = hostPort.rfind(':');
      std::string host = colon == std::string::npos ? hostPort : hostPort.substr(0, colon);
      int port = colon == std::string::npos ? 6379 : std::atoi(hostPort.c_str() + colon + 1);
      if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
      context = redisConnectWithTimeout(host.c_str(), port, tv);
    }
    if (context == nullptr || context->err != 0 || redisSetTimeout(context, tv) != REDIS_OK) {
      drop();
      return false;
    }
    auto admit = load(admitScript);
    auto refund = admit ? load(refundScript) : std::nullopt;
    if (!refund) {
      drop();
      return false;
    }
    admitSha = *admit;
    refundSha = *refund;
    return true;
  }

  // EVALSHA, or EVAL when the server answers that it does not know the script.
  Reply evaluate(const std::string& sha, const char* script, std::vector<std::string> args) {
    args.insert(args.begin(), {"EVALSHA", sha});
    auto reply = command(args);
    if (reply && reply->type == REDIS_REPLY_ERROR &&
        std::string(reply->str, reply->len).rfind("NOSCRIPT", 0) == 0) {
      args[0] = "EVAL";
      args[1] = script;
      reply = command(args);
    }
    return reply;
  }
};

QuotaStore::QuotaStore(std::string target, QuotaLimits limits, std::chrono::milliseconds timeout)
    : target_(std::move(target)), limits_(limits), timeout_(timeout) {}

QuotaStore::Connection& QuotaStore::connection() {
  thread_local Connection connection;
  if (connection.owner != this) {
    connection.drop();
    connection.owner = this;
  }
  return connection;
}

Admission QuotaStore::admit(const std::string& deviceId, const std::string& address,
                            long long chars, std::chrono::system_clock::time_point now) {
  long long unix = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
  time_t seconds = static_cast<time_t>(unix);
  tm utc{};
  gmtime_r(&seconds, &utc);
  char day[48];
  std::snprintf(day, sizeof day, "%04d%02d%02d", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday);
  long long untilMidnight = 86400 - unix % 86400;
  long long untilNextMinute = 60 - unix % 60;

  Admission admission;
  admission.deviceKey = "quorvel:dev:" + deviceId + ":" + day;
  std::vector<std::string> args = {
      "2",
      admission.deviceKey,
      "quorvel:addr:" + addressBucket(address) + ":" + std::to_string(unix / 60),
      std::to_string(limits_.deviceRequestsPerDay),
      std::to_string(limits_.deviceCharsPerDay),
      std::to_string(limits_.addressRequestsPerMinute),
      std::to_string(chars),
      std::to_string(untilMidnight + 3600),
      "120"};
  Connection& c = connection();
  // A connection that worked before may have been cut (the server restarted): one fresh try.
  for (int attempt = 0; attempt < 2; ++attempt) {
    bool wasOpen = c.context != nullptr;
    if (!wasOpen && !c.open(target_, timeout_)) return admission;
    auto reply = c.evaluate(c.admitSha, admitScript, args);
    if (reply && reply->type == REDIS_REPLY_INTEGER) {
      switch (reply->integer) {
        case 0:
          admission.verdict = Verdict::admitted;
          break;
        case 1:
        case 2:
          admission.verdict = reply->integer == 1 ? Verdict::deviceRequests : Verdict::deviceChars;
          admission.retryAfterSeconds = untilMidnight;
          break;
        default:
          admission.verdict = Verdict::addressRate;
          admission.retryAfterSeconds = untilNextMinute;
      }
      return admission;
    }
    if (reply) {
      // An error reply (out of memory, read-only replica): the connection is fine, the
      // store is not usable now.
      return admission;
    }
    if (!wasOpen) return admission;
  }
  return admission;
}

void QuotaStore::refund(const std::string& deviceKey, long long chars) {
  Connection& c = connection();
  if (c.context == nullptr && !c.open(target_, timeout_)) return;
  c.evaluate(c.refundSha, refundScript, {"1", deviceKey, std::to_string(chars)});
}

bool QuotaStore::ping() {
  Connection& c = connection();
  for (int attempt = 0; attempt < 2; ++attempt) {
    bool wasOpen = c.context != nullptr;
    if (!wasOpen && !c.open(target_, timeout_)) return false;
    auto reply = c.command({"PING"});
    if (reply) return reply->type == REDIS_REPLY_STATUS;
    if (!wasOpen) return false;
  }
  return false;
}

std::string addressBucket(const std::string& address) {
  in6_addr v6{};
  if (inet_pton(AF_INET6, address.c_str(), &v6) != 1) return address;
  if (IN6_IS_ADDR_V4MAPPED(&v6)) {
    char text[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, &v6.s6_addr[12], text, sizeof text) != nullptr) return text;
    return address;
  }
  for (int i = 8; i < 16; ++i) v6.s6_addr[i] = 0;
  char text[INET6_ADDRSTRLEN];
  if (inet_ntop(AF_INET6, &v6, text, sizeof text) == nullptr) return address;
  return std::string(text) + "/64";
}

}  // namespace quorvel::relay
