// config.json and device_id: read anew on every call, written whole and atomically, both
// private to the user. An unreadable config.json is moved aside before a setting replaces it,
// so a key the user typed by hand is never lost.
#include "platform/uuid.h"
#include "polish/deepseek_polisher.h"
#include "store/json_file.h"
#include "store/utf8.h"

namespace quorvel {

DeepSeekPolisher::DeepSeekPolisher(const HomeDirectory& home, FileSystem& files, HttpClient& http,
                                   Console& console, double requestTimeoutSeconds)
    : configDir_(home.appFolder()),
      configFile_(configDir_ + "/config.json"),
      files_(files),
      http_(http),
      console_(console),
      requestTimeoutSeconds_(requestTimeoutSeconds) {}

nlohmann::json DeepSeekPolisher::readConfig() const {
  return JsonObjectFile(files_, configFile_, kPrivateFileMode).load().object;
}

std::optional<std::string> apiKeyIn(const nlohmann::json& config) {
  auto key = config.find("deepseek_api_key");
  if (key == config.end() || !key->is_string() || key->get_ref<const std::string&>().empty()) {
    return std::nullopt;
  }
  return key->get<std::string>();
}

std::optional<std::string> DeepSeekPolisher::getAPIKey() const {
  return apiKeyIn(readConfig());
}

std::string DeepSeekPolisher::getDeviceID() const {
  std::string path = configDir_ + "/device_id";
  if (auto bytes = files_.readFile(path)) {
    if (isValidUTF8(*bytes)) {
      std::string stored = trimWhitespace(*bytes);
      if (!stored.empty() && !hasControlCharacter(stored)) return stored;
    }
  }
  std::string fresh = makeUUID();
  files_.createDirectories(configDir_, kPrivateDirectoryMode);
  if (auto written = files_.writeFileAtomically(path, fresh, kPrivateFileMode); !written) {
    console_.line("[DeepSeek] could not save " + path + ": " + written.error);
  }
  return fresh;
}

void DeepSeekPolisher::updateConfig(const std::string& key, const nlohmann::json& value) const {
  JsonObjectFile file(files_, configFile_, kPrivateFileMode);
  auto loaded = file.load();
  loaded.object[key] = value;
  reportStoreWrite(console_, "[DeepSeek] ", configFile_,
                   file.write(loaded.object, loaded.unreadable));
}

}  // namespace quorvel
