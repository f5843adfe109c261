#pragma once

// A pa_threaded_mainloop with one client context, shared by the PulseAudio drivers; only
// their .cpp files include this header.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

#include <QString>

namespace sonarelle {

// "Sound server: " and the server's text for an error number; empty when it has none.
inline QString ServerErrorText(int error) {
  const char* text = pa_strerror(error);
  return text != nullptr ? QStringLiteral("Sound server: %1.").arg(QString::fromUtf8(text))
                         : QString();
}

// Buffering for a record stream that hands on reads of `fragmentUsec` in `sampleFormat`,
// the server choosing the rest.
inline pa_buffer_attr RecordBuffering(pa_usec_t fragmentUsec, const pa_sample_spec& sampleFormat) {
  pa_buffer_attr attr{};
  attr.maxlength = static_cast<std::uint32_t>(-1);
  attr.tlength = static_cast<std::uint32_t>(-1);
  attr.prebuf = static_cast<std::uint32_t>(-1);
  attr.minreq = static_cast<std::uint32_t>(-1);
  attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(fragmentUsec, &sampleFormat));
  return attr;
}

// When the first frame of what a record stream holds now was captured, on the server's
// clock (pa_rtclock_now); the present when the stream has no timing yet.
inline std::int64_t CapturedAt(pa_stream* stream) {
  const auto now = std::int64_t(pa_rtclock_now());
  pa_usec_t latency = 0;
  int negative = 0;
  if (pa_stream_get_latency(stream, &latency, &negative) < 0) {
    return now;
  }
  return negative != 0 ? now + std::int64_t(latency) : now - std::int64_t(latency);
}

// Disconnects a stream and lets go of it, its callbacks first; the pointer is null after.
inline void DropStream(pa_stream*& stream) {
  if (stream == nullptr) {
    return;
  }
  pa_stream_set_read_callback(stream, nullptr, nullptr);
  pa_stream_set_state_callback(stream, nullptr, nullptr);
  pa_stream_set_moved_callback(stream, nullptr, nullptr);
  if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) &&
      pa_stream_get_state(stream) != PA_STREAM_UNCONNECTED) {
    pa_stream_disconnect(stream);
  }
  pa_stream_unref(stream);
  stream = nullptr;
}

// The threaded main loop and one context on it. Everything here is used with the loop's lock
// held (see Lock).
class PulseMainloop {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr auto kConnectTimeout = std::chrono::seconds(3);
  static constexpr auto kOperationTimeout = std::chrono::seconds(2);

  PulseMainloop();
  ~PulseMainloop();
  PulseMainloop(const PulseMainloop&) = delete;
  PulseMainloop& operator=(const PulseMainloop&) = delete;

  // Holds the loop's lock for a scope; the loop's thread runs no callback meanwhile.
  class Lock {
   public:
    explicit Lock(PulseMainloop& loop) : loop_(loop.loop_) {
      if (loop_ != nullptr) {
        pa_threaded_mainloop_lock(loop_);
      }
    }
    ~Lock() {
      if (loop_ != nullptr) {
        pa_threaded_mainloop_unlock(loop_);
      }
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    pa_threaded_mainloop* loop_;
  };

  bool Usable() const { return loop_ != nullptr; }

  // Lets the loop run until `done` holds or the time is up; false on time out. A local
  // server answers within a fraction of a millisecond: the first looks come soon after
  // one another, later ones a millisecond apart.
  template <class Done>
  bool Wait(Done done, Clock::duration timeout) {
    const auto deadline = Clock::now() + timeout;
    auto pause = std::chrono::microseconds(50);
    while (!done()) {
      if (Clock::now() >= deadline) {
        return false;
      }
      pa_threaded_mainloop_unlock(loop_);
      std::this_thread::sleep_for(pause);
      pa_threaded_mainloop_lock(loop_);
      pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(1));
    }
    return true;
  }

  // Waits for an operation and drops it; false when it failed to finish in time.
  bool Finish(pa_operation* op);

  // A ready context, connecting when there is none or the old one died; null when the
  // server cannot be reached, with the server error number in `error`.
  pa_context* Context(int& error);

  // The context when it is connected and ready, without connecting again; null otherwise.
  pa_context* Ready() const;

 private:
  void DropContext();

  pa_threaded_mainloop* loop_;
  pa_context* context_ = nullptr;
};

}  // namespace sonarelle
