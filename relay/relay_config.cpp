// Settings from the configuration file and the command line.
#include "relay_config.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

namespace quorvel::relay {

namespace {

using Json = nlohmann::json;

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return text.str();
}

std::optional<long long> parseCount(const std::string& text) {
  long long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

std::optional<double> parseSeconds(const std::string& text) {
  try {
    size_t used = 0;
    double value = std::stod(text, &used);
    if (used != text.size() || !std::isfinite(value) || value <= 0 || value > 3600) {
      return std::nullopt;
    }
    return value;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// "HOST:PORT" or "[IPv6]:PORT".
bool parseListen(const std::string& text, RelayConfig& config) {
  auto colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string host = text.substr(0, colon);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return false;
    host = host.substr(1, host.size() - 2);
  }
  auto port = parseCount(text.substr(colon + 1));
  if (!port || *port > 65535) return false;
  config.listenHost = host;
  config.listenPort = static_cast<int>(*port);
  return true;
}

bool validRedis(const std::string& text) {
  return (text.rfind("redis://", 0) == 0 && text.size() > 8) ||
         (text.rfind("unix:", 0) == 0 && text.size() > 5);
}

bool validUpstream(const std::string& text) {
  return text.rfind("https://", 0) == 0 || text.rfind("http://", 0) == 0;
}

// One setting by its name (the flag's name without "--"), from text. Returns an error text.
std::optional<std::string> apply(const std::string& name, const std::string& value,
                                 RelayConfig& config) {
  auto bad = [&](const char* what) {
    return std::optional<std::string>("invalid " + name + " \"" + value + "\": " + what);
  };
  auto count = [&](long long& field) -> std::optional<std::string> {
    auto parsed = parseCount(value);
    if (!parsed) return bad("expected a whole number, 0 or more");
    field = *parsed;
    return std::nullopt;
  };
  if (name == "listen") {
    if (!parseListen(value, config)) return bad("expected HOST:PORT");
  } else if (name == "redis") {
    if (!validRedis(value)) return bad("expected redis://HOST:PORT or unix:PATH");
    config.redis = value;
  } else if (name == "upstream") {
    if (!validUpstream(value)) return bad("expected an http:// or https:// URL");
    config.upstream = value;
  } else if (name == "upstream-key-file") {
    config.upstreamKeyFile = value;
  } else if (name == "model") {
    if (value.empty()) return bad("expected a model name");
    config.model = value;
  } else if (name == "device-requests-per-day") {
    return count(config.deviceRequestsPerDay);
  } else if (name == "device-chars-per-day") {
    return count(config.deviceCharsPerDay);
  } else if (name == "address-requests-per-minute") {
    return count(config.addressRequestsPerMinute);
  } else if (name == "upstream-timeout-seconds") {
    auto seconds = parseSeconds(value);
    if (!seconds) return bad("expected a number of seconds above 0, at most 3600");
    config.upstreamTimeoutSeconds = *seconds;
  } else if (name == "max-in-flight" || name == "threads") {
    auto parsed = parseCount(value);
    if (!parsed || *parsed > 10000 || (name == "max-in-flight" && *parsed == 0)) {
      return bad("expected a whole number from 1 to 10000");
    }
    (name == "threads" ? config.threads : config.maxInFlight) = static_cast<int>(*parsed);
  } else if (name == "trust-x-real-ip" || name == "access-log") {
    if (value != "true" && value != "false") return bad("expected true or false");
    (name == "access-log" ? config.accessLog : config.trustRealIp) = value == "true";
  } else {
    return "unknown setting \"" + name + "\"";
  }
  return std::nullopt;
}

std::optional<std::string> applyFile(const std::string& path, RelayConfig& config) {
  auto text = readFile(path);
  if (!text) return "cannot read the configuration file " + path;
  Json json = Json::parse(*text, nullptr, /*allow_exceptions=*/false);
  if (!json.is_object()) return "the configuration file " + path + " is not a JSON object";
  for (const auto& [key, value] : json.items()) {
    std::string name = key;
    for (char& c : name) {
      if (c == '_') c = '-';
    }
    std::string textValue;
    if (value.is_string()) {
      textValue = value.get<std::string>();
    } else if (value.is_number() || value.is_boolean()) {
      textValue = value.dump();
    } else {
      return path + ": \"" + key + "\" must be a string, a number or true/false";
    }
    if (auto error = apply(name, textValue, config)) return path + ": " + *error;
  }
  return std::nullopt;
}

}  // namespace

const std::string& helpText() {
  static const std::string text =
      R"(Usage: quorvel-relay [--config FILE] [OPTIONS]

Relays chat-completion requests from Quorvel installations to one upstream
OpenAI-compatible API, with per-device daily quotas kept in Redis.

  --config FILE                     JSON file with any of the settings below
                                    (keys with underscores: "device_requests_per_day")
  --listen HOST:PORT                address to listen on (default 127.0.0.1:8787)
  --redis redis://HOST:PORT|unix:PATH
                                    quota store (default redis://127.0.0.1:6379)
  --upstream URL                    full chat-completions URL of the upstream API
  --upstream-key-file FILE          file holding the upstream API key (required)
  --model NAME                      model asked of the upstream (default deepseek-chat)
  --device-requests-per-day N       requests per device per UTC day (default 300)
  --device-chars-per-day N          characters of message content per device per UTC day
                                    (default 600000)
  --address-requests-per-minute N   requests per client address per minute (default 120)
  --upstream-timeout-seconds N      bound on each upstream request (default 30)
  --max-in-flight N                 requests handled at once by this instance (default 64)
  --threads N                       HTTP worker threads (default max-in-flight + 16)
  --trust-x-real-ip true|false      take the client address from X-Real-IP on
                                    connections from loopback (behind a reverse proxy)
  --access-log true|false           one line per request on standard output (default true)
  --help                            print this text

A limit of 0 switches that check off. Endpoints: POST /distill, GET /healthz, GET /metrics.
)";
  return text;
}

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args) {
  ParsedCommandLine parsed;
  // The configuration file first, wherever --config stands, so that flags override it.
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--config") {
      if (i + 1 >= args.size()) {
        parsed.error = "--config needs a value";
        return parsed;
      }
      if (auto error = applyFile(args[i + 1], parsed.config)) {
        parsed.error = error;
        return parsed;
      }
    }
  }
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      parsed.help = true;
      return parsed;
    }
    if (arg.rfind("--", 0) != 0) {
      parsed.error = "unexpected argument \"" + arg + "\"";
      return parsed;
    }
    std::string name = arg.substr(2);
    std::optional<std::string> value;
    if (auto equals = name.find('='); equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    }
    if (!value) {
      parsed.error = arg + " needs a value";
      return parsed;
    }
    if (name == "config") continue;
    if (auto error = apply(name, *value, parsed.config)) {
      parsed.error = *error;
      return parsed;
    }
  }
  RelayConfig& config = parsed.config;
  if (config.upstreamKeyFile.empty()) {
    parsed.error = "no upstream key: give --upstream-key-file FILE";
    return parsed;
  }
  auto key = readFile(config.upstreamKeyFile);
  if (!key) {
    parsed.error = "cannot read the upstream key file " + config.upstreamKeyFile;
    return parsed;
  }
  while (!key->empty() && std::isspace(static_cast<unsigned char>(key->back()))) key->pop_back();
  while (!key->empty() && std::isspace(static_cast<unsigned char>(key->front()))) key->erase(0, 1);
  bool printable = !key->empty();
  for (unsigned char c : *key) printable = printable && c > 0x20 && c < 0x7f;
  if (!printable) {
    parsed.error = "the upstream key file " + config.upstreamKeyFile +
                   " must hold one key of printable characters";
    return parsed;
  }
  config.upstreamKey = *key;
  if (config.threads == 0) config.threads = config.maxInFlight + 16;
  return parsed;
}

}  // namespace quorvel::relay
