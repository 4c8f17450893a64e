#include "speech/audio_accumulator.h"

#include <algorithm>

#include "speech/wav_file.h"

namespace quorvel {

AudioAccumulator::AudioAccumulator(AudioFormat format, size_t maxFileBytes)
    : format_(format),
      chunkSamples_(std::max<size_t>(1, static_cast<size_t>(kChunkSeconds * format.sampleRate *
                                                            std::max(1u, format.channels)))),
      maxSamples_(maxFileBytes > kWavHeaderBytes ? (maxFileBytes - kWavHeaderBytes) / 2 : 0) {
  // Enough slots for every chunk up to the limit, so the list itself never grows on the
  // capture thread.
  chunks_.reserve(maxSamples_ / chunkSamples_ + 2);
  chunks_.emplace_back().reserve(chunkSamples_);
}

void AudioAccumulator::append(const AudioBuffer& buffer) {
  if (overflowed_ || buffer.samples == nullptr) return;
  size_t count = buffer.frames * std::max(1u, buffer.format.channels);
  if (samples_ + count > maxSamples_) {
    overflowed_ = true;
    return;
  }
  const int16_t* from = buffer.samples;
  while (count > 0) {
    std::vector<int16_t>* chunk = &chunks_.back();
    if (chunk->size() == chunkSamples_) {
      chunk = &chunks_.emplace_back();
      chunk->reserve(chunkSamples_);
    }
    size_t take = std::min(count, chunkSamples_ - chunk->size());
    chunk->insert(chunk->end(), from, from + take);
    from += take;
    count -= take;
    samples_ += take;
  }
}

double AudioAccumulator::seconds() const {
  double perSecond = format_.sampleRate * std::max(1u, format_.channels);
  return perSecond > 0 ? static_cast<double>(samples_) / perSecond : 0.0;
}

}  // namespace quorvel
