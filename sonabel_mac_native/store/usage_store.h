// UsageStore: characters and sessions in total, this month and per day, in usage.json.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/calendar.h"
#include "platform/file_system.h"
#include "platform/home_directory.h"
#include "store/json_file.h"

namespace quorvel {

class UsageStore {
 public:
  UsageStore(const HomeDirectory& home, FileSystem& files, const Calendar& calendar);

  std::optional<std::string> loadRaw() const;
  nlohmann::json load() const;  // always an object
  // Safe from any thread; calls never overlap.
  StoreWrite recordSession(int64_t charCount);

  const std::string& usageFile() const { return usageFile_; }

 private:
  std::string usageFile_;
  FileSystem& files_;
  const Calendar& calendar_;
  std::mutex recordMutex_;
};

}  // namespace quorvel
