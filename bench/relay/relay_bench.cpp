// quorvel-relay throughput and added latency, against an instant upstream on loopback and a
// private redis-server, with every request's quotas checked in Redis (limits set high enough
// that all are admitted).
//
//   relay_bench [--seconds N] [--rate R]
//
// For one instance and for three behind a round-robin client it prints: the requests per
// second that 16 keep-alive clients get through, and the latency p50/p99 at a paced rate
// (default 500 requests per second) straight to the upstream and through the relay.
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "fakes/temp_home.h"
#include "relay/relay_harness.h"

namespace {

using namespace quorvel::testing;
using Clock = std::chrono::steady_clock;

const std::string requestBody =
    nlohmann::json({{"model", "deepseek-chat"},
                    {"messages",
                     {{{"role", "system"}, {"content", "Rewrite the text concisely."}},
                      {{"role", "user"}, {"content", "um so I think we should uh buy milk"}}}},
                    {"temperature", 0.3},
                    {"max_tokens", 2048}})
        .dump();

std::string device(int n) {
  char id[40];
  std::snprintf(id, sizeof id, "5eed0000-0000-4000-8000-%012d", n);
  return id;
}

struct Target {
  std::vector<int> ports;
  std::string path;
  bool withDevice;
};

// Sends one request on the connection for request number n; the status, or -1.
int send(std::vector<std::unique_ptr<httplib::Client>>& connections, const Target& target, long n) {
  auto& client = *connections[static_cast<size_t>(n) % connections.size()];
  httplib::Headers headers;
  if (target.withDevice) headers.emplace("X-Device-ID", device(static_cast<int>(n % 1000)));
  auto result = client.Post(target.path, headers, requestBody, "application/json");
  return result ? result->status : -1;
}

std::vector<std::unique_ptr<httplib::Client>> connect(const Target& target) {
  std::vector<std::unique_ptr<httplib::Client>> connections;
  for (int port : target.ports) {
    connections.push_back(std::make_unique<httplib::Client>("127.0.0.1", port));
    connections.back()->set_keep_alive(true);
    connections.back()->set_tcp_nodelay(true);  // else Nagle holds the body for a delayed ACK
    connections.back()->set_read_timeout(30);
  }
  return connections;
}

struct Throughput {
  double perSecond;
  long failures;
};

Throughput throughput(const Target& target, double seconds, int clients) {
  std::atomic<long> done{0}, failed{0}, next{0};
  auto end = Clock::now() +
             std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  std::vector<std::thread> threads;
  auto start = Clock::now();
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&] {
      auto connections = connect(target);
      while (Clock::now() < end) {
        (send(connections, target, next++) == 200 ? done : failed)++;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  return {static_cast<double>(done) / elapsed, failed};
}

struct Latency {
  double p50Ms, p99Ms;
  long failures;
};

// Open loop: request i is due at start + i / rate, whatever happened to the earlier ones.
Latency pacedLatency(const Target& target, double seconds, double rate) {
  long total = static_cast<long>(seconds * rate);
  std::atomic<long> next{0}, failed{0};
  std::vector<double> millis(static_cast<size_t>(total));
  auto start = Clock::now() + std::chrono::milliseconds(50);
  std::vector<std::thread> threads;
  for (int c = 0; c < 16; ++c) {
    threads.emplace_back([&] {
      auto connections = connect(target);
      for (long i; (i = next++) < total;) {
        std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double>(i / rate)));
        auto sent = Clock::now();
        if (send(connections, target, i) != 200) failed++;
        millis[static_cast<size_t>(i)] =
            std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::sort(millis.begin(), millis.end());
  auto at = [&](double q) { return millis[static_cast<size_t>(q * (millis.size() - 1))]; };
  return {at(0.50), at(0.99), failed};
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 5;
  double rate = 500;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string flag = argv[i];
    if (flag == "--seconds") seconds = std::stod(argv[i + 1]);
    if (flag == "--rate") rate = std::stod(argv[i + 1]);
  }
  TempHome folder;
  RedisServer redis(folder.path());
  if (!redis.ready()) {
    std::fprintf(stderr, "relay_bench: redis-server did not start\n");
    return 1;
  }
  std::ofstream(folder.path() + "/key") << "bench-key\n";

  const std::string answer =
      nlohmann::json(
          {{"choices", {{{"message", {{"role", "assistant"}, {"content", "Buy milk."}}}}}}})
          .dump();
  httplib::Server upstream;
  upstream.new_task_queue = [] { return new httplib::ThreadPool(200); };
  upstream.set_tcp_nodelay(true);
  upstream.Post("/v1/chat/completions", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content(answer, "application/json");
  });
  int upstreamPort = upstream.bind_to_any_port("127.0.0.1");
  std::thread serving([&] { upstream.listen_after_bind(); });

  auto relay = [&] {
    return std::make_unique<RelayInstance>(std::vector<std::string>{
        "--redis", redis.target(), "--upstream",
        "http://127.0.0.1:" + std::to_string(upstreamPort) + "/v1/chat/completions",
        "--upstream-key-file", folder.path() + "/key", "--device-requests-per-day", "1000000000",
        "--device-chars-per-day", "1000000000000", "--address-requests-per-minute", "1000000000",
        "--access-log", "false"});
  };
  std::vector<std::unique_ptr<RelayInstance>> relays;
  for (int i = 0; i < 3; ++i) relays.push_back(relay());

  Target direct{{upstreamPort}, "/v1/chat/completions", false};
  Latency baseline = pacedLatency(direct, seconds, rate);
  std::printf("upstream alone at %.0f req/s: p50 %.2f ms, p99 %.2f ms\n", rate, baseline.p50Ms,
              baseline.p99Ms);
  for (size_t instances : {size_t{1}, size_t{3}}) {
    Target target{{}, "/distill", true};
    for (size_t i = 0; i < instances; ++i) target.ports.push_back(relays[i]->port());
    Throughput most = throughput(target, seconds, 16);
    Latency paced = pacedLatency(target, seconds, rate);
    // A difference of two p99s taken on a busy machine is mostly noise; the p99 through the
    // relay is an upper bound on what it adds.
    std::printf(
        "%zu instance%s: %.0f req/s (16 clients, %ld failed); at %.0f req/s through the relay: "
        "p50 %.2f ms, p99 %.2f ms; added at p50 %.2f ms (%ld failed)\n",
        instances, instances == 1 ? "" : "s", most.perSecond, most.failures, rate, paced.p50Ms,
        paced.p99Ms, paced.p50Ms - baseline.p50Ms, paced.failures);
  }
  relays.clear();
  upstream.stop();
  serving.join();
  return 0;
}
