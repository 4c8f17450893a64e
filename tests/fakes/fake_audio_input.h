// The microphone as the test sees it: every call is written to a log ("stop", "removeTap 0",
// "installTap 0 4096", "prepare", "start"; a second tap on a bus is refused, as the platform
// refuses it, and logged "refused"), start can be told to fail or to hold its answer back, the
// test pushes buffers through the tap and can lose the capture as a dying sound server would.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/speech.h"

namespace quorvel::testing {

class FakeAudioInput final : public AudioInput {
 public:
  std::optional<std::string> startFailure;  // the error start() reports, when set
  bool holdStartAnswer = false;             // the answer waits for answerStart()

  bool isRunning() const override { return running_; }
  AudioFormat outputFormat(int) const override { return AudioFormat{16000.0, 1}; }

  void installTap(int bus, uint32_t bufferSize, AudioFormat, TapBlock block) override {
    std::lock_guard lock(mutex_);
    log.push_back("installTap " + std::to_string(bus) + " " + std::to_string(bufferSize) +
                  (tap_ ? " refused" : ""));
    if (!tap_) tap_ = std::move(block);
  }
  void removeTap(int bus) override {
    std::lock_guard lock(mutex_);
    log.push_back("removeTap " + std::to_string(bus));
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
  void stop() override {
    log.push_back("stop");
    running_ = false;
  }

  void answerStart() {
    auto answer = std::exchange(pendingAnswer_, nullptr);
    if (answer) answer();
  }
  // The sound server goes away during capture.
  void loseCapture(const std::string& error) {
    running_ = false;
    if (lost_) lost_(error);
  }
  bool hasTap() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(tap_);
  }

  // Samples delivered like the capture thread would: only while running and only to the
  // installed tap. Callable from any thread.
  bool pushSamples(const int16_t* samples, size_t frames) {
    std::lock_guard lock(mutex_);
    if (!running_ || !tap_) return false;
    tap_(AudioBuffer{samples, frames, AudioFormat{16000.0, 1}});
    return true;
  }
  bool push(size_t frames = 4096) {
    std::vector<int16_t> samples(frames, 1000);
    return pushSamples(samples.data(), frames);
  }

  std::vector<std::string> log;

 private:
  mutable std::mutex mutex_;
  TapBlock tap_;
  std::atomic<bool> running_{false};
  std::function<void()> pendingAnswer_;
  LossHandler lost_;
};

}  // namespace quorvel::testing
