// quorvel-relay: the hosted endpoint that polishes text for Quorvel installations without a
// key of their own. SIGTERM or SIGINT stop it gracefully: the listening socket closes at once
// and requests already received are answered, within the upstream time-out plus the
// keep-alive time-out; past that bound the process exits anyway.
#include <curl/curl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "relay_config.h"
#include "relay_server.h"

namespace {

std::mutex doneMutex;
std::condition_variable doneChanged;
bool done = false;

}  // namespace

int main(int argc, char** argv) {
  using namespace quorvel::relay;
  auto parsed = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (parsed.help) {
    std::fputs(helpText().c_str(), stdout);
    return 0;
  }
  if (parsed.error) {
    std::fprintf(stderr, "quorvel-relay: %s (see --help)\n", parsed.error->c_str());
    return 2;
  }
  const RelayConfig& config = parsed.config;

  // Signals are taken by one thread with sigwait; every other thread inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  curl_global_init(CURL_GLOBAL_DEFAULT);

  RelayServer server(config);
  std::string error;
  auto port = server.bind(error);
  if (!port) {
    std::fprintf(stderr, "quorvel-relay: %s\n", error.c_str());
    return 1;
  }

  auto bound = std::chrono::duration<double>(config.upstreamTimeoutSeconds + 10);
  std::thread([&server, stopSignals, bound] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.stop();
    std::printf("quorvel-relay: stopping (finishing requests in flight)\n");
    std::fflush(stdout);
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(bound);
    std::unique_lock lock(doneMutex);
    // stop() does nothing before the listening loop runs, so it is repeated until run() ends.
    while (!done) {
      server.stop();
      if (std::chrono::steady_clock::now() >= deadline) {
        std::fprintf(stderr, "quorvel-relay: requests still in flight at the shutdown bound\n");
        _exit(1);
      }
      doneChanged.wait_for(lock, std::chrono::milliseconds(100));
    }
  }).detach();

  std::printf("quorvel-relay: listening on %s:%d\n", config.listenHost.c_str(), *port);
  std::fflush(stdout);
  server.run();
  {
    std::lock_guard lock(doneMutex);
    done = true;
  }
  doneChanged.notify_all();
  std::printf("quorvel-relay: stopped\n");
  std::fflush(stdout);
  curl_global_cleanup();
  return 0;
}
