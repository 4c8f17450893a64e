// AudioAccumulator: a session's captured audio, kept for the transcription server.
//
// append() runs on the capture thread: it copies into storage reserved ahead in large chunks
// (30 seconds each), so it allocates once per chunk, never per buffer, and never moves what it
// holds. Past the size limit it stops keeping audio and remembers that it overflowed. The other
// calls run on the main thread once no tap feeds it any more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/speech.h"

namespace quorvel {

class AudioAccumulator {
 public:
  // The largest WAV file a server is sent (25 MB, the common upload limit of hosted APIs).
  static constexpr size_t kMaxFileBytes = 25'000'000;
  static constexpr double kChunkSeconds = 30.0;

  // `format` is the tap's format; the first chunk is reserved here, on the caller's thread.
  explicit AudioAccumulator(AudioFormat format, size_t maxFileBytes = kMaxFileBytes);

  void append(const AudioBuffer& buffer);

  AudioFormat format() const { return format_; }
  size_t sampleCount() const { return samples_; }
  double seconds() const;
  bool overflowed() const { return overflowed_; }
  // The samples in order, in chunks of at most 30 seconds.
  const std::vector<std::vector<int16_t>>& chunks() const { return chunks_; }

 private:
  AudioFormat format_;
  size_t chunkSamples_;
  size_t maxSamples_;
  size_t samples_ = 0;
  bool overflowed_ = false;
  std::vector<std::vector<int16_t>> chunks_;
};

}  // namespace quorvel
