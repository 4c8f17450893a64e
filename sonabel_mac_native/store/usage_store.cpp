// usage.json: totals, this month's characters and one entry per day of use. Every call reads
// the file anew; recordSession is one read-modify-write under a lock. Counters saturate at the
// largest 64-bit value instead of wrapping, and a file (or day table) that cannot be read is
// moved aside before it would be replaced.
#include "store/usage_store.h"

#include <limits>

#include "store/json_file.h"
#include "store/utf8.h"

namespace quorvel {

namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

// An integer JSON number reads as its value (a huge unsigned one as the largest); anything
// else (missing, fraction, string, null) as 0.
int64_t counter(const nlohmann::json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end()) return 0;
  if (it->is_number_unsigned()) {
    auto value = it->get<uint64_t>();
    return value > static_cast<uint64_t>(kMax) ? kMax : static_cast<int64_t>(value);
  }
  if (it->is_number_integer()) return it->get<int64_t>();
  return 0;
}

int64_t saturatingAdd(int64_t value, int64_t n) {
  if (n > 0 && value > kMax - n) return kMax;
  return value + n;
}

void add(nlohmann::json& object, const char* key, int64_t n) {
  object[key] = saturatingAdd(counter(object, key), n);
}

// An object of day entries, each an object whose members are all integers.
bool isDayTable(const nlohmann::json& days) {
  if (!days.is_object()) return false;
  for (const auto& entry : days) {
    if (!entry.is_object()) return false;
    for (const auto& member : entry) {
      if (!member.is_number_integer()) return false;
    }
  }
  return true;
}

}  // namespace

UsageStore::UsageStore(const HomeDirectory& home, FileSystem& files, const Calendar& calendar)
    : usageFile_(home.appFolder() + "/usage.json"), files_(files), calendar_(calendar) {}

std::optional<std::string> UsageStore::loadRaw() const {
  auto text = files_.readFile(usageFile_);
  if (!text || text->empty() || !isValidUTF8(*text)) return std::nullopt;
  return text;
}

nlohmann::json UsageStore::load() const {
  return JsonObjectFile(files_, usageFile_, kPrivateFileMode).load().object;
}

StoreWrite UsageStore::recordSession(int64_t charCount) {
  std::lock_guard lock(recordMutex_);
  int64_t n = charCount > 0 ? charCount : 0;
  JsonObjectFile file(files_, usageFile_, kPrivateFileMode);
  auto loaded = file.load();
  nlohmann::json& record = loaded.object;

  std::string today = calendar_.today();
  std::string monthStart = today.substr(0, 8) + "01";
  auto start = record.find("month_start");
  if (start == record.end() || !start->is_string() || *start != monthStart) {
    record["month_start"] = monthStart;
    record["chars_used"] = 0;
  }
  add(record, "chars_used", n);
  add(record, "total_chars", n);
  add(record, "total_sessions", 1);

  bool keepOldFile = loaded.unreadable;
  auto days = record.find("daily_stats");
  if (days == record.end()) {
    record["daily_stats"] = nlohmann::json::object();
  } else if (!isDayTable(*days)) {
    *days = nlohmann::json::object();
    keepOldFile = true;
  }
  nlohmann::json& entry = record["daily_stats"][today];
  if (!entry.is_object()) entry = nlohmann::json::object();
  add(entry, "chars", n);
  add(entry, "sessions", 1);

  return file.write(record, keepOldFile);
}

}  // namespace quorvel
