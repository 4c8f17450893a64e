// An HTTPS server on 127.0.0.1 whose certificate nobody vouches for: a fresh P-256 key and a
// self-signed certificate made in memory (for 127.0.0.1, valid now), so a client that checks
// trust must refuse it, and nothing secret is kept on disk. It answers every POST with an empty
// JSON object and counts the requests that got through.
#pragma once

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <string>
#include <thread>

#include "fakes/loopback_http_server.h"

namespace quorvel::testing {

class SelfSignedHttpsServer {
 public:
  SelfSignedHttpsServer() : key_(EVP_EC_gen("P-256")), certificate_(selfSigned(key_)) {
    server_ = std::make_unique<httplib::SSLServer>(certificate_, key_);
    server_->Post(".*", [this](const httplib::Request&, httplib::Response& response) {
      ++requests_;
      response.set_content("{}", "application/json");
    });
    port_ = listenOnLoopback(*server_, thread_);
  }
  ~SelfSignedHttpsServer() {
    server_->stop();
    thread_.join();
    X509_free(certificate_);
    EVP_PKEY_free(key_);
  }

  bool valid() const { return server_->is_valid() && port_ > 0; }
  std::string url() const { return "https://127.0.0.1:" + std::to_string(port_) + "/v1"; }
  int requests() const { return requests_; }

 private:
  static X509* selfSigned(EVP_PKEY* key) {
    X509* certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate), -60);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 3600);
    X509_set_pubkey(certificate, key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(certificate, name);
    // The name matches: the only thing wrong is that no authority signed it.
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* altName =
        X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, "IP:127.0.0.1");
    X509_add_ext(certificate, altName, -1);
    X509_EXTENSION_free(altName);
    X509_sign(certificate, key, EVP_sha256());
    return certificate;
  }

  EVP_PKEY* key_;
  X509* certificate_;
  std::unique_ptr<httplib::SSLServer> server_;
  std::thread thread_;
  int port_ = -1;
  std::atomic<int> requests_{0};
};

}  // namespace quorvel::testing
