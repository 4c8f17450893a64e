// PulseAudio capture behind the AudioInput port; see pulse_audio_input.h.
// Missing: source selection and reporting a server lost during capture.
#include "platform/linux/audio/pulse_audio_input.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>

namespace quorvel::linux_audio {

namespace {

constexpr uint32_t kRate = 16000;
constexpr uint32_t kDefaultBlockFrames = 4096;
constexpr uint32_t kMaxBlockFrames = 1u << 16;

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

std::optional<std::string> PulseAudioInput::start() {
  if (running_) return std::nullopt;
  if (auto error = connect()) {
    teardown();
    return error;
  }
  running_ = true;
  return std::nullopt;
}

void PulseAudioInput::stop() {
  if (!mainloop_) return;
  teardown();
  running_ = false;
}

std::optional<std::string> PulseAudioInput::connect() {
  filled_ = 0;
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
  if (pa_threaded_mainloop_start(mainloop_) < 0) return "PulseAudio: cannot start capture thread";

  MainloopLock lock(mainloop_);
  timedOut_ = false;
  connectTimer_ = pa_context_rttime_new(
      context_, pa_rtclock_now() + static_cast<pa_usec_t>(connectTimeout_ * PA_USEC_PER_SEC),
      &PulseAudioInput::onConnectTimeout, this);
  const std::string timeoutError = "PulseAudio: the sound server did not answer";
  for (;;) {
    const pa_context_state_t state = pa_context_get_state(context_);
    if (state == PA_CONTEXT_READY) break;
    if (timedOut_) return timeoutError;
    if (!PA_CONTEXT_IS_GOOD(state)) {
      return std::string("PulseAudio: cannot connect to the sound server: ") +
             pa_strerror(pa_context_errno(context_));
    }
    pa_threaded_mainloop_wait(mainloop_);
  }

  const pa_sample_spec format{PA_SAMPLE_S16LE, kRate, 1};
  stream_ = pa_stream_new(context_, "Dictation", &format, nullptr);
  if (!stream_) {
    return std::string("PulseAudio: cannot open a recording stream: ") +
           pa_strerror(pa_context_errno(context_));
  }
  pa_stream_set_state_callback(stream_, &PulseAudioInput::onStreamState, this);
  pa_stream_set_read_callback(stream_, &PulseAudioInput::onRead, this);

  // Fragments of one tap block keep the latency at one block without waking more often.
  pa_buffer_attr attr;
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.tlength = static_cast<uint32_t>(-1);
  attr.prebuf = static_cast<uint32_t>(-1);
  attr.minreq = static_cast<uint32_t>(-1);
  const size_t blockFrames = block_.empty() ? kDefaultBlockFrames : block_.size();
  attr.fragsize = static_cast<uint32_t>(blockFrames * sizeof(int16_t));
  if (pa_stream_connect_record(stream_, nullptr, &attr, PA_STREAM_ADJUST_LATENCY) < 0) {
    return std::string("PulseAudio: no microphone to record from: ") +
           pa_strerror(pa_context_errno(context_));
  }
  for (;;) {
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    if (state == PA_STREAM_READY) break;
    if (timedOut_) return timeoutError;
    if (!PA_STREAM_IS_GOOD(state)) {
      return std::string("PulseAudio: no microphone to record from: ") +
             pa_strerror(pa_context_errno(context_));
    }
    pa_threaded_mainloop_wait(mainloop_);
  }
  freeConnectTimer();
  return std::nullopt;
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
}

void PulseAudioInput::onContextState(pa_context*, void* self) {
  pa_threaded_mainloop_signal(static_cast<PulseAudioInput*>(self)->mainloop_, 0);
}

void PulseAudioInput::onConnectTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*,
                                       void* self) {
  auto* input = static_cast<PulseAudioInput*>(self);
  input->timedOut_ = true;
  pa_threaded_mainloop_signal(input->mainloop_, 0);
}

void PulseAudioInput::onStreamState(pa_stream*, void* self) {
  pa_threaded_mainloop_signal(static_cast<PulseAudioInput*>(self)->mainloop_, 0);
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
