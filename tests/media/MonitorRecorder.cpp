#include "MonitorRecorder.h"

#include <pulse/pulseaudio.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace monitor_recorder {

namespace {

using Clock = std::chrono::steady_clock;

// pa_threaded_mainloop_wait has no timeout: a ticking timer wakes the waiter instead.
constexpr pa_usec_t kTickUsec = 50 * PA_USEC_PER_MSEC;

class Client {
 public:
  explicit Client(std::atomic<bool>* flowing = nullptr)
      : loop_(pa_threaded_mainloop_new()),
        api_(pa_threaded_mainloop_get_api(loop_)),
        flowing_(flowing) {
    timeval tv;
    pa_timeval_add(pa_gettimeofday(&tv), kTickUsec);
    tick_ = api_->time_new(api_, &tv, &Client::OnTick, this);
    pa_threaded_mainloop_start(loop_);
  }

  ~Client() {
    pa_threaded_mainloop_lock(loop_);
    if (stream_) {
      pa_stream_set_read_callback(stream_, nullptr, nullptr);
      pa_stream_set_state_callback(stream_, nullptr, nullptr);
      if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
      pa_stream_unref(stream_);
    }
    if (context_) {
      pa_context_set_state_callback(context_, nullptr, nullptr);
      pa_context_disconnect(context_);
      pa_context_unref(context_);
    }
    api_->time_free(tick_);
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
  }

  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  std::string Record(const char* source, std::size_t frames, Clock::time_point deadline,
                     Recording* out) {
    const char* server = std::getenv("PULSE_SERVER");
    if (!server || !*server) return "PULSE_SERVER is not set (run the test through ctest)";
    pa_threaded_mainloop_lock(loop_);
    std::string error = RecordLocked(server, source, frames, deadline, out);
    pa_threaded_mainloop_unlock(loop_);
    return error;
  }

 private:
  std::string RecordLocked(const char* server, const char* source, std::size_t frames,
                           Clock::time_point deadline, Recording* out) {
    context_ = pa_context_new(api_, "sonarelle media test");
    pa_context_set_state_callback(context_, &Client::OnState, this);
    if (pa_context_connect(context_, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
      return std::string("cannot connect to ") + server;
    }
    if (!WaitFor(
            [&] {
              const pa_context_state_t s = pa_context_get_state(context_);
              return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
            },
            deadline) ||
        pa_context_get_state(context_) != PA_CONTEXT_READY) {
      return std::string("the sound server at ") + server + " did not answer";
    }
    const pa_sample_spec sampleSpec{PA_SAMPLE_S16LE, kRate, 2};
    stream_ = pa_stream_new(context_, "monitor", &sampleSpec, nullptr);
    pa_stream_set_state_callback(stream_, &Client::OnStreamState, this);
    pa_stream_set_read_callback(stream_, &Client::OnRead, this);
    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr);
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(20 * PA_USEC_PER_MSEC, &sampleSpec));
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream_, source, &attr, flags) < 0) {
      return std::string("cannot record from ") + source;
    }
    wanted_ = frames;
    const bool filled = WaitFor(
        [&] {
          return samples_.size() >= 2 * frames || !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_));
        },
        deadline);
    if (!filled || samples_.size() < 2 * frames) {
      return "only " + std::to_string(samples_.size() / 2) + " of " + std::to_string(frames) +
             " frames came from " + source;
    }
    out->left.clear();
    out->right.clear();
    for (std::size_t i = 0; i < frames; ++i) {
      out->left.push_back(samples_[2 * i]);
      out->right.push_back(samples_[2 * i + 1]);
    }
    return {};
  }

  template <class Done>
  bool WaitFor(Done done, Clock::time_point deadline) {
    while (!done()) {
      if (Clock::now() >= deadline) return false;
      pa_threaded_mainloop_wait(loop_);
    }
    return true;
  }

  static void OnTick(pa_mainloop_api* api, pa_time_event* e, const timeval*, void* user) {
    timeval tv;
    pa_timeval_add(pa_gettimeofday(&tv), kTickUsec);
    api->time_restart(e, &tv);
    pa_threaded_mainloop_signal(static_cast<Client*>(user)->loop_, 0);
  }

  static void OnState(pa_context*, void* user) {
    pa_threaded_mainloop_signal(static_cast<Client*>(user)->loop_, 0);
  }

  static void OnStreamState(pa_stream*, void* user) {
    pa_threaded_mainloop_signal(static_cast<Client*>(user)->loop_, 0);
  }

  static void OnRead(pa_stream* stream, size_t, void* user) {
    auto* self = static_cast<Client*>(user);
    while (pa_stream_readable_size(stream) > 0) {
      const void* data = nullptr;
      size_t bytes = 0;
      if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) break;
      const auto* p = static_cast<const unsigned char*>(data);
      for (size_t i = 0; i + sizeof(int16_t) <= bytes; i += sizeof(int16_t)) {
        int16_t v = 0;
        if (p != nullptr) std::memcpy(&v, p + i, sizeof v);
        if (self->samples_.size() < 2 * self->wanted_) self->samples_.push_back(v / 32768.0);
      }
      pa_stream_drop(stream);
    }
    if (self->flowing_ != nullptr && !self->samples_.empty()) *self->flowing_ = true;
    pa_threaded_mainloop_signal(self->loop_, 0);
  }

  pa_threaded_mainloop* loop_;
  pa_mainloop_api* api_;
  std::atomic<bool>* const flowing_;  // set at the first samples
  pa_time_event* tick_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  std::size_t wanted_ = 0;
  std::vector<double> samples_;
};

}  // namespace

std::string Record(const char* source, std::size_t frames, std::chrono::milliseconds timeout,
                   Recording* recording, std::atomic<bool>* flowing) {
  Client client(flowing);
  return client.Record(source, frames, Clock::now() + timeout, recording);
}

Recording RecordUntil(const char* source, std::size_t frames, std::chrono::milliseconds deadline,
                      const std::function<bool(const Recording&)>& heard) {
  const Clock::time_point end = Clock::now() + deadline;
  Recording window;
  do {
    window = Recording();
    if (!Record(source, frames, std::chrono::milliseconds(5000), &window).empty()) break;
  } while (!heard(window) && Clock::now() < end);
  return window;
}

double Rms(const std::vector<double>& samples) {
  double sum = 0.0;
  for (double x : samples) sum += x * x;
  return samples.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

}  // namespace monitor_recorder
