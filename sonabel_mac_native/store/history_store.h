// HistoryStore: keeps the page's history text between runs. The text is the page's own; it is
// stored and returned exactly as sent.
#pragma once

#include <optional>
#include <string>

#include "platform/file_system.h"
#include "platform/home_directory.h"
#include "store/json_file.h"

namespace quorvel {

class HistoryStore {
 public:
  HistoryStore(const HomeDirectory& home, FileSystem& files);

  StoreWrite save(const std::string& jsonString);
  std::optional<std::string> load() const;  // none when missing, unreadable, not UTF-8 or empty

  const std::string& historyFile() const { return historyFile_; }

 private:
  std::string historyFile_;
  FileSystem& files_;
};

}  // namespace quorvel
