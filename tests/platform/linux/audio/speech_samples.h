// Real recorded speech from Debian's pocketsphinx-testdata (16 kHz mono), and the word error
// rate, shared by the recogniser tests and benchmarks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace quorvel::testing {

inline const std::string kSphinxTestData = "/usr/share/pocketsphinx/test/data";

struct Recording {
  std::vector<int16_t> samples;
  std::string transcript;
};

// 16-bit samples (little-endian, as on every machine we build for) after `skip` bytes of header.
inline std::vector<int16_t> readSamples(const std::string& path, size_t skip = 0) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes(std::istreambuf_iterator<char>(in), {});
  std::vector<int16_t> samples(bytes.size() > skip ? (bytes.size() - skip) / 2 : 0);
  std::copy_n(bytes.data() + skip, samples.size() * 2, reinterpret_cast<char*>(samples.data()));
  return samples;
}

inline Recording goForward() {
  return {readSamples(kSphinxTestData + "/goforward.raw"), "go forward ten meters"};
}

// The five librivox sentences (PCM WAV files with the plain 44-byte header) and their texts,
// from lines "<s> words </s> (file-id)".
inline std::vector<Recording> librivox() {
  std::vector<Recording> all;
  std::ifstream in(kSphinxTestData + "/librivox/transcription");
  for (std::string line; std::getline(in, line);) {
    const size_t open = line.rfind(" </s> (");
    if (open == std::string::npos || line.back() != ')') continue;
    const std::string id = line.substr(open + 7, line.size() - open - 8);
    all.push_back(
        {readSamples(kSphinxTestData + "/librivox/" + id + ".wav", 44), line.substr(4, open - 4)});
  }
  return all;
}

// Writes samples as a raw file (for paplay); true when written whole.
inline bool writeRaw(const std::string& path, const std::vector<int16_t>& samples) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(samples.data()), std::streamsize(samples.size() * 2));
  return static_cast<bool>(out);
}

// The recording cut `tailSeconds` after its last loud sample: a stop right after the speech.
inline std::vector<int16_t> cutAfterSpeech(const std::vector<int16_t>& samples,
                                           double tailSeconds) {
  const auto loud = std::find_if(samples.rbegin(), samples.rend(),
                                 [](int16_t s) { return s > 2000 || s < -2000; });
  const size_t end = size_t(samples.rend() - loud) + size_t(tailSeconds * 16000);
  return {samples.begin(), samples.begin() + std::ptrdiff_t(std::min(end, samples.size()))};
}

inline std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), {}};
}

// Word-level edit distance (substitutions, insertions, deletions).
inline size_t wordErrors(const std::string& reference, const std::string& hypothesis) {
  const auto ref = words(reference);
  const auto hyp = words(hypothesis);
  std::vector<size_t> row(hyp.size() + 1);
  for (size_t j = 0; j <= hyp.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= ref.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= hyp.size(); ++j) {
      const size_t above = row[j];
      row[j] =
          std::min({row[j] + 1, row[j - 1] + 1, diagonal + (ref[i - 1] == hyp[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[hyp.size()];
}

}  // namespace quorvel::testing
