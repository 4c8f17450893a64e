// An HTTPS server on 127.0.0.1 whose certificate nobody vouches for: a fresh P-256 key and a
// self-signed certificate for 127.0.0.1, valid now, made by the openssl tool in a folder removed
// with the server, so a client that checks trust must refuse it. It answers every POST with an
// empty JSON object and counts the requests that got through.
#pragma once

#include <httplib.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "fakes/loopback_http_server.h"
#include "fakes/temp_home.h"

namespace quorvel::testing {

class SelfSignedHttpsServer {
 public:
  SelfSignedHttpsServer() {
    const std::string key = folder_.path() + "/key.pem", certificate = folder_.path() + "/cert.pem";
    // The name matches: the only thing wrong is that no authority signed it.
    const std::string make =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 "
        "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " +
        key + " -out " + certificate + " 2>/dev/null";
    if (std::system(make.c_str()) != 0) return;
    server_ = std::make_unique<httplib::SSLServer>(certificate.c_str(), key.c_str());
    server_->Post(".*", [this](const httplib::Request&, httplib::Response& response) {
      ++requests_;
      response.set_content("{}", "application/json");
    });
    port_ = listenOnLoopback(*server_, thread_);
  }
  ~SelfSignedHttpsServer() {
    if (server_) server_->stop();
    if (thread_.joinable()) thread_.join();
  }

  std::string url() const { return "https://127.0.0.1:" + std::to_string(port_) + "/v1"; }
  int requests() const { return requests_; }

 private:
  TempHome folder_;
  std::unique_ptr<httplib::SSLServer> server_;
  std::thread thread_;
  int port_ = -1;
  std::atomic<int> requests_{0};
};

}  // namespace quorvel::testing
