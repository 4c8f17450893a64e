#include "speech/wav_file.h"

#include <bit>
#include <cstring>

#include "speech/audio_accumulator.h"

namespace quorvel {

namespace {

void put16(std::string& out, uint16_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>(value >> 8));
}

void put32(std::string& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8)
    out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

// The 44-byte header of a PCM file holding `sampleCount` samples (all channels together).
std::string wavHeader(uint32_t sampleRate, uint16_t channels, size_t sampleCount) {
  auto dataBytes = static_cast<uint32_t>(sampleCount * 2);
  std::string header;
  header.reserve(kWavHeaderBytes);
  header += "RIFF";
  put32(header, 36 + dataBytes);
  header += "WAVEfmt ";
  put32(header, 16);  // size of the PCM format chunk
  put16(header, 1);   // PCM
  put16(header, channels);
  put32(header, sampleRate);
  put32(header, sampleRate * channels * 2);            // bytes per second
  put16(header, static_cast<uint16_t>(channels * 2));  // bytes per frame
  put16(header, 16);                                   // bits per sample
  header += "data";
  put32(header, dataBytes);
  return header;
}

}  // namespace

void appendWavFile(std::string& out, const AudioAccumulator& audio) {
  AudioFormat format = audio.format();
  out += wavHeader(static_cast<uint32_t>(format.sampleRate),
                   static_cast<uint16_t>(format.channels == 0 ? 1 : format.channels),
                   audio.sampleCount());
  for (const auto& chunk : audio.chunks()) {
    size_t at = out.size();
    out.resize(at + chunk.size() * 2);
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(out.data() + at, chunk.data(), chunk.size() * 2);
    } else {
      for (size_t i = 0; i < chunk.size(); ++i) {
        auto sample = static_cast<uint16_t>(chunk[i]);
        out[at + 2 * i] = static_cast<char>(sample & 0xFF);
        out[at + 2 * i + 1] = static_cast<char>(sample >> 8);
      }
    }
  }
}

}  // namespace quorvel
