// Finds the pocketsphinx model for a speech locale identifier.
//
// A model folder holds an acoustic model (a subfolder with "mdef", "means", "variances" and
// "transition_matrices" that carry the sphinx file headers), a language model
// ("*.lm.bin", "*.lm" or "*.lm.dmp") and a pronunciation dictionary ("*.dict" or "*.dic").
// Folders are looked up by the whole identifier, then by ever shorter prefixes down to the
// language ("ja-JP", then "ja"), first under the user's models folder, then under the system's
// pocketsphinx model folder. Missing: a full check of the files; a model whose headers are
// right but whose contents are corrupt can still make pocketsphinx end the process.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvel::linux_audio {

inline constexpr const char* kSystemSphinxModelDir = "/usr/share/pocketsphinx/model";

struct SphinxModel {
  std::string folder;
  std::string acousticModel;  // -hmm
  std::string languageModel;  // -lm
  std::string dictionary;     // -dict
};

// Folder names tried for an identifier, most specific first: "ja-JP", "ja-jp", "ja_JP",
// "ja". Empty for identifiers that could escape the model folders ("..", "/").
std::vector<std::string> sphinxModelNames(const std::string& localeIdentifier);

// The first complete model for the identifier under the given roots, searched in order.
std::optional<SphinxModel> findSphinxModel(const std::string& localeIdentifier,
                                           const std::vector<std::string>& roots);

}  // namespace quorvel::linux_audio
