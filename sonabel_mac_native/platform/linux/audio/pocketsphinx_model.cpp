// Locating pocketsphinx models on disk by locale identifier; see pocketsphinx_model.h.
// Missing: models packed in archives, and model folders named other than by locale.
#include "platform/linux/audio/pocketsphinx_model.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "store/ascii.h"

namespace quorvel::linux_audio {
namespace fs = std::filesystem;

namespace {

bool safeIdentifier(const std::string& id) {
  if (id.empty() || id.size() > 64) return false;
  return std::all_of(id.begin(), id.end(),
                     [](unsigned char c) { return std::isalnum(c) || c == '-' || c == '_'; });
}

void addOnce(std::vector<std::string>& names, const std::string& name) {
  if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) {
    names.push_back(name);
  }
}

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Sorted so that the choice among several candidates does not depend on directory order.
std::vector<fs::directory_entry> entries(const fs::path& folder) {
  std::vector<fs::directory_entry> found;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    found.push_back(*it);
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.path() < b.path(); });
  return found;
}

// Prefers the file named after the folder ("en-us/en-us.lm.bin"), and never a phone-only
// language model, which decodes phones instead of words.
std::string pickFile(const std::vector<fs::directory_entry>& files, const std::string& stem,
                     const std::vector<std::string>& suffixes) {
  std::string fallback;
  for (const auto& suffix : suffixes) {
    for (const auto& entry : files) {
      std::error_code ec;
      if (!entry.is_regular_file(ec)) continue;
      std::string name = entry.path().filename().string();
      std::string lower = asciiLowerCase(name);
      if (!endsWith(lower, suffix) || lower.find("-phone") != std::string::npos) continue;
      if (lower == asciiLowerCase(stem) + suffix) return entry.path().string();
      if (fallback.empty()) fallback = entry.path().string();
    }
    if (!fallback.empty()) return fallback;
  }
  return fallback;
}

bool startsWith(const fs::path& file, const std::string& magic) {
  std::ifstream in(file, std::ios::binary);
  std::string head(magic.size(), '\0');
  return in.read(head.data(), static_cast<std::streamsize>(head.size())) && head == magic;
}

// pocketsphinx ends the whole process on a malformed acoustic model instead of reporting it,
// so only folders whose files carry the sphinx headers count: binary ("BMDF") or text ("0.3")
// model definition, and "s3" parameter files.
bool looksLikeAcousticModel(const fs::path& folder) {
  const fs::path mdef = folder / "mdef";
  if (!startsWith(mdef, "BMDF") && !startsWith(mdef, "0.3")) return false;
  for (const char* name : {"means", "variances", "transition_matrices"}) {
    if (!startsWith(folder / name, "s3\n")) return false;
  }
  return true;
}

// The model in one folder, or none when a part is missing.
std::optional<SphinxModel> sphinxModelIn(const std::string& folder) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return std::nullopt;
  const std::string stem = fs::path(folder).filename().string();
  const auto files = entries(folder);

  SphinxModel model;
  model.folder = folder;
  for (const auto& entry : files) {
    if (entry.is_directory(ec) && looksLikeAcousticModel(entry.path())) {
      if (model.acousticModel.empty() || entry.path().filename() == stem) {
        model.acousticModel = entry.path().string();
      }
    }
  }
  model.languageModel = pickFile(files, stem, {".lm.bin", ".lm", ".lm.dmp"});
  model.dictionary = pickFile(files, stem, {".dict", ".dic"});
  if (model.acousticModel.empty() || model.languageModel.empty() || model.dictionary.empty()) {
    return std::nullopt;
  }
  return model;
}

}  // namespace

std::vector<std::string> sphinxModelNames(const std::string& localeIdentifier) {
  std::vector<std::string> names;
  if (!safeIdentifier(localeIdentifier)) return names;
  std::string id = localeIdentifier;
  for (;;) {
    std::string dashed = id;
    std::replace(dashed.begin(), dashed.end(), '_', '-');
    std::string underscored = id;
    std::replace(underscored.begin(), underscored.end(), '-', '_');
    addOnce(names, id);
    addOnce(names, asciiLowerCase(dashed));
    addOnce(names, dashed);
    addOnce(names, underscored);
    addOnce(names, asciiLowerCase(underscored));
    size_t cut = id.find_last_of("-_");
    if (cut == std::string::npos) break;
    id.resize(cut);
  }
  return names;
}

std::optional<SphinxModel> findSphinxModel(const std::string& localeIdentifier,
                                           const std::vector<std::string>& roots) {
  for (const auto& name : sphinxModelNames(localeIdentifier)) {
    for (const auto& root : roots) {
      if (root.empty()) continue;
      if (auto model = sphinxModelIn((fs::path(root) / name).string())) return model;
    }
  }
  return std::nullopt;
}

}  // namespace quorvel::linux_audio
