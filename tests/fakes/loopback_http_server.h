// A real HTTP server on 127.0.0.1 (cpp-httplib) for tests of the HTTP client and its users.
// It records every request and answers with scripted replies, in order; when the script runs
// out it answers with the default reply. A reply can stall (send nothing until the server is
// told to let go or is destroyed), trickle (one byte of its body per interval, never ending until
// the server lets go).
#pragma once

#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quorvel::testing {

// A loopback port on which nothing listens: bound once, then closed.
inline int closedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// Starts a cpp-httplib server on a free loopback port and waits (bounded) until it listens:
// stop() is a no-op before that, and a test that ends at once would then hang in join.
template <typename Server>
int listenOnLoopback(Server& server, std::thread& thread) {
  int port = server.bind_to_any_port("127.0.0.1");
  thread = std::thread([&server] { server.listen_after_bind(); });
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!server.is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return port;
}

class LoopbackHttpServer {
 public:
  struct Reply {
    int status = 200;
    std::string body;
    bool stall = false;                    // hold the connection without answering
    std::chrono::milliseconds trickle{0};  // one byte per interval, endlessly

    static Reply stalling() { return {200, "", true}; }
    static Reply trickling(std::chrono::milliseconds interval) {
      return {200, "", false, interval};
    }
  };

  struct Request {
    std::string method, path;
    httplib::Headers headers;             // names compare case-insensitively
    std::string body;                     // empty for multipart/form-data: see parts
    httplib::MultipartFormDataMap parts;  // by field name

    bool hasHeader(const std::string& name) const { return headers.count(name) > 0; }
    std::string header(const std::string& name) const {
      auto it = headers.find(name);
      return it == headers.end() ? std::string() : it->second;
    }
  };

  // Each connection the client keeps alive holds one of the threads while it is open.
  explicit LoopbackHttpServer(size_t threads = 12) {
    server_.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    server_.Post(".*",
                 [this](const httplib::Request& in, httplib::Response& out) { handle(in, out); });
    port_ = listenOnLoopback(server_, thread_);
  }
  ~LoopbackHttpServer() {
    releaseStalls();
    server_.stop();
    thread_.join();
  }

  std::string url(const std::string& path = "") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  void script(Reply reply) {
    std::lock_guard lock(mutex_);
    replies_.push_back(std::move(reply));
  }
  void setDefault(Reply reply) {
    std::lock_guard lock(mutex_);
    default_ = std::move(reply);
  }
  std::vector<Request> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  // Waits, within the bound, until at least `count` requests have arrived.
  bool waitForRequests(size_t count, std::chrono::seconds bound = std::chrono::seconds(20)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, bound, [&] { return requests_.size() >= count; });
  }
  // Lets every stalled reply go (with an empty 200 answer nobody reads any more).
  void releaseStalls() {
    std::lock_guard lock(mutex_);
    closing_ = true;
    changed_.notify_all();
  }

 private:
  void handle(const httplib::Request& request, httplib::Response& response) {
    std::unique_lock lock(mutex_);
    requests_.push_back(
        {request.method, request.path, request.headers, request.body, request.files});
    Reply reply = replies_.empty() ? default_ : std::move(replies_.front());
    if (!replies_.empty()) replies_.pop_front();
    changed_.notify_all();
    changed_.wait_for(lock, std::chrono::seconds(20), [&] { return closing_ || !reply.stall; });
    response.status = reply.status;
    if (reply.trickle.count() == 0) return response.set_content(reply.body, "application/json");
    response.set_chunked_content_provider(
        "application/json", [this, interval = reply.trickle](size_t, httplib::DataSink& sink) {
          std::unique_lock held(mutex_);
          if (changed_.wait_for(held, interval, [&] { return closing_; })) return false;
          held.unlock();
          return sink.write(" ", 1);
        });
  }

  httplib::Server server_;
  std::thread thread_;
  int port_ = -1;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Reply> replies_;
  Reply default_;
  std::vector<Request> requests_;
  bool closing_ = false;
};

}  // namespace quorvel::testing
