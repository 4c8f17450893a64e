// The AudioInput port on PulseAudio (also PipeWire's pulse server): records the default source
// as 16 kHz mono signed 16-bit and hands the tap on bus 0 blocks of exactly the tap's buffer
// size (4096 frames), on PulseAudio's capture thread; at stop() the partly filled last block
// is handed over too, shorter.
//
// Each start() connects anew, without waiting: the connection proceeds on PulseAudio's own
// thread, which answers the start (and later reports a server or stream that goes away) through
// the handlers. Each stop() disconnects and joins that thread, so a server restarted between
// sessions is picked up and no tap call or answer outlives stop(). Delivery copies fragments
// into a block allocated when the tap is installed: nothing is allocated per buffer.
// Missing: choosing a source other than the default, and any bus but 0.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/speech.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_time_event;
struct pa_mainloop_api;
struct timeval;

namespace quorvel::linux_audio {

class PulseAudioInput final : public AudioInput {
 public:
  // A server that accepts the connection but does not answer within `connectTimeout` seconds
  // fails the start instead of hanging it.
  explicit PulseAudioInput(std::string applicationName = "Quorvel", double connectTimeout = 5.0);
  ~PulseAudioInput() override;
  PulseAudioInput(const PulseAudioInput&) = delete;
  PulseAudioInput& operator=(const PulseAudioInput&) = delete;

  bool isRunning() const override;
  AudioFormat outputFormat(int bus) const override;
  void installTap(int bus, uint32_t bufferSize, AudioFormat format, TapBlock block) override;
  void removeTap(int bus) override;
  void prepare() override;
  void start(StartHandler started, LossHandler lost) override;
  void stop() override;

 private:
  static void onContextState(pa_context* context, void* self);
  static void onStreamState(pa_stream* stream, void* self);
  static void onRead(pa_stream* stream, size_t bytes, void* self);
  static void onConnectTimeout(pa_mainloop_api* api, pa_time_event* event, const struct timeval*,
                               void* self);
  void read();
  std::optional<std::string> beginConnect();
  void openStream();
  void answer(std::optional<std::string> error);
  void teardown();
  void freeConnectTimer();

  std::string applicationName_;
  double connectTimeout_;
  pa_time_event* connectTimer_ = nullptr;
  pa_threaded_mainloop* mainloop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  bool running_ = false;  // main thread only
  // Under the mainloop lock: the start's handlers, whether it has been answered, and whether
  // capture is under way (so that a later failure is a loss).
  StartHandler started_;
  LossHandler lost_;
  bool answered_ = true;
  bool capturing_ = false;

  // Touched by the capture thread only under the mainloop lock, or while no capture runs.
  TapBlock tap_;
  std::vector<int16_t> block_;
  size_t filled_ = 0;
};

}  // namespace quorvel::linux_audio
