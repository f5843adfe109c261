// The sound test rig, seen from a libpulse client: the server named by PULSE_SERVER answers,
// and its sources "mic" and "line" carry their tones.
#include <gtest/gtest.h>
#include <pulse/pulseaudio.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/Tone.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr uint32_t kRate = 44100;
constexpr size_t kHalfSecond = kRate / 2;
// Waits on the server are generous; they only stop a test that would otherwise hang.
constexpr milliseconds kConnectTimeout{5000};
constexpr milliseconds kRecordTimeout{5000};
// How often a waiting test thread wakes up to look at the clock.
constexpr pa_usec_t kTickUsec = 50 * PA_USEC_PER_MSEC;

// A libpulse client on a threaded main loop. Every wait has a deadline, so a server that is
// missing or never answers gives an error instead of a hung test.
class PulseClient {
 public:
  PulseClient() {
    loop_ = pa_threaded_mainloop_new();
    api_ = pa_threaded_mainloop_get_api(loop_);
    // pa_threaded_mainloop_wait has no timeout: a ticking timer wakes the waiter instead.
    timeval tv;
    pa_timeval_add(pa_gettimeofday(&tv), kTickUsec);
    tick_ = api_->time_new(api_, &tv, &PulseClient::OnTick, this);
    pa_threaded_mainloop_start(loop_);
  }

  ~PulseClient() {
    pa_threaded_mainloop_lock(loop_);
    DropStream();
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

  PulseClient(const PulseClient&) = delete;
  PulseClient& operator=(const PulseClient&) = delete;

  // Connects to `server`; returns an empty string, or why it could not.
  std::string Connect(const char* server, milliseconds timeout) {
    Lock lock(loop_);
    context_ = pa_context_new(api_, "sonarelle sound rig test");
    if (!context_) return "pa_context_new failed";
    pa_context_set_state_callback(context_, &PulseClient::OnContextState, this);
    if (pa_context_connect(context_, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
      return std::string("cannot connect to ") + server + ": " + ContextError();
    }
    bool settled = WaitFor(
        [&] {
          pa_context_state_t s = pa_context_get_state(context_);
          return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
        },
        Clock::now() + timeout);
    if (!settled) {
      return std::string("the sound server at ") + server + " did not answer within " +
             std::to_string(timeout.count()) + " ms";
    }
    if (pa_context_get_state(context_) != PA_CONTEXT_READY) {
      return std::string("cannot connect to ") + server + ": " + ContextError();
    }
    return {};
  }

  // Records `count` samples, 16-bit mono at kRate, from the source named `source`; returns
  // an empty string, or why it could not.
  std::string Record(const char* source, size_t count, milliseconds timeout,
                     std::vector<double>* samples) {
    Lock lock(loop_);
    const auto deadline = Clock::now() + timeout;
    const pa_sample_spec sampleSpec{PA_SAMPLE_S16LE, kRate, 1};
    stream_ = pa_stream_new(context_, "record", &sampleSpec, nullptr);
    if (!stream_) return "pa_stream_new failed: " + ContextError();
    recorded_.clear();
    pa_stream_set_state_callback(stream_, &PulseClient::OnStreamState, this);
    pa_stream_set_read_callback(stream_, &PulseClient::OnRead, this);
    pa_buffer_attr attr;
    std::memset(&attr, 0xff, sizeof attr);  // -1 everywhere: the server's choice
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(50 * PA_USEC_PER_MSEC, &sampleSpec));
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream_, source, &attr, flags) < 0) {
      return std::string("cannot record from ") + source + ": " + ContextError();
    }
    bool settled = WaitFor(
        [&] {
          pa_stream_state_t s = pa_stream_get_state(stream_);
          return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
        },
        deadline);
    if (!settled) return std::string("the record stream on ") + source + " did not start in time";
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
      return std::string("cannot record from ") + source + ": " + ContextError();
    }
    const char* device = pa_stream_get_device_name(stream_);
    if (!device || std::strcmp(device, source) != 0) {
      return std::string("asked to record from ") + source + " but the stream is on " +
             (device ? device : "no device");
    }
    bool filled = WaitFor(
        [&] {
          return recorded_.size() >= count || pa_stream_get_state(stream_) != PA_STREAM_READY;
        },
        deadline);
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
      return std::string("the record stream on ") + source + " broke: " + ContextError();
    }
    if (!filled) {
      return std::string("only ") + std::to_string(recorded_.size()) + " of " +
             std::to_string(count) + " samples came from " + source + " in time";
    }
    DropStream();
    recorded_.resize(count);
    *samples = std::move(recorded_);
    recorded_.clear();
    return {};
  }

 private:
  class Lock {
   public:
    explicit Lock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
    ~Lock() { pa_threaded_mainloop_unlock(loop_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    pa_threaded_mainloop* loop_;
  };

  // With the lock held: waits until `done` or the deadline; false at the deadline.
  template <class Done>
  bool WaitFor(Done done, Clock::time_point deadline) {
    while (!done()) {
      if (Clock::now() >= deadline) return false;
      pa_threaded_mainloop_wait(loop_);
    }
    return true;
  }

  std::string ContextError() const { return pa_strerror(pa_context_errno(context_)); }

  void DropStream() {
    if (!stream_) return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }

  static void OnTick(pa_mainloop_api* api, pa_time_event* e, const timeval*, void* user) {
    auto* self = static_cast<PulseClient*>(user);
    timeval tv;
    pa_timeval_add(pa_gettimeofday(&tv), kTickUsec);
    api->time_restart(e, &tv);
    pa_threaded_mainloop_signal(self->loop_, 0);
  }

  static void OnContextState(pa_context*, void* user) {
    pa_threaded_mainloop_signal(static_cast<PulseClient*>(user)->loop_, 0);
  }

  static void OnStreamState(pa_stream*, void* user) {
    pa_threaded_mainloop_signal(static_cast<PulseClient*>(user)->loop_, 0);
  }

  static void OnRead(pa_stream* stream, size_t, void* user) {
    auto* self = static_cast<PulseClient*>(user);
    while (pa_stream_readable_size(stream) > 0) {
      const void* data = nullptr;
      size_t bytes = 0;
      if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) break;
      // A hole (no data) carries no samples: skip it.
      if (data) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i + sizeof(int16_t) <= bytes; i += sizeof(int16_t)) {
          int16_t v;
          std::memcpy(&v, p + i, sizeof v);
          self->recorded_.push_back(v / 32768.0);
        }
      }
      pa_stream_drop(stream);
    }
    pa_threaded_mainloop_signal(self->loop_, 0);
  }

  pa_threaded_mainloop* loop_ = nullptr;
  pa_mainloop_api* api_ = nullptr;
  pa_time_event* tick_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  std::vector<double> recorded_;
};

double Rms(const std::vector<double>& samples) {
  double sum = 0.0;
  for (double x : samples) sum += x * x;
  return samples.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

// Records half a second from `source` of the rig named by PULSE_SERVER.
void RecordFromRig(const char* source, std::vector<double>* samples) {
  const char* server = std::getenv("PULSE_SERVER");
  ASSERT_TRUE(server && *server)
      << "PULSE_SERVER is not set. Run this test through ctest, whose soundserver fixture "
         "starts the sound rig, or run scripts/sound-rig.sh start DIR and set "
         "PULSE_SERVER=unix:DIR/native.";
  PulseClient client;
  std::string error = client.Connect(server, kConnectTimeout);
  ASSERT_EQ(error, "") << "Is the sound rig running (scripts/sound-rig.sh start DIR)?";
  error = client.Record(source, kHalfSecond, kRecordTimeout, samples);
  ASSERT_EQ(error, "");
  ASSERT_EQ(samples->size(), kHalfSecond);
}

// Checks that `samples` carry `present` Hz and not `absent` Hz, and are not silence.
void ExpectTone(const std::vector<double>& samples, double present, double absent) {
  const double rms = Rms(samples);
  const double atPresent = TonePower(samples, kRate, present);
  const double atAbsent = TonePower(samples, kRate, absent);
  // -20 dBFS: far above any noise, far below the rig's sine level.
  EXPECT_GT(rms, 0.1) << "the recording is (nearly) silent";
  EXPECT_TRUE(HasTone(samples, kRate, present))
      << present << " Hz is missing; power " << atPresent << " at " << present << " Hz, "
      << atAbsent << " at " << absent << " Hz, rms " << rms;
  EXPECT_FALSE(HasTone(samples, kRate, absent))
      << absent << " Hz is there but should not be; power " << atAbsent;
  EXPECT_LT(atAbsent, atPresent / 100.0);
}

TEST(SoundRigTest, MicCarries440HzAndNot880Hz) {
  std::vector<double> samples;
  ASSERT_NO_FATAL_FAILURE(RecordFromRig("mic", &samples));
  ExpectTone(samples, 440.0, 880.0);
}

TEST(SoundRigTest, LineCarries880HzAndNot440Hz) {
  std::vector<double> samples;
  ASSERT_NO_FATAL_FAILURE(RecordFromRig("line", &samples));
  ExpectTone(samples, 880.0, 440.0);
}

TEST(SoundRigTest, RecordingFromAMissingSourceIsAnError) {
  const char* server = std::getenv("PULSE_SERVER");
  ASSERT_TRUE(server && *server) << "PULSE_SERVER is not set (run through ctest)";
  PulseClient client;
  ASSERT_EQ(client.Connect(server, kConnectTimeout), "");
  std::vector<double> samples;
  std::string error = client.Record("no-such-source", kHalfSecond, kRecordTimeout, &samples);
  EXPECT_NE(error, "");
  EXPECT_TRUE(samples.empty());
}

// The client's deadlines, which keep a broken rig from hanging the sound tests.
TEST(SoundRigTest, ConnectingWhereNoServerListensIsAnError) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string server = "unix:" + dir.filePath("native").toStdString();
  PulseClient client;
  std::string error = client.Connect(server.c_str(), kConnectTimeout);
  EXPECT_NE(error, "");
  EXPECT_NE(error.find(server), std::string::npos) << error;
}

TEST(SoundRigTest, ConnectingToAServerThatNeverAnswersGivesUp) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string path = dir.filePath("native").toStdString();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  // Listens but never accepts: the client's connection waits in the backlog, unanswered.
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(fd, 4), 0);
  {
    PulseClient client;
    std::string error = client.Connect(("unix:" + path).c_str(), milliseconds(500));
    EXPECT_NE(error.find("did not answer"), std::string::npos) << error;
  }
  close(fd);
}

}  // namespace
