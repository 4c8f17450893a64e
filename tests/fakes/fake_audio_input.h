// The microphone as the test sees it: every call is written to a log ("stop", "removeTap 0",
// "installTap 0 4096", "prepare", "start"; a second tap on a bus is refused, as the platform
// refuses it, and logged "refused"), start can be told to fail, the test pushes buffers through
// the tap and can lose the capture as a dying sound server would.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/speech.h"

namespace quorvel::testing {

class FakeAudioInput final : public AudioInput {
 public:
  std::optional<std::string> startFailure;  // the error start() reports, when set

  bool isRunning() const override { return running_; }
  AudioFormat outputFormat(int) const override { return AudioFormat{16000.0, 1}; }
  void installTap(int bus, uint32_t bufferSize, AudioFormat, TapBlock block) override {
    log.push_back("installTap " + std::to_string(bus) + " " + std::to_string(bufferSize) +
                  (tap_ ? " refused" : ""));
    if (!tap_) tap_ = std::move(block);
  }
  void removeTap(int bus) override {
    log.push_back("removeTap " + std::to_string(bus));
    tap_ = nullptr;
  }
  void prepare() override { log.push_back("prepare"); }
  void start(StartHandler started, LossHandler lost) override {
    log.push_back("start");
    lost_ = std::move(lost);
    running_ = !startFailure;
    started(startFailure);
  }
  // Like the real input, hands the tap what it captured since its last full block (here a
  // short block of silence) before it stops.
  void stop() override {
    log.push_back("stop");
    std::vector<int16_t> rest(100);
    pushSamples(rest.data(), rest.size());
    running_ = false;
  }

  // The sound server goes away during capture.
  void loseCapture(const std::string& error) {
    running_ = false;
    if (lost_) lost_(error);
  }
  // Samples delivered as the capture thread would: only while running and only to the tap.
  // Calls from several threads at once are the caller's to keep apart.
  bool pushSamples(const int16_t* samples, size_t frames) {
    if (running_ && tap_) tap_(AudioBuffer{samples, frames, AudioFormat{16000.0, 1}});
    return running_ && tap_;
  }

  std::vector<std::string> log;

 private:
  TapBlock tap_;
  bool running_ = false;
  LossHandler lost_;
};

}  // namespace quorvel::testing
