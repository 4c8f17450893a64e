// DeepSeekPolisher: the configuration file, the device identifier and the chat-completion
// client that polishes transcripts and applies edit instructions.
//
// Holds no state of its own: every call reads config.json anew, so a key edited by hand
// applies from the next request on.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/home_directory.h"
#include "platform/http_client.h"

namespace quorvel {

struct ChatError {
  std::string description;
  // A few words for the page ("no connection"); empty reads as "no connection".
  std::string reason;
};

// Called once: success (text, no error), transport failure (no text, the error) or an unusable
// reply (neither). It runs on the HTTP worker thread, except that it runs synchronously, before
// polish/edit return, for a mode without a prompt (the text itself), an unparseable URL
// (neither), and a request refused before sending (an error): a "deepseek_api_key" holding a
// control character, an "api_base_url"/"relay_url" that is neither https:// nor http:// to
// this machine, or a config.json that exists but cannot be read (nothing is sent then: the
// user's own key or server may be in it).
using ChatCompletion =
    std::function<void(std::optional<std::string> text, std::optional<ChatError> error)>;

// The user's own key in a config dictionary: a non-empty string, else none.
std::optional<std::string> apiKeyIn(const nlohmann::json& config);

using ChatMessage = std::vector<std::pair<std::string, std::string>>;  // "role", "content"

class DeepSeekPolisher {
 public:
  static constexpr const char* model = "deepseek-chat";
  static constexpr const char* deepseekBaseURL = "https://api.deepseek.com";
  static constexpr const char* quorvelAPIURL = "https://api.quorvel.app/distill";

  // requestTimeoutSeconds bounds connecting and every wait for data of each request; a larger
  // "request_timeout_seconds" in config.json raises it (up to kMaxRequestTimeoutSeconds). The
  // whole request may take kTotalTimeoutSeconds, or twice the silence bound when that is more.
  DeepSeekPolisher(const HomeDirectory& home, FileSystem& files, HttpClient& http, Console& console,
                   double requestTimeoutSeconds = 15.0);

  const std::string& configDir() const { return configDir_; }
  const std::string& configFile() const { return configFile_; }
  // The HTTP port this polisher sends through, for the other clients configured in its file.
  HttpClient& httpClient() const { return http_; }

  nlohmann::json readConfig() const;  // always an object
  std::optional<std::string> getAPIKey() const;
  std::string getDeviceID() const;
  void updateConfig(const std::string& key, const nlohmann::json& value) const;

  void polish(const std::string& text, const std::string& mode, ChatCompletion completion) const;
  void edit(const std::string& text, const std::string& instruction,
            ChatCompletion completion) const;

  // The few words the page shows after "Not polished: " for a failed request.
  static std::string failureReason(const std::optional<ChatError>& error);

  static constexpr double kTotalTimeoutSeconds = 120.0;
  static constexpr double kMaxRequestTimeoutSeconds = 600.0;

  static const std::string& extractionPrompt();
  static const std::string& editPrompt();

 private:
  void sendChat(const std::vector<nlohmann::json>& messages, ChatCompletion completion) const;
  void callAPI(const std::string& url, const nlohmann::json& body,
               const std::vector<std::pair<std::string, std::string>>& headers,
               double silenceSeconds, ChatCompletion completion) const;

  // Fails the request (error and a console line) unless the URL may be used; true when fine.
  bool permitsURL(const std::string& url, const std::string& configKey,
                  const ChatCompletion& completion) const;
  void refuse(const std::string& line, const std::string& description, const std::string& reason,
              const ChatCompletion& completion) const;

  std::string configDir_;
  std::string configFile_;
  FileSystem& files_;
  HttpClient& http_;
  Console& console_;
  double requestTimeoutSeconds_;
};

}  // namespace quorvel
