// The wave-in driver on a PulseAudio server: every source is a device, monitors included.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/PulseMainloop.h"
#include "platform/PulseTakeMix.h"
#include "platform/TakeMixChoice.h"
#include "platform/TakeTimeline.h"
#include "platform/WaveInDriver.h"

namespace sonarelle {

namespace {

constexpr auto kConnectTimeout = PulseMainloop::kConnectTimeout;
// Latency asked of the server: short fragments keep the buffers flowing evenly.
constexpr pa_usec_t kFragmentUsec = 20000;

MMRESULT ServerError(int error) {
  return kWaveInServerErrorBase + static_cast<MMRESULT>(std::max(error, 0));
}

// One open device: the record stream and the buffers queued at it.
struct Capture {
  WaveInHandle handle = 0;
  pa_stream* stream = nullptr;
  // Where the plain stream's reads belong in the take (the take mix keeps its own times).
  std::unique_ptr<TakeTimeline> timeline;
  // The source the stream records from, and its description.
  std::string source;
  QString sourceDescription;
  // Changes of the source, told once the take's frame where they begin is known.
  struct Move {
    std::string from;
    QString fromDescription;
    std::string to;
    std::int64_t frame = -1;
    bool told = false;
  };
  std::deque<Move> moves;
  // The stream's times are good only once the server has told them after the start: until
  // then the reads wait at the stream.
  bool timed = false;
  // Instead of `stream`, the voice and the program's accompaniment mixed.
  std::unique_ptr<PulseTakeMix> mix;
  WaveInNotify notify;
  std::deque<WaveInBuffer> queue;
  std::uint32_t filled = 0;  // bytes in queue.front()
  // Audio that came while every buffer was out, handed on as buffers come back, so that a
  // busy main thread or a burst from the server loses nothing of the take.
  std::vector<char> pending;
  static constexpr std::size_t kMaxPending = std::size_t{16} * 1024 * 1024;
  std::size_t frame = 1;
  char silence = 0;
  // Input is corked: a buffer queued while audio is held comes back at once.
  bool stopped = true;
  bool failed = false;
  bool closing = false;

  // Hands the front buffer back filled as far as it is.
  void ReturnFront() {
    const WaveInBuffer buffer = queue.front();
    queue.pop_front();
    *buffer.bytesRecorded = filled;
    *buffer.flags = (*buffer.flags & ~kWaveInInQueue) | kWaveInDone;
    filled = 0;
    notify(MM_WIM_DATA, handle, buffer.id, MMSYSERR_NOERROR);
  }

  // Copies what the server delivered into the queued buffers, whole frames only; what does
  // not fit waits in `pending` (up to its limit, beyond which it is lost).
  void Feed(const char* data, std::size_t size) {
    if (!pending.empty()) {
      Keep(data, size);
      return;
    }
    FillQueue(data, size);
    Keep(data, size);
  }

  void Keep(const char* data, std::size_t size) {
    const std::size_t room = kMaxPending - std::min(kMaxPending, pending.size());
    const std::size_t kept = std::min(size, room);
    if (data != nullptr) {
      pending.insert(pending.end(), data, data + kept);
    } else {
      pending.insert(pending.end(), kept, static_cast<char>(silence));
    }
  }

  // Hands waiting audio to buffers that came back.
  void Drain() {
    if (pending.empty() || queue.empty()) return;
    const char* data = pending.data();
    std::size_t size = pending.size();
    FillQueue(data, size);
    pending.erase(pending.begin(), pending.end() - static_cast<std::ptrdiff_t>(size));
  }

  // Fills queued buffers from `data`, advancing it past what was taken.
  void FillQueue(const char*& data, std::size_t& size) {
    while (size > 0 && !queue.empty()) {
      const WaveInBuffer& buffer = queue.front();
      const std::uint32_t usable = buffer.capacity - buffer.capacity % frame;
      const std::size_t take = std::min<std::size_t>(size, usable - filled);
      if (data != nullptr) {
        std::memcpy(buffer.data + filled, data, take);
        data += take;
      } else {
        std::memset(buffer.data + filled, silence, take);
      }
      filled += static_cast<std::uint32_t>(take);
      size -= take;
      if (filled >= usable) {
        ReturnFront();
      }
    }
  }

  pa_stream* Stream() const { return mix ? mix->Voice() : stream; }

  // Takes everything the stream has readable; the loop's lock is held.
  void Read() {
    if (mix) {
      mix->Flush();
      return;
    }
    if (timeline && !timed) {
      return;
    }
    for (;;) {
      const std::size_t readable = pa_stream_readable_size(stream);
      if (readable == 0 || readable == static_cast<std::size_t>(-1)) {
        return;
      }
      const std::int64_t captured = CapturedAt(stream);
      const void* data = nullptr;
      std::size_t size = 0;
      if (pa_stream_peek(stream, &data, &size) < 0 || size == 0) {
        return;
      }
      Place(static_cast<const char*>(data), size, captured);
      pa_stream_drop(stream);
    }
  }

  // Hands on the part of a read captured while the take runs, where it belongs in time.
  void Place(const char* data, std::size_t size, std::int64_t captured) {
    if (!timeline) {
      Feed(data, size);
      return;
    }
    const TakeTimeline::Placement placed = timeline->Place(captured, size / frame);
    if (placed.silence > 0) {
      Feed(nullptr, std::size_t(placed.silence) * frame);
    }
    if (placed.keep > 0) {
      Feed(data != nullptr ? data + placed.skip * frame : nullptr, placed.keep * frame);
    }
    NoteMoves(placed);
  }

  // A move is told once the new source's first frames are in the take.
  void NoteMoves(const TakeTimeline::Placement& placed) {
    if (placed.keep == 0) {
      return;
    }
    for (Move& move : moves) {
      if (!move.told) {
        move.frame = timeline->Frames() - std::int64_t(placed.keep);
        move.told = true;
        notify(MM_WIM_MOVED, handle, nullptr, MMSYSERR_NOERROR);
      }
    }
  }

  // Called on the server thread: the server moved the stream to another source. Its reads
  // wait until the server has told the stream's times anew.
  static void OnMoved(pa_stream* stream, void* user) {
    auto* capture = static_cast<Capture*>(user);
    const char* name = pa_stream_get_device_name(stream);
    Move move;
    move.from = capture->source;
    move.fromDescription = capture->sourceDescription;
    move.to = name != nullptr ? name : "";
    capture->source = move.to;
    capture->moves.push_back(std::move(move));
    if (capture->timeline) {
      capture->timeline->Recheck();
      capture->AskTimes();
    }
  }

  // Holds the reads until the server tells the stream's times; they are good only from
  // then on.
  void AskTimes() {
    timed = false;
    pa_operation* op = pa_stream_update_timing_info(
        stream,
        [](pa_stream*, int, void* user) {
          auto* capture = static_cast<Capture*>(user);
          capture->timed = true;
          capture->Read();
        },
        this);
    if (op != nullptr) {
      pa_operation_unref(op);
    } else {
      timed = true;
    }
  }

  // Called on the server thread with the loop's lock held.
  static void OnRead(pa_stream* /*stream*/, std::size_t /*bytes*/, void* user) {
    static_cast<Capture*>(user)->Read();
  }

  // Called on the server thread: a source that goes away or a dead server fails the stream.
  static void OnState(pa_stream* stream, void* user) {
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
      pa_context* context = pa_stream_get_context(stream);
      // A server that still answers ended only the stream: its source went and no other
      // took its place.
      if (PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
        static_cast<Capture*>(user)->Fail(WAVERR_DEVICELOST);
        return;
      }
      const int error = pa_context_errno(context);
      static_cast<Capture*>(user)->Fail(ServerError(error != PA_OK ? error : PA_ERR_KILLED));
    }
  }

  void Fail(MMRESULT code) {
    if (closing || failed) {
      return;
    }
    failed = true;
    notify(MM_WIM_FAILED, handle, nullptr, code);
  }
};

class PulseWaveIn final : public WaveInDriver {
 public:
  ~PulseWaveIn() override {
    PulseMainloop::Lock lock(loop_);
    for (auto& entry : captures_) {
      Disconnect(*entry.second);
    }
    captures_.clear();
  }

  int GetNumDevs() override {
    PulseMainloop::Lock lock(loop_);
    RefreshSources();
    return static_cast<int>(sources_.size());
  }

  MMRESULT GetDevCaps(int deviceId, WaveInCaps& caps) override {
    PulseMainloop::Lock lock(loop_);
    int error = PA_OK;
    pa_context* context = loop_.Usable() ? loop_.Context(error) : nullptr;
    if (context == nullptr) {
      return MMSYSERR_NODRIVER;
    }
    std::string name;
    if (deviceId == -1) {
      pa_operation* op = pa_context_get_server_info(
          context,
          [](pa_context*, const pa_server_info* info, void* user) {
            if (info != nullptr && info->default_source_name != nullptr) {
              *static_cast<std::string*>(user) = info->default_source_name;
            }
          },
          &name);
      if (!loop_.Finish(op) || name.empty()) {
        return WAVERR_DEVICELOST;
      }
    } else if (deviceId >= 0 && deviceId < static_cast<int>(sources_.size())) {
      name = sources_[static_cast<std::size_t>(deviceId)];
    } else {
      return MMSYSERR_BADDEVICEID;
    }
    QString description;
    if (!Describe(context, name, description)) {
      // A default that names no source: there is no input at all.
      return deviceId == -1 ? WAVERR_DEVICELOST : MMSYSERR_BADDEVICEID;
    }
    caps.productName = description;
    // The server converts whatever the source gives, so every standard format is offered.
    caps.formats = WAVE_FORMAT_ALL_STANDARD;
    return MMSYSERR_NOERROR;
  }

  QString GetErrorText(MMRESULT code) override {
    if (const char* common = CommonResultText(code)) {
      return QString::fromUtf8(common);
    }
    switch (code) {
      case MMSYSERR_BADDEVICEID:
        return QStringLiteral("The recording device does not exist (any more).");
      case MMSYSERR_NODRIVER:
        return QStringLiteral("The sound server cannot be reached.");
      case WAVERR_BADFORMAT:
        return QStringLiteral("The device cannot record this format.");
      case WAVERR_STILLPLAYING:
        return QStringLiteral("Buffers are still queued at the device.");
      case WAVERR_UNPREPARED:
        return QStringLiteral("The buffer was not prepared.");
      case WAVERR_DEVICELOST:
        return QStringLiteral(
            "There is no recording input any more: it was unplugged or removed from the sound "
            "server.");
      default:
        break;
    }
    if (code >= kWaveInServerErrorBase) {
      return ServerErrorText(static_cast<int>(code - kWaveInServerErrorBase));
    }
    return {};
  }

  MMRESULT Open(WaveInHandle* handle, int deviceId, const WaveInFormat& format,
                const WaveInNotify& notify, bool query) override {
    pa_sample_spec sampleSpec{};
    if (!SampleSpec(format, sampleSpec)) {
      return WAVERR_BADFORMAT;
    }
    PulseMainloop::Lock lock(loop_);
    if (sources_.empty()) {
      RefreshSources();
    }
    if (deviceId < -1 || deviceId >= static_cast<int>(sources_.size())) {
      return MMSYSERR_BADDEVICEID;
    }
    if (query) {
      return MMSYSERR_NOERROR;
    }
    if (handle == nullptr || !notify) {
      return MMSYSERR_INVALPARAM;
    }
    int error = PA_OK;
    pa_context* context = loop_.Usable() ? loop_.Context(error) : nullptr;
    if (context == nullptr) {
      return MMSYSERR_NODRIVER;
    }
    auto capture = std::make_unique<Capture>();
    capture->handle = nextHandle_++;
    capture->notify = notify;
    capture->frame = pa_frame_size(&sampleSpec);
    capture->silence = sampleSpec.format == PA_SAMPLE_U8 ? static_cast<char>(0x80) : 0;
    error = deviceId == -1 && take_mix::Chosen()
                ? ConnectMix(*capture, context, sampleSpec)
                : ConnectSource(*capture, context, sampleSpec, deviceId, sources_);
    if (error != PA_OK) {
      Disconnect(*capture);
      return ServerError(error);
    }
    pa_stream* stream = capture->Stream();
    const bool settled = loop_.Wait(
        [stream] {
          const pa_stream_state_t state = pa_stream_get_state(stream);
          return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        },
        kConnectTimeout);
    if (!settled || pa_stream_get_state(stream) != PA_STREAM_READY) {
      error = settled ? pa_context_errno(context) : PA_ERR_TIMEOUT;
      Disconnect(*capture);
      return ServerError(error);
    }
    if (PulseTakeMix* mix = capture->mix.get()) {
      loop_.Wait([mix] { return mix->Settled(); }, kConnectTimeout);
    } else {
      capture->timeline = std::make_unique<TakeTimeline>(sampleSpec.rate);
      const char* source = pa_stream_get_device_name(stream);
      capture->source = source != nullptr ? source : "";
      Describe(context, capture->source, capture->sourceDescription);
      pa_stream_set_moved_callback(stream, &Capture::OnMoved, capture.get());
    }
    *handle = capture->handle;
    Capture& opened = *capture;
    captures_[capture->handle] = std::move(capture);
    opened.notify(MM_WIM_OPEN, opened.handle, nullptr, MMSYSERR_NOERROR);
    return MMSYSERR_NOERROR;
  }

  MMRESULT Close(WaveInHandle handle) override {
    PulseMainloop::Lock lock(loop_);
    auto found = captures_.find(handle);
    if (found == captures_.end()) {
      return MMSYSERR_INVALHANDLE;
    }
    if (!found->second->queue.empty()) {
      return WAVERR_STILLPLAYING;
    }
    const WaveInNotify notify = found->second->notify;
    Disconnect(*found->second);
    captures_.erase(found);
    notify(MM_WIM_CLOSE, handle, nullptr, MMSYSERR_NOERROR);
    return MMSYSERR_NOERROR;
  }

  MMRESULT PrepareHeader(WaveInHandle handle, const WaveInBuffer& buffer) override {
    PulseMainloop::Lock lock(loop_);
    if (Find(handle) == nullptr) {
      return MMSYSERR_INVALHANDLE;
    }
    if (buffer.data == nullptr || buffer.flags == nullptr || buffer.bytesRecorded == nullptr) {
      return MMSYSERR_INVALPARAM;
    }
    *buffer.flags |= kWaveInPrepared;
    return MMSYSERR_NOERROR;
  }

  MMRESULT UnprepareHeader(WaveInHandle handle, const WaveInBuffer& buffer) override {
    PulseMainloop::Lock lock(loop_);
    if (Find(handle) == nullptr) {
      return MMSYSERR_INVALHANDLE;
    }
    if ((*buffer.flags & kWaveInInQueue) != 0) {
      return WAVERR_STILLPLAYING;
    }
    *buffer.flags &= ~kWaveInPrepared;
    return MMSYSERR_NOERROR;
  }

  MMRESULT AddBuffer(WaveInHandle handle, const WaveInBuffer& buffer) override {
    PulseMainloop::Lock lock(loop_);
    Capture* capture = Find(handle);
    if (capture == nullptr) {
      return MMSYSERR_INVALHANDLE;
    }
    if ((*buffer.flags & kWaveInPrepared) == 0) {
      return WAVERR_UNPREPARED;
    }
    if (buffer.capacity < capture->frame) {
      return MMSYSERR_INVALPARAM;
    }
    *buffer.bytesRecorded = 0;
    *buffer.flags = (*buffer.flags & ~kWaveInDone) | kWaveInInQueue;
    capture->queue.push_back(buffer);
    capture->Drain();
    // Stopped, nothing more comes to fill it up.
    if (capture->stopped && capture->filled > 0) {
      capture->ReturnFront();
    }
    return MMSYSERR_NOERROR;
  }

  MMRESULT Start(WaveInHandle handle) override {
    PulseMainloop::Lock lock(loop_);
    Capture* capture = Find(handle);
    if (capture != nullptr && capture->timeline) {
      capture->timeline->Start(std::int64_t(pa_rtclock_now()));
      capture->timed = false;
    }
    const MMRESULT result = Cork(handle, false);
    // Asked after the start, answered after it: times from before would place the first
    // reads wrongly.
    if (result == MMSYSERR_NOERROR && capture != nullptr && capture->timeline) {
      capture->AskTimes();
    }
    if (result == MMSYSERR_NOERROR) {
      Find(handle)->stopped = false;
    }
    return result;
  }

  MMRESULT Stop(WaveInHandle handle) override {
    PulseMainloop::Lock lock(loop_);
    if (Capture* capture = Find(handle);
        capture != nullptr && capture->timeline && !capture->stopped && !capture->failed) {
      // What was captured before the press may still be on its way: a source with a long
      // latency hands its sound out late.
      capture->timeline->Stop(std::int64_t(pa_rtclock_now()));
      loop_.Wait([capture] { return capture->timeline->Complete() || capture->failed; },
                 kConnectTimeout);
    }
    const MMRESULT result = Cork(handle, true);
    Capture* capture = Find(handle);
    if (capture == nullptr) {
      return result;
    }
    capture->stopped = true;
    // What the server sent before the cork took effect belongs to the take.
    if (!capture->failed) {
      capture->Read();
    }
    if (capture->filled > 0 && !capture->queue.empty()) {
      capture->ReturnFront();
    }
    return result;
  }

  MMRESULT Reset(WaveInHandle handle) override {
    PulseMainloop::Lock lock(loop_);
    const MMRESULT result = Cork(handle, true);
    Capture* capture = Find(handle);
    if (capture == nullptr) {
      return result;
    }
    capture->stopped = true;
    // What the server still holds is older than anything recorded after a restart.
    if (!capture->failed) {
      loop_.Finish(pa_stream_flush(capture->Stream(), nullptr, nullptr));
    }
    if (capture->mix) {
      capture->mix->DropVoice();
    }
    capture->pending.clear();
    while (!capture->queue.empty()) {
      capture->ReturnFront();
    }
    return capture->failed ? MMSYSERR_NOERROR : result;
  }

  bool TakeInputChange(WaveInHandle handle, WaveInInputChange& change) override {
    PulseMainloop::Lock lock(loop_);
    Capture* capture = Find(handle);
    if (capture == nullptr || capture->moves.empty() || !capture->moves.front().told) {
      return false;
    }
    const Capture::Move move = capture->moves.front();
    capture->moves.pop_front();
    pa_context* context = loop_.Ready();
    change.from = move.fromDescription;
    QString ignored;
    change.lost = context != nullptr && !Describe(context, move.from, ignored);
    if (context == nullptr || !Describe(context, move.to, change.to)) {
      change.to = QString::fromStdString(move.to);
    }
    if (capture->source == move.to) {
      capture->sourceDescription = change.to;
    }
    change.frame = move.frame;
    return true;
  }

  std::uint32_t HeldBytes(WaveInHandle handle) override {
    PulseMainloop::Lock lock(loop_);
    const Capture* capture = Find(handle);
    if (capture == nullptr) {
      return 0;
    }
    return static_cast<std::uint32_t>(capture->pending.size()) + capture->filled;
  }

 private:
  Capture* Find(WaveInHandle handle) {
    auto found = captures_.find(handle);
    return found != captures_.end() ? found->second.get() : nullptr;
  }

  // The loop's lock is held once, not more: waiting must be able to let go of it.
  MMRESULT Cork(WaveInHandle handle, bool cork) {
    Capture* capture = Find(handle);
    if (capture == nullptr) {
      return MMSYSERR_INVALHANDLE;
    }
    if (capture->failed) {
      return cork ? MMSYSERR_NOERROR : ServerError(PA_ERR_KILLED);
    }
    // The take mix's streams keep running; its take has a start and an end in time.
    if (PulseTakeMix* mix = capture->mix.get()) {
      if (!cork) {
        mix->Start();
        return MMSYSERR_NOERROR;
      }
      mix->Stop();
      loop_.Wait([mix] { return mix->Complete(); }, kConnectTimeout);
      mix->Flush();
      return MMSYSERR_NOERROR;
    }
    if (!loop_.Finish(pa_stream_cork(capture->Stream(), cork ? 1 : 0, nullptr, nullptr))) {
      return ServerError(PA_ERR_TIMEOUT);
    }
    return MMSYSERR_NOERROR;
  }

  // The server's description of a source; false when it has no source of that name. The
  // loop's lock is held.
  bool Describe(pa_context* context, const std::string& name, QString& description) {
    if (name.empty()) {
      return false;
    }
    struct Found {
      bool seen = false;
      QString description;
    } found;
    pa_operation* op = pa_context_get_source_info_by_name(
        context, name.c_str(),
        [](pa_context*, const pa_source_info* info, int eol, void* user) {
          auto* out = static_cast<Found*>(user);
          if (eol == 0 && info != nullptr) {
            out->seen = true;
            out->description =
                QString::fromUtf8(info->description != nullptr ? info->description : info->name);
          }
        },
        &found);
    if (!loop_.Finish(op) || !found.seen) {
      return false;
    }
    description = found.description;
    return true;
  }

  // The loop's lock is held.
  void RefreshSources() {
    sources_.clear();
    int error = PA_OK;
    pa_context* context = loop_.Usable() ? loop_.Context(error) : nullptr;
    if (context == nullptr) {
      return;
    }
    std::vector<std::string> names;
    pa_operation* op = pa_context_get_source_info_list(
        context,
        [](pa_context*, const pa_source_info* info, int eol, void* user) {
          if (eol == 0 && info != nullptr && info->name != nullptr) {
            static_cast<std::vector<std::string>*>(user)->emplace_back(info->name);
          }
        },
        &names);
    if (loop_.Finish(op)) {
      sources_ = std::move(names);
    }
  }

  // A record stream on one source (the default one for -1); PA_OK or a server error.
  static int ConnectSource(Capture& capture, pa_context* context,
                           const pa_sample_spec& sampleFormat, int deviceId,
                           const std::vector<std::string>& sources) {
    capture.stream = pa_stream_new(context, "Recording", &sampleFormat, nullptr);
    if (capture.stream == nullptr) {
      return pa_context_errno(context);
    }
    pa_stream_set_read_callback(capture.stream, &Capture::OnRead, &capture);
    pa_stream_set_state_callback(capture.stream, &Capture::OnState, &capture);
    const pa_buffer_attr attr = RecordBuffering(kFragmentUsec, sampleFormat);
    // A chosen source is kept: when it goes away the recording fails instead of moving on
    // to another source unnoticed.
    // Timing of every read, so that the take holds what was captured while it ran.
    auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY |
                                       PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
    if (deviceId >= 0) {
      flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_DONT_MOVE);
    }
    const char* source =
        deviceId >= 0 ? sources[static_cast<std::size_t>(deviceId)].c_str() : nullptr;
    return pa_stream_connect_record(capture.stream, source, &attr, flags) < 0
               ? pa_context_errno(context)
               : PA_OK;
  }

  // The microphone with the program's own accompaniment; PA_OK or a server error.
  static int ConnectMix(Capture& capture, pa_context* context, const pa_sample_spec& sampleFormat) {
    Capture* target = &capture;
    capture.mix = std::make_unique<PulseTakeMix>(
        context, sampleFormat,
        [target](const char* data, std::size_t size) { target->Feed(data, size); },
        [target](int error) { target->Fail(error); });
    return capture.mix->Connect();
  }

  void Disconnect(Capture& capture) {
    capture.closing = true;
    capture.mix.reset();
    DropStream(capture.stream);
  }

  static bool SampleSpec(const WaveInFormat& format, pa_sample_spec& sampleSpec) {
    if (format.formatTag != 1) {
      return false;
    }
    switch (format.bitsPerSample) {
      case 8:
        sampleSpec.format = PA_SAMPLE_U8;
        break;
      case 16:
        sampleSpec.format = PA_SAMPLE_S16LE;
        break;
      case 24:
        sampleSpec.format = PA_SAMPLE_S24LE;
        break;
      case 32:
        sampleSpec.format = PA_SAMPLE_S32LE;
        break;
      default:
        return false;
    }
    sampleSpec.channels = static_cast<std::uint8_t>(std::min<unsigned>(format.channels, 255));
    sampleSpec.rate = format.samplesPerSec;
    return format.channels >= 1 && format.channels <= PA_CHANNELS_MAX &&
           pa_sample_spec_valid(&sampleSpec) != 0 &&
           format.blockAlign == pa_frame_size(&sampleSpec);
  }

  PulseMainloop loop_;
  std::map<WaveInHandle, std::unique_ptr<Capture>> captures_;
  std::vector<std::string> sources_;
  WaveInHandle nextHandle_ = 1;
};

}  // namespace

WaveInDriver& PulseWaveInDriver() {
  static PulseWaveIn driver;
  return driver;
}

}  // namespace sonarelle
