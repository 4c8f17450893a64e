// PulseAudio capture behind the AudioInput port; see pulse_audio_input.h.
// Missing: source selection.
#include "platform/linux/audio/pulse_audio_input.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>

namespace quorvel::linux_audio {

namespace {

constexpr uint32_t kRate = 16000;
constexpr uint32_t kDefaultBlockFrames = 4096;
constexpr uint32_t kMaxBlockFrames = 1u << 16;
constexpr uint32_t kFragmentFrames = 512;  // 32 ms

// The threaded mainloop's own lock, which its callbacks run under. Without a mainloop there
// is no capture thread to guard against.
class MainloopLock {
 public:
  explicit MainloopLock(pa_threaded_mainloop* m) : m_(m) {
    if (m_) pa_threaded_mainloop_lock(m_);
  }
  ~MainloopLock() {
    if (m_) pa_threaded_mainloop_unlock(m_);
  }
  MainloopLock(const MainloopLock&) = delete;
  MainloopLock& operator=(const MainloopLock&) = delete;

 private:
  pa_threaded_mainloop* m_;
};

}  // namespace

PulseAudioInput::PulseAudioInput(std::string applicationName, double connectTimeout)
    : applicationName_(std::move(applicationName)), connectTimeout_(connectTimeout) {}

PulseAudioInput::~PulseAudioInput() {
  stop();
}

bool PulseAudioInput::isRunning() const {
  return running_;
}

AudioFormat PulseAudioInput::outputFormat(int) const {
  return AudioFormat{kRate, 1};
}

void PulseAudioInput::installTap(int bus, uint32_t bufferSize, AudioFormat, TapBlock block) {
  if (bus != 0) return;
  const uint32_t frames =
      bufferSize == 0 ? kDefaultBlockFrames : std::min(bufferSize, kMaxBlockFrames);
  MainloopLock lock(mainloop_);
  block_.assign(frames, 0);
  filled_ = 0;
  tap_ = std::move(block);
}

void PulseAudioInput::removeTap(int bus) {
  if (bus != 0) return;
  MainloopLock lock(mainloop_);
  tap_ = nullptr;
  filled_ = 0;
}

void PulseAudioInput::prepare() {}

void PulseAudioInput::start(StartHandler started, LossHandler lost) {
  teardown();  // an earlier capture, or what a failed start left behind
  running_ = true;
  filled_ = 0;
  answered_ = false;
  started_ = std::move(started);
  lost_ = std::move(lost);
  if (auto error = beginConnect()) {
    teardown();
    running_ = false;
    answer(std::move(error));
  }
}

void PulseAudioInput::stop() {
  if (!mainloop_) {
    running_ = false;
    return;
  }
  {
    MainloopLock lock(mainloop_);
    // Every sample captured so far reaches the tap: what the server has ready, then the
    // partly filled block.
    if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY) read();
    if (tap_ && filled_ > 0 && !block_.empty()) {
      tap_(AudioBuffer{block_.data(), filled_, AudioFormat{kRate, 1}});
    }
    filled_ = 0;
    // Answers still owed are dropped: the caller has moved on.
    answered_ = true;
    started_ = nullptr;
    lost_ = nullptr;
  }
  teardown();
  running_ = false;
}

// Starts the connection; the rest happens in the state callbacks on the capture thread. Returns
// an error only for what fails at once.
std::optional<std::string> PulseAudioInput::beginConnect() {
  mainloop_ = pa_threaded_mainloop_new();
  if (!mainloop_) return "PulseAudio: cannot create the capture thread";
  context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), applicationName_.c_str());
  if (!context_) return "PulseAudio: cannot create a connection to the sound server";
  pa_context_set_state_callback(context_, &PulseAudioInput::onContextState, this);
  // Never spawn a server of our own: a missing server is the user's to fix and should say so.
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    return std::string("PulseAudio: cannot connect to the sound server: ") +
           pa_strerror(pa_context_errno(context_));
  }
  MainloopLock lock(mainloop_);
  if (pa_threaded_mainloop_start(mainloop_) < 0) return "PulseAudio: cannot start capture thread";
  connectTimer_ = pa_context_rttime_new(
      context_, pa_rtclock_now() + static_cast<pa_usec_t>(connectTimeout_ * PA_USEC_PER_SEC),
      &PulseAudioInput::onConnectTimeout, this);
  return std::nullopt;
}

// Capture thread, under the mainloop lock: the context is ready, open the recording stream.
void PulseAudioInput::openStream() {
  const pa_sample_spec format{PA_SAMPLE_S16LE, kRate, 1};
  stream_ = pa_stream_new(context_, "Dictation", &format, nullptr);
  if (!stream_) {
    answer(std::string("PulseAudio: cannot open a recording stream: ") +
           pa_strerror(pa_context_errno(context_)));
    return;
  }
  pa_stream_set_state_callback(stream_, &PulseAudioInput::onStreamState, this);
  pa_stream_set_read_callback(stream_, &PulseAudioInput::onRead, this);

  // Small fragments: the server hands over what it has every few tens of milliseconds, so
  // that at the stop little is still on its way; the tap still gets whole blocks.
  pa_buffer_attr attr;
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.tlength = static_cast<uint32_t>(-1);
  attr.prebuf = static_cast<uint32_t>(-1);
  attr.minreq = static_cast<uint32_t>(-1);
  attr.fragsize = static_cast<uint32_t>(kFragmentFrames * sizeof(int16_t));
  if (pa_stream_connect_record(stream_, nullptr, &attr, PA_STREAM_ADJUST_LATENCY) < 0) {
    answer(std::string("PulseAudio: no microphone to record from: ") +
           pa_strerror(pa_context_errno(context_)));
  }
}

// Capture thread, under the mainloop lock. The first call answers the start; a failure after
// a successful start is a lost capture.
void PulseAudioInput::answer(std::optional<std::string> error) {
  freeConnectTimer();
  if (!answered_) {
    answered_ = true;
    auto started = std::move(started_);
    started_ = nullptr;
    if (!error) capturing_ = true;
    if (started) started(std::move(error));
    return;
  }
  if (error && capturing_) {
    capturing_ = false;
    auto lost = std::move(lost_);
    lost_ = nullptr;
    if (lost) lost(std::move(*error));
  }
}

// Under the mainloop lock.
void PulseAudioInput::freeConnectTimer() {
  if (connectTimer_) pa_threaded_mainloop_get_api(mainloop_)->time_free(connectTimer_);
  connectTimer_ = nullptr;
}

void PulseAudioInput::teardown() {
  if (!mainloop_) return;
  {
    MainloopLock lock(mainloop_);
    freeConnectTimer();
    if (stream_) {
      pa_stream_set_read_callback(stream_, nullptr, nullptr);
      pa_stream_set_state_callback(stream_, nullptr, nullptr);
      pa_stream_disconnect(stream_);
      pa_stream_unref(stream_);
      stream_ = nullptr;
    }
    if (context_) {
      pa_context_set_state_callback(context_, nullptr, nullptr);
      pa_context_disconnect(context_);
      pa_context_unref(context_);
      context_ = nullptr;
    }
  }
  // Joins the capture thread: no tap call can follow.
  pa_threaded_mainloop_stop(mainloop_);
  pa_threaded_mainloop_free(mainloop_);
  mainloop_ = nullptr;
  filled_ = 0;
  capturing_ = false;
}

void PulseAudioInput::onContextState(pa_context* context, void* self) {
  auto* input = static_cast<PulseAudioInput*>(self);
  const pa_context_state_t state = pa_context_get_state(context);
  if (state == PA_CONTEXT_READY) {
    if (!input->stream_) input->openStream();
  } else if (!PA_CONTEXT_IS_GOOD(state)) {
    const std::string reason = pa_strerror(pa_context_errno(context));
    input->answer(input->capturing_ ? "PulseAudio: the sound server went away: " + reason
                                    : "PulseAudio: cannot connect to the sound server: " + reason);
  }
}

void PulseAudioInput::onConnectTimeout(pa_mainloop_api* api, pa_time_event* event,
                                       const struct timeval*, void* self) {
  auto* input = static_cast<PulseAudioInput*>(self);
  api->time_free(event);
  input->connectTimer_ = nullptr;
  input->answer("PulseAudio: the sound server did not answer");
}

void PulseAudioInput::onStreamState(pa_stream* stream, void* self) {
  auto* input = static_cast<PulseAudioInput*>(self);
  const pa_stream_state_t state = pa_stream_get_state(stream);
  if (state == PA_STREAM_READY) {
    input->answer(std::nullopt);
  } else if (!PA_STREAM_IS_GOOD(state)) {
    const std::string reason = pa_strerror(pa_context_errno(input->context_));
    input->answer(input->capturing_ ? "PulseAudio: the recording stream ended: " + reason
                                    : "PulseAudio: no microphone to record from: " + reason);
  }
}

void PulseAudioInput::onRead(pa_stream*, size_t, void* self) {
  static_cast<PulseAudioInput*>(self)->read();
}

// Runs on the capture thread under the mainloop lock.
void PulseAudioInput::read() {
  while (pa_stream_readable_size(stream_) > 0) {
    const void* data = nullptr;
    size_t bytes = 0;
    if (pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0) return;
    // A hole (data lost by the server) carries no samples: skip it rather than invent silence.
    if (data && !block_.empty()) {
      const auto* samples = static_cast<const int16_t*>(data);
      size_t frames = bytes / sizeof(int16_t);
      while (frames > 0) {
        const size_t take = std::min(frames, block_.size() - filled_);
        std::memcpy(block_.data() + filled_, samples, take * sizeof(int16_t));
        filled_ += take;
        samples += take;
        frames -= take;
        if (filled_ == block_.size()) {
          filled_ = 0;
          if (tap_) tap_(AudioBuffer{block_.data(), block_.size(), AudioFormat{kRate, 1}});
        }
      }
    }
    pa_stream_drop(stream_);
  }
}

}  // namespace quorvel::linux_audio
