#include "platform/PulseTakeMix.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "platform/PulseMainloop.h"
#include "platform/TakeMixChoice.h"

namespace sonarelle {

namespace {

// Reads of 20 ms: each read costs a wake-up (2 ms fragments took 9 % of a core), and the
// stream clocks place the frames to well under a millisecond either way.
constexpr pa_usec_t kFragmentUsec = 20000;
// The voice waits this long before it is mixed, so that the accompaniment heard with it
// has come in even when the loop's thread is late.
constexpr std::int64_t kHoldUsec = 150000;

// When the first frame of what `stream` holds now was captured, and the time it was read,
// on the server's clock.
struct ReadTimes {
  std::int64_t captured = 0;
  std::int64_t now = 0;
};
ReadTimes TimesOf(pa_stream* stream) {
  const auto now = std::int64_t(pa_rtclock_now());
  return {CapturedAt(stream), now};
}

// Hands each chunk `stream` holds to `take(times, frames)`, its samples copied into
// `samples` (silence for a hole), with the times of its read.
template <class Take>
void ReadChunks(pa_stream* stream, std::size_t channels, std::vector<float>& samples, Take take) {
  for (;;) {
    const ReadTimes times = TimesOf(stream);
    const void* data = nullptr;
    std::size_t size = 0;
    if (pa_stream_peek(stream, &data, &size) < 0 || size == 0) {
      return;
    }
    const std::size_t frames = size / (channels * sizeof(float));
    samples.assign(frames * channels, 0.0F);
    if (data != nullptr) {
      std::memcpy(samples.data(), data, frames * channels * sizeof(float));
    }
    take(times, frames);
    pa_stream_drop(stream);
  }
}

}  // namespace

PulseTakeMix::PulseTakeMix(pa_context* context, const pa_sample_spec& take, Output output,
                           Failure failure)
    : context_(context),
      take_(take),
      output_(std::move(output)),
      failure_(std::move(failure)),
      mixer_(TakeMixer::Format{take.rate, take.channels, 8U * unsigned(pa_sample_size(&take))}),
      voiceClock_(take.rate) {}

PulseTakeMix::~PulseTakeMix() {
  pa_context_set_subscribe_callback(context_, nullptr, nullptr);
  for (pa_operation* op : operations_) {
    pa_operation_cancel(op);
    pa_operation_unref(op);
  }
  for (Accompaniment& accompaniment : accompaniments_) {
    DropStream(accompaniment.stream);
  }
  DropStream(voice_);
}

int PulseTakeMix::Connect() {
  const pa_sample_spec mono{PA_SAMPLE_FLOAT32LE, take_.rate, 1};
  voice_ = pa_stream_new(context_, "Recording", &mono, nullptr);
  if (voice_ == nullptr) {
    return pa_context_errno(context_);
  }
  pa_stream_set_read_callback(voice_, &PulseTakeMix::OnVoiceRead, this);
  pa_stream_set_state_callback(voice_, &PulseTakeMix::OnVoiceState, this);
  const pa_buffer_attr attr = RecordBuffering(kFragmentUsec, mono);
  // Never corked: a stream that starts gives late, wrong times for its first reads.
  const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                       PA_STREAM_AUTO_TIMING_UPDATE);
  if (pa_stream_connect_record(voice_, nullptr, &attr, flags) < 0) {
    return pa_context_errno(context_);
  }
  pa_context_set_subscribe_callback(context_, &PulseTakeMix::OnEvent, this);
  Keep(pa_context_subscribe(context_, PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr, nullptr));
  Keep(pa_context_get_sink_input_info_list(context_, &PulseTakeMix::OnSinkInput, this));
  return PA_OK;
}

void PulseTakeMix::Keep(pa_operation* op) {
  operations_.erase(std::remove_if(operations_.begin(), operations_.end(),
                                   [](pa_operation* done) {
                                     if (pa_operation_get_state(done) == PA_OPERATION_RUNNING) {
                                       return false;
                                     }
                                     pa_operation_unref(done);
                                     return true;
                                   }),
                    operations_.end());
  if (op != nullptr) {
    operations_.push_back(op);
  }
}

void PulseTakeMix::OnEvent(pa_context* context, pa_subscription_event_type_t type,
                           std::uint32_t index, void* user) {
  auto* self = static_cast<PulseTakeMix*>(user);
  if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
    return;
  }
  const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
  if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
    self->Unfollow(index);
  } else if (kind == PA_SUBSCRIPTION_EVENT_NEW) {
    self->Keep(pa_context_get_sink_input_info(context, index, &PulseTakeMix::OnSinkInput, self));
  }
}

// A playback stream of this process is followed once its sink's monitor is known.
void PulseTakeMix::OnSinkInput(pa_context* context, const pa_sink_input_info* info, int eol,
                               void* user) {
  auto* self = static_cast<PulseTakeMix*>(user);
  if (eol != 0 || info == nullptr) {
    self->listed_ = self->listed_ || eol != 0;
    return;
  }
  const char* pid = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
  if (pid == nullptr || std::to_string(getpid()) != pid || self->waiting_.count(info->index) ||
      std::any_of(self->accompaniments_.begin(), self->accompaniments_.end(),
                  [&](const Accompaniment& a) { return a.input == info->index && !a.gone; })) {
    return;
  }
  self->waiting_[info->index] = info->sink;
  self->Keep(pa_context_get_sink_info_by_index(context, info->sink, &PulseTakeMix::OnSink, self));
}

void PulseTakeMix::OnSink(pa_context* /*context*/, const pa_sink_info* info, int eol, void* user) {
  auto* self = static_cast<PulseTakeMix*>(user);
  if (eol != 0 || info == nullptr) {
    return;
  }
  for (auto it = self->waiting_.begin(); it != self->waiting_.end();) {
    if (it->second == info->index) {
      self->Follow(it->first, *info);
      it = self->waiting_.erase(it);
    } else {
      ++it;
    }
  }
}

void PulseTakeMix::Follow(std::uint32_t input, const pa_sink_info& sink) {
  const pa_sample_spec stereo{PA_SAMPLE_FLOAT32LE, take_.rate, 2};
  pa_stream* stream = pa_stream_new(context_, "Accompaniment", &stereo, nullptr);
  if (stream == nullptr || sink.monitor_source_name == nullptr) {
    if (stream != nullptr) pa_stream_unref(stream);
    return;
  }
  Accompaniment& accompaniment = accompaniments_.emplace_back(this, input, take_.rate);
  accompaniment.stream = stream;
  // A monitor reports its latency as negative, by the sink's: the time a read gives is the
  // time the speakers play it. The offset is what the server cannot know (a headset's own
  // delay, for one).
  accompaniment.heardAfter = FrameAt(std::int64_t(take_mix::OffsetMs()) * 1000, take_.rate);
  pa_stream_set_monitor_stream(stream, input);
  pa_stream_set_read_callback(stream, &PulseTakeMix::OnAccompanimentRead, &accompaniment);
  pa_stream_set_state_callback(stream, &PulseTakeMix::OnAccompanimentState, &accompaniment);
  const pa_buffer_attr attr = RecordBuffering(kFragmentUsec, stereo);
  const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                       PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_DONT_MOVE);
  if (pa_stream_connect_record(stream, sink.monitor_source_name, &attr, flags) < 0) {
    accompaniment.gone = true;
  }
}

void PulseTakeMix::Unfollow(std::uint32_t input) {
  waiting_.erase(input);
  for (Accompaniment& accompaniment : accompaniments_) {
    if (accompaniment.input == input) {
      accompaniment.gone = true;
    }
  }
}

// Streams that ended are let go outside their own callbacks.
void PulseTakeMix::Sweep() {
  for (auto it = accompaniments_.begin(); it != accompaniments_.end();) {
    if (it->gone) {
      DropStream(it->stream);
      it = accompaniments_.erase(it);
    } else {
      ++it;
    }
  }
}

void PulseTakeMix::OnAccompanimentRead(pa_stream* stream, std::size_t /*bytes*/, void* user) {
  auto* accompaniment = static_cast<Accompaniment*>(user);
  ReadChunks(stream, 2, accompaniment->samples, [&](ReadTimes times, std::size_t frames) {
    const std::int64_t first = accompaniment->clock.Place(times.captured, times.now, frames);
    accompaniment->owner->mixer_.AddAccompaniment(first + accompaniment->heardAfter,
                                                  accompaniment->samples.data(), frames);
  });
}

void PulseTakeMix::OnAccompanimentState(pa_stream* stream, void* user) {
  if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
    static_cast<Accompaniment*>(user)->gone = true;
  }
}

void PulseTakeMix::OnVoiceRead(pa_stream* /*stream*/, std::size_t /*bytes*/, void* user) {
  static_cast<PulseTakeMix*>(user)->ReadVoice(false);
}

void PulseTakeMix::OnVoiceState(pa_stream* stream, void* user) {
  auto* self = static_cast<PulseTakeMix*>(user);
  const pa_stream_state_t state = pa_stream_get_state(stream);
  if (self->failed_ || (state != PA_STREAM_FAILED && state != PA_STREAM_TERMINATED)) {
    return;
  }
  self->failed_ = true;
  const int error = pa_context_errno(self->context_);
  self->failure_(error != PA_OK ? error : PA_ERR_KILLED);
}

void PulseTakeMix::ReadVoice(bool all) {
  Sweep();
  ReadChunks(voice_, 1, voiceSamples_, [this](ReadTimes times, std::size_t frames) {
    // Only what was sung between Start and Stop: a source with a long latency still
    // delivers sound from before the take, and after its end.
    const std::int64_t index = voiceClock_.Frames();
    const std::int64_t first = voiceClock_.Place(times.captured, times.now, frames);
    voiceEnd_ = first + std::int64_t(frames);
    const std::int64_t from = std::max(first, startFrame_);
    const std::int64_t to = std::min(voiceEnd_, stopFrame_);
    if (to > from) {
      mixer_.AddVoice(index + (from - first), voiceSamples_.data() + (from - first),
                      std::size_t(to - from));
    }
  });
  mixer_.SetLevels(double(take_mix::VoiceLevel()) / 65535.0,
                   double(take_mix::AccompanimentLevel()) / 100.0);
  const std::int64_t hold = kHoldUsec + std::max(0, -take_mix::OffsetMs()) * std::int64_t{1000};
  // All of it ends at Stop: a source may hand out sound before the time it gives it, and
  // nothing of the accompaniment after Stop has come in.
  std::int64_t until = std::int64_t(pa_rtclock_now()) - hold;
  if (all) {
    until = stopFrame_ < std::numeric_limits<std::int64_t>::max()
                ? stopFrame_ * 1000000 / take_.rate
                : std::numeric_limits<std::int64_t>::max() / (2 * std::int64_t{take_.rate});
  }
  mixer_.Mix(until, voiceClock_.Anchor(), mixed_);
  if (!mixed_.empty()) {
    output_(mixed_.data(), mixed_.size());
    mixed_.clear();
  }
}

void PulseTakeMix::Start() {
  startFrame_ = FrameAt(std::int64_t(pa_rtclock_now()), take_.rate);
  stopFrame_ = std::numeric_limits<std::int64_t>::max();
}

void PulseTakeMix::Stop() {
  stopFrame_ = std::min(stopFrame_, FrameAt(std::int64_t(pa_rtclock_now()), take_.rate));
}

bool PulseTakeMix::Settled() const {
  return failed_ || (listed_ && waiting_.empty() && voiceClock_.Held() &&
                     std::all_of(accompaniments_.begin(), accompaniments_.end(),
                                 [](const Accompaniment& a) { return a.gone || a.clock.Held(); }));
}

bool PulseTakeMix::Complete() const {
  return failed_ || voiceEnd_ >= stopFrame_;
}

void PulseTakeMix::Flush() {
  if (!failed_) {
    ReadVoice(true);
  }
}

void PulseTakeMix::DropVoice() {
  mixer_.DropVoice();
}

namespace take_mix {

Latencies MeasureLatencies() {
  PulseMainloop loop;
  PulseMainloop::Lock lock(loop);
  int error = PA_OK;
  pa_context* context = loop.Usable() ? loop.Context(error) : nullptr;
  Latencies latencies;
  if (context == nullptr) {
    return latencies;
  }
  struct Heard {
    bool seen = false;
    pa_usec_t latency = 0;
  } source, sink;
  const bool asked = loop.Finish(pa_context_get_source_info_by_name(
                         context, "@DEFAULT_SOURCE@",
                         [](pa_context*, const pa_source_info* info, int eol, void* user) {
                           if (eol == 0 && info != nullptr) {
                             *static_cast<Heard*>(user) = Heard{true, info->latency};
                           }
                         },
                         &source)) &&
                     loop.Finish(pa_context_get_sink_info_by_name(
                         context, "@DEFAULT_SINK@",
                         [](pa_context*, const pa_sink_info* info, int eol, void* user) {
                           if (eol == 0 && info != nullptr) {
                             *static_cast<Heard*>(user) = Heard{true, info->latency};
                           }
                         },
                         &sink));
  latencies.known = asked && source.seen && sink.seen;
  latencies.inputMs = double(source.latency) / 1000.0;
  latencies.outputMs = double(sink.latency) / 1000.0;
  return latencies;
}

}  // namespace take_mix

}  // namespace sonarelle
