// JsonObjectFile: a JSON object kept whole in one small file (config.json, usage.json).
//
// Reads never fail: anything but an object reads as an empty object. Writes go through the
// file system's atomic write, so a crash or a full disk never leaves half a file. A file that
// holds something we could not read is never silently replaced: the write first moves it aside
// as "<name>.unreadable-<UTC time>" so its contents (a key, months of counts) can be recovered.
#pragma once

#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "platform/console.h"
#include "platform/file_system.h"

namespace quorvel {

// What a store's write did, for the one console line each event gets.
struct StoreWrite {
  std::string setAsideAs;  // where an unreadable file went before it was replaced
  std::string error;       // why nothing was written; empty when the file was written
};

// "<tag><file> could not be read; kept it as <copy>" and "<tag>could not save <file>: <why>".
inline void reportStoreWrite(Console& console, const std::string& tag, const std::string& path,
                             const StoreWrite& write) {
  if (!write.setAsideAs.empty()) {
    console.line(tag + path + " could not be read; kept it as " + write.setAsideAs);
  }
  if (!write.error.empty()) console.line(tag + "could not save " + path + ": " + write.error);
}

// The application support folder holds the user's key and identity: owner only.
inline constexpr unsigned kPrivateDirectoryMode = 0700;
inline constexpr unsigned kPrivateFileMode = 0600;

inline std::string parentDirectory(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

class JsonObjectFile {
 public:
  struct Loaded {
    nlohmann::json object = nlohmann::json::object();
    // Something is there that did not read as an object: keep it before replacing it.
    bool unreadable = false;
  };

  JsonObjectFile(FileSystem& files, std::string path, unsigned fileMode)
      : files_(files), path_(std::move(path)), fileMode_(fileMode) {}

  Loaded load() const {
    Loaded loaded;
    auto bytes = files_.readFile(path_);
    if (!bytes) {
      loaded.unreadable = files_.exists(path_);
      return loaded;
    }
    if (bytes->find_first_not_of(" \t\r\n") == std::string::npos) return loaded;
    auto parsed = nlohmann::json::parse(*bytes, nullptr, /*allow_exceptions=*/false);
    if (parsed.is_object()) {
      loaded.object = std::move(parsed);
    } else {
      loaded.unreadable = true;
    }
    return loaded;
  }

  // Pretty-printed, whole, atomically. On failure the old file stays and `error` says why.
  StoreWrite write(const nlohmann::json& object, bool setAsideFirst) const {
    StoreWrite outcome;
    std::string text;
    try {
      text = object.dump(2);
    } catch (const nlohmann::json::exception&) {
      outcome.error = "a text in it is not valid UTF-8";
      return outcome;
    }
    files_.createDirectories(parentDirectory(path_), kPrivateDirectoryMode);
    if (setAsideFirst) {
      auto moved = setAside();
      if (!moved) {
        outcome.error = "the unreadable file could not be moved aside, so it was left as it is";
        return outcome;
      }
      outcome.setAsideAs = *moved;
    }
    outcome.error = files_.writeFileAtomically(path_, text, fileMode_).error;
    return outcome;
  }

  const std::string& path() const { return path_; }

 private:
  // The copy's path (empty when the file had gone meanwhile) once nothing is left at the path
  // to be lost; nullopt when the file is still there.
  std::optional<std::string> setAside() const {
    std::string stem = path_ + ".unreadable-" + utcStamp();
    for (int attempt = 1; attempt <= 20; ++attempt) {
      std::string target = attempt == 1 ? stem : stem + "-" + std::to_string(attempt);
      if (files_.moveAside(path_, target)) return target;
      if (!files_.exists(path_)) return std::string();
    }
    return std::nullopt;
  }

  static std::string utcStamp() {
    std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return text;
  }

  FileSystem& files_;
  std::string path_;
  unsigned fileMode_;
};

}  // namespace quorvel
