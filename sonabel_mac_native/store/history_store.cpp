// history.json: the page's own text, stored whole through an atomic write and returned as is.
#include "store/history_store.h"

#include "store/json_file.h"
#include "store/utf8.h"

namespace quorvel {

HistoryStore::HistoryStore(const HomeDirectory& home, FileSystem& files)
    : historyFile_(home.appFolder() + "/history.json"), files_(files) {}

void HistoryStore::save(const std::string& jsonString) {
  files_.createDirectories(parentDirectory(historyFile_), kPrivateDirectoryMode);
  files_.writeFileAtomically(historyFile_, jsonString, kPrivateFileMode);
}

std::optional<std::string> HistoryStore::load() const {
  auto text = files_.readFile(historyFile_);
  if (!text || text->empty() || !isValidUTF8(*text)) return std::nullopt;
  return text;
}

}  // namespace quorvel
