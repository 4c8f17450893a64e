// The microphone as the test sees it: every call is written to a log ("stop", "removeTap 0",
// "installTap 0 4096", "prepare", "start"), start can be told to fail, and the test pushes
// buffers through the tap. A second tap on a bus is refused, as the platform refuses it. The
// start's answer comes at once unless the test holds it back, and the test can lose the capture
// as a dying sound server would.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/speech.h"

namespace quorvel::testing {

class FakeAudioInput final : public AudioInput {
 public:
  AudioFormat format{16000.0, 1};
  std::optional<std::string> startFailure;  // the error start() reports, when set
  bool holdStartAnswer = false;             // the answer waits for answerStart()

  bool isRunning() const override { return running_; }
  AudioFormat outputFormat(int) const override { return format; }

  void installTap(int bus, uint32_t bufferSize, AudioFormat tapFormat, TapBlock block) override {
    log.push_back("installTap " + std::to_string(bus) + " " + std::to_string(bufferSize));
    if (bus != 0) return;
    std::lock_guard lock(mutex_);
    if (tap_) {
      ++refusedTaps;
      return;
    }
    tap_ = std::move(block);
    tapFormat_ = tapFormat;
  }

  void removeTap(int bus) override {
    log.push_back("removeTap " + std::to_string(bus));
    if (bus != 0) return;
    std::lock_guard lock(mutex_);
    tap_ = nullptr;
  }

  void prepare() override { log.push_back("prepare"); }

  void start(StartHandler started, LossHandler lost) override {
    log.push_back("start");
    lost_ = std::move(lost);
    running_ = !startFailure;
    pendingAnswer_ = [started = std::move(started), failure = startFailure] { started(failure); };
    if (!holdStartAnswer) answerStart();
  }

  // Sends the start's answer held back with holdStartAnswer.
  void answerStart() {
    auto answer = std::move(pendingAnswer_);
    pendingAnswer_ = nullptr;
    if (answer) answer();
  }

  // The sound server goes away during capture.
  void loseCapture(const std::string& error) {
    running_ = false;
    if (lost_) lost_(error);
  }

  void stop() override {
    log.push_back("stop");
    running_ = false;
  }

  bool hasTap() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(tap_);
  }

  // One captured buffer of `frames` frames, delivered like the capture thread would: only
  // while running and only to the installed tap. Callable from any thread.
  bool push(size_t frames = 4096) {
    std::vector<int16_t> samples(frames, 1000);
    std::lock_guard lock(mutex_);
    if (!running_ || !tap_) return false;
    tap_(AudioBuffer{samples.data(), frames, tapFormat_});
    return true;
  }

  // Real samples, `frames` of them, delivered the same way.
  bool pushSamples(const int16_t* samples, size_t frames) {
    std::lock_guard lock(mutex_);
    if (!running_ || !tap_) return false;
    tap_(AudioBuffer{samples, frames, tapFormat_});
    return true;
  }

  std::vector<std::string> log;
  int refusedTaps = 0;

 private:
  mutable std::mutex mutex_;
  TapBlock tap_;
  AudioFormat tapFormat_;
  std::atomic<bool> running_{false};
  std::function<void()> pendingAnswer_;
  LossHandler lost_;
};

}  // namespace quorvel::testing
