// RIFF WAVE files of 16-bit little-endian PCM, written whole into a byte string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvel {

class AudioAccumulator;

inline constexpr size_t kWavHeaderBytes = 44;

// Appends the whole file of the accumulated audio: header, then the samples.
void appendWavFile(std::string& out, const AudioAccumulator& audio);

}  // namespace quorvel
