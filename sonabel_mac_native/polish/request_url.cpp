#include "polish/request_url.h"

#include <algorithm>
#include <cctype>

#include "store/ascii.h"

namespace quorvel {

namespace {

bool isLoopbackHost(const std::string& host) {
  if (host == "localhost" || host == "::1") return true;
  // 127.0.0.0/8 in dotted-quad form (the HTTP port hands IPv4 hosts over normalised).
  if (host.rfind("127.", 0) != 0) return false;
  int parts = 0;
  size_t start = 0;
  while (start <= host.size()) {
    size_t dot = std::min(host.find('.', start), host.size());
    std::string part = host.substr(start, dot - start);
    if (part.empty() || part.size() > 3 ||
        !std::all_of(part.begin(), part.end(), [](unsigned char c) { return std::isdigit(c); }) ||
        std::stoi(part) > 255) {
      return false;
    }
    ++parts;
    start = dot + 1;
  }
  return parts == 4;
}

// The scheme the text names ("ftp" for "ftp://x"), lower case, or empty when it names none.
std::string schemeOf(const std::string& url) {
  auto colon = url.find(':');
  if (colon == std::string::npos || colon == 0 ||
      !std::isalpha(static_cast<unsigned char>(url[0]))) {
    return {};
  }
  std::string scheme = url.substr(0, colon);
  for (char& c : scheme) {
    auto u = static_cast<unsigned char>(c);
    if (!std::isalnum(u) && c != '+' && c != '-' && c != '.') return {};
  }
  return asciiLowerCase(scheme);
}

}  // namespace

std::optional<std::string> urlRefusal(const HttpClient& http, const std::string& url) {
  auto parts = http.parseURL(url);
  std::string scheme = parts ? parts->scheme : schemeOf(url);
  if (scheme == "https" || (!parts && scheme.empty())) return std::nullopt;
  if (scheme == "http" && parts && isLoopbackHost(parts->host)) return std::nullopt;
  if (scheme == "http") {
    return "plain http:// is allowed only for this machine (localhost, 127.0.0.0/8, ::1)";
  }
  return "only https:// URLs are allowed";
}

}  // namespace quorvel
