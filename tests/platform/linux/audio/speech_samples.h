// Real recorded speech from Debian's pocketsphinx-testdata, and the word error rate, shared
// by the recogniser tests and benchmarks.
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
  std::string name;
  std::vector<int16_t> samples;
  uint32_t rate = 16000;
  uint16_t channels = 1;
  std::string transcript;  // empty when unknown
};

inline std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline uint32_t le32(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8 |
         static_cast<uint8_t>(b[at + 2]) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}
inline uint16_t le16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

// 16 kHz mono signed 16-bit little-endian without a header.
inline Recording readRaw(const std::string& path) {
  Recording r;
  r.name = path;
  const std::string bytes = readBytes(path);
  r.samples.resize(bytes.size() / 2);
  for (size_t i = 0; i < r.samples.size(); ++i)
    r.samples[i] = static_cast<int16_t>(le16(bytes, 2 * i));
  return r;
}

// A PCM WAV file, read chunk by chunk; an empty recording when it is not 16-bit PCM.
inline Recording readWav(const std::string& path) {
  Recording r;
  r.name = path;
  const std::string b = readBytes(path);
  if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0) return r;
  bool pcm16 = false;
  for (size_t at = 12; at + 8 <= b.size();) {
    const std::string id = b.substr(at, 4);
    const size_t size = le32(b, at + 4);
    const size_t body = at + 8;
    if (id == "fmt " && body + 16 <= b.size()) {
      pcm16 = le16(b, body) == 1 && le16(b, body + 14) == 16;
      r.channels = le16(b, body + 2);
      r.rate = le32(b, body + 4);
    } else if (id == "data" && pcm16) {
      const size_t end = std::min(b.size(), body + size);
      for (size_t i = body; i + 1 < end; i += 2)
        r.samples.push_back(static_cast<int16_t>(le16(b, i)));
    }
    at = body + size + (size & 1);
  }
  return r;
}

inline Recording goForward() {
  Recording r = readRaw(kSphinxTestData + "/goforward.raw");
  r.transcript = "go forward ten meters";
  return r;
}

// The five librivox sentences with their reference texts ("<s> words </s> (file-id)").
inline std::vector<Recording> librivox() {
  std::vector<Recording> all;
  std::ifstream in(kSphinxTestData + "/librivox/transcription");
  for (std::string line; std::getline(in, line);) {
    const size_t open = line.rfind('(');
    const size_t close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) continue;
    Recording r =
        readWav(kSphinxTestData + "/librivox/" + line.substr(open + 1, close - open - 1) + ".wav");
    std::istringstream words(line.substr(0, open));
    std::string text;
    for (std::string w; words >> w;) {
      if (w == "<s>" || w == "</s>") continue;
      text += (text.empty() ? "" : " ") + w;
    }
    r.transcript = text;
    all.push_back(std::move(r));
  }
  return all;
}

// Writes samples as a raw 16 kHz mono file (for paplay); true when written whole.
inline bool writeRaw(const std::string& path, const std::vector<int16_t>& samples) {
  std::ofstream out(path, std::ios::binary);
  for (int16_t s : samples) {
    const char bytes[2] = {static_cast<char>(s & 0xff), static_cast<char>((s >> 8) & 0xff)};
    out.write(bytes, 2);
  }
  return static_cast<bool>(out);
}

// The recording cut `tailSeconds` after its last loud sample: a stop right after the speech.
inline std::vector<int16_t> cutAfterSpeech(const std::vector<int16_t>& samples,
                                           double tailSeconds) {
  size_t last = 0;
  for (size_t i = 0; i < samples.size(); ++i) {
    if (samples[i] > 2000 || samples[i] < -2000) last = i;
  }
  const size_t end = std::min(samples.size(), last + static_cast<size_t>(tailSeconds * 16000));
  return {samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(end)};
}

// A long dictation: the librivox sentences `rounds` times over with a pause after each, then
// `last` (cut right after its speech). Returns the samples and the reference text.
inline std::pair<std::vector<int16_t>, std::string> dictation(int rounds, double pauseSeconds,
                                                              const Recording& last) {
  std::vector<int16_t> all;
  std::string text;
  const auto sentences = librivox();
  for (int round = 0; round < rounds; ++round) {
    for (const auto& sentence : sentences) {
      all.insert(all.end(), sentence.samples.begin(), sentence.samples.end());
      all.insert(all.end(), static_cast<size_t>(pauseSeconds * 16000), int16_t{0});
      text += (text.empty() ? "" : " ") + sentence.transcript;
    }
  }
  const auto tail = cutAfterSpeech(last.samples, 0.15);
  all.insert(all.end(), tail.begin(), tail.end());
  text += " " + last.transcript;
  return {std::move(all), text};
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
