// The system's MIDI output: device 0 is a General MIDI synthesizer on FluidSynth playing
// through the sound server, the further devices are the ALSA sequencer's writable ports.
#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <fluidsynth.h>
#include <pulse/pulseaudio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QFile>
#include <QTimer>

#include "platform/LibrarySymbol.h"
#include "platform/MidiOutDriver.h"
#include "platform/PulseMainloop.h"
#include "platform/SoundFont.h"

namespace sonarelle {

namespace {

using Clock = std::chrono::steady_clock;

const char* const kSynthName = "Sonarelle GM Synthesizer";
const char* const kMapperName = "Sonarelle MIDI Mapper";
constexpr int kPolyphony = 256;
constexpr std::uint16_t kAllChannels = 0xFFFF;
// The synthesizer writes blocks of kPeriodSize frames, kPeriods of them at most queued. On
// the test rig (bench_midi_out) a note-on sounds after 11 to 18 ms and the open device takes
// about a tenth of a core; FluidSynth's own 64-frame blocks gain 5 ms for a quarter of a core.
constexpr int kPeriodSize = 256;
constexpr int kPeriods = 8;
constexpr std::uint32_t kDefaultRate = 44100;
constexpr auto kIdleStop = std::chrono::seconds(5);
constexpr auto kWakeRetry = std::chrono::seconds(2);

// The entry points of FluidSynth the synthesizer uses. The library is opened when the
// synthesizer first opens, not with the program: it and the libraries it brings take a tenth
// of the program's start to load.
struct FluidApi {
  decltype(&::new_fluid_settings) newSettings = nullptr;
  decltype(&::delete_fluid_settings) deleteSettings = nullptr;
  decltype(&::fluid_settings_setint) setInt = nullptr;
  decltype(&::fluid_settings_setnum) setNum = nullptr;
  decltype(&::fluid_settings_setstr) setStr = nullptr;
  decltype(&::new_fluid_synth) newSynth = nullptr;
  decltype(&::delete_fluid_synth) deleteSynth = nullptr;
  decltype(&::new_fluid_audio_driver2) newAudioDriver = nullptr;
  decltype(&::delete_fluid_audio_driver) deleteAudioDriver = nullptr;
  decltype(&::fluid_synth_sfload) sfload = nullptr;
  decltype(&::fluid_synth_process) process = nullptr;
  decltype(&::fluid_synth_noteon) noteOn = nullptr;
  decltype(&::fluid_synth_noteoff) noteOff = nullptr;
  decltype(&::fluid_synth_key_pressure) keyPressure = nullptr;
  decltype(&::fluid_synth_cc) cc = nullptr;
  decltype(&::fluid_synth_program_change) programChange = nullptr;
  decltype(&::fluid_synth_channel_pressure) channelPressure = nullptr;
  decltype(&::fluid_synth_pitch_bend) pitchBend = nullptr;
  decltype(&::fluid_synth_system_reset) systemReset = nullptr;
  decltype(&::fluid_synth_sysex) sysex = nullptr;
  decltype(&::fluid_synth_get_active_voice_count) activeVoices = nullptr;
  decltype(&::fluid_set_log_function) setLogFunction = nullptr;
};

// FluidSynth, opened on the first call and kept until the process ends (its threads may run
// until then); null when it is missing or lacks an entry point.
const FluidApi* Fluid() {
  static const FluidApi* const api = []() -> const FluidApi* {
    void* library = dlopen(SONARELLE_FLUIDSYNTH_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      return nullptr;
    }
    static FluidApi bound;
    const auto bind = [library](const char* symbol, auto& target) {
      return BindSymbol(library, symbol, target);
    };
    if (!(bind("new_fluid_settings", bound.newSettings) &&
          bind("delete_fluid_settings", bound.deleteSettings) &&
          bind("fluid_settings_setint", bound.setInt) &&
          bind("fluid_settings_setnum", bound.setNum) &&
          bind("fluid_settings_setstr", bound.setStr) && bind("new_fluid_synth", bound.newSynth) &&
          bind("delete_fluid_synth", bound.deleteSynth) &&
          bind("new_fluid_audio_driver2", bound.newAudioDriver) &&
          bind("delete_fluid_audio_driver", bound.deleteAudioDriver) &&
          bind("fluid_synth_sfload", bound.sfload) && bind("fluid_synth_process", bound.process) &&
          bind("fluid_synth_noteon", bound.noteOn) && bind("fluid_synth_noteoff", bound.noteOff) &&
          bind("fluid_synth_key_pressure", bound.keyPressure) && bind("fluid_synth_cc", bound.cc) &&
          bind("fluid_synth_program_change", bound.programChange) &&
          bind("fluid_synth_channel_pressure", bound.channelPressure) &&
          bind("fluid_synth_pitch_bend", bound.pitchBend) &&
          bind("fluid_synth_system_reset", bound.systemReset) &&
          bind("fluid_synth_sysex", bound.sysex) &&
          bind("fluid_synth_get_active_voice_count", bound.activeVoices) &&
          bind("fluid_set_log_function", bound.setLogFunction))) {
      dlclose(library);
      return nullptr;
    }
    // FluidSynth announces its audio driver at every open and warns for every note a busy
    // song finds no voice for; errors still show.
    for (const int level : {FLUID_WARN, FLUID_INFO, FLUID_DBG}) {
      bound.setLogFunction(level, nullptr, nullptr);
    }
    return &bound;
  }();
  return api;
}

MMRESULT ServerError(int error) {
  return kMidiOutServerErrorBase + static_cast<MMRESULT>(error > 0 ? error : PA_ERR_UNKNOWN);
}

MMRESULT SequencerError(int error) {
  return kMidiOutSequencerErrorBase + static_cast<MMRESULT>(error < 0 ? -error : EIO);
}

// Connects to the sound server once and asks for its sample rate. The shared loop bounds the
// wait, so an unreachable or silent server fails here rather than inside the synthesizer's
// own connection, which has no limit of ours.
MMRESULT ProbeServer(std::uint32_t& rate) {
  PulseMainloop loop;
  if (!loop.Usable()) {
    return ServerError(PA_ERR_INTERNAL);
  }
  const PulseMainloop::Lock lock(loop);
  int error = PA_OK;
  pa_context* context = loop.Context(error);
  if (context == nullptr) {
    return ServerError(error);
  }
  rate = 0;
  pa_operation* op = pa_context_get_server_info(
      context,
      [](pa_context*, const pa_server_info* info, void* user) {
        if (info != nullptr) {
          *static_cast<std::uint32_t*>(user) = info->sample_spec.rate;
        }
      },
      &rate);
  if (!loop.Finish(op)) {
    return ServerError(op == nullptr ? pa_context_errno(context) : PA_ERR_TIMEOUT);
  }
  if (rate == 0) {
    rate = kDefaultRate;
  }
  return MMSYSERR_NOERROR;
}

// Whether the file starts the way a SoundFont does: a RIFF "sfbk" form.
bool IsSoundFont(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return false;
  }
  const QByteArray head = file.read(12);
  return head.size() == 12 && head.startsWith("RIFF") && head.mid(8) == "sfbk";
}

// Calls `each` with the start and length of every system-exclusive message in the buffer,
// F0 and F7 included; false, calling nothing, when the buffer is anything else.
template <class Each>
bool ForEachSysex(const std::uint8_t* data, std::uint32_t length, Each each) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> messages;
  std::uint32_t start = 0;
  while (start < length) {
    if (data[start] != 0xF0) {
      return false;
    }
    std::uint32_t end = start + 1;
    while (end < length && data[end] != 0xF7) {
      if (data[end] >= 0x80) {
        return false;
      }
      ++end;
    }
    if (end == length) {
      return false;
    }
    messages.emplace_back(start, end + 1 - start);
    start = end + 1;
  }
  if (messages.empty()) {
    return false;
  }
  for (const auto& [first, size] : messages) {
    if (!each(data + first, size)) {
      break;
    }
  }
  return true;
}

// One open device, used on the owner's thread only.
class Device {
 public:
  virtual ~Device() = default;
  virtual MMRESULT Short(std::uint32_t message) = 0;
  // One complete system-exclusive message, F0 and F7 included.
  virtual MMRESULT Sysex(const std::uint8_t* data, std::uint32_t length) = 0;
};

class SynthDevice final : public Device {
 public:
  // `ready` is called on the loader's thread once the SoundFont is read (or failed to be).
  static MMRESULT Open(std::unique_ptr<Device>& device, std::function<void()> ready) {
    const QString path = SynthesizerSoundFont();
    if (path.isEmpty()) {
      return MIDIERR_NOSOUNDFONT;
    }
    const FluidApi* fluid = Fluid();
    if (fluid == nullptr) {
      return MIDIERR_NOSYNTHESIZER;
    }
    std::uint32_t rate = 0;
    const MMRESULT probe = ProbeServer(rate);
    if (probe != MMSYSERR_NOERROR) {
      return probe;
    }
    auto synth = std::make_unique<SynthDevice>(*fluid);
    synth->settings_.reset(fluid->newSettings());
    fluid_settings_t* settings = synth->settings_.get();
    if (settings == nullptr) {
      return MMSYSERR_NOMEM;
    }
    fluid->setNum(settings, "synth.sample-rate", rate);
    fluid->setInt(settings, "synth.polyphony", kPolyphony);
    // Samples are read when a program first needs them: a large SoundFont opens at once and
    // holds only the instruments the song plays.
    fluid->setInt(settings, "synth.dynamic-sample-loading", 1);
    fluid->setInt(settings, "synth.lock-memory", 0);
    fluid->setStr(settings, "audio.driver", "pulseaudio");
    fluid->setInt(settings, "audio.period-size", kPeriodSize);
    fluid->setInt(settings, "audio.periods", kPeriods);
    synth->synth_.reset(fluid->newSynth(settings));
    if (synth->synth_ == nullptr) {
      return MMSYSERR_NOMEM;
    }
    if (!IsSoundFont(path)) {
      return MIDIERR_BADSOUNDFONT;
    }
    synth->audio_.reset(fluid->newAudioDriver(settings, &SynthDevice::Render, synth.get()));
    if (synth->audio_ == nullptr) {
      return MMSYSERR_NODRIVER;
    }
    // Reading the largest SoundFont's directory takes half a second: it is read on a thread
    // of its own, which then plays what was sent meanwhile and tells the owner.
    synth->loading_ = true;
    synth->loader_ =
        std::thread([device = synth.get(), file = path.toLocal8Bit(), ready = std::move(ready)] {
          device->Load(file);
          ready();
        });
    synth->idle_.start();
    device = std::move(synth);
    return MMSYSERR_NOERROR;
  }

  ~SynthDevice() override {
    if (loader_.joinable()) {
      loader_.join();
    }
  }

  explicit SynthDevice(const FluidApi& fluid) : fluid_(fluid) {
    idle_.setSingleShot(true);
    idle_.setInterval(kIdleStop);
    QObject::connect(&idle_, &QTimer::timeout, [this] { Rest(); });
  }

  MMRESULT Short(std::uint32_t message) override {
    std::uint8_t status = message & 0xFF;
    int data1 = static_cast<int>((message >> 8) & 0x7F);
    int data2 = static_cast<int>((message >> 16) & 0x7F);
    if (status < 0x80) {
      // Running status: the message starts with its first data byte.
      if (runningStatus_ == 0) {
        return MMSYSERR_NOERROR;
      }
      data2 = data1;
      data1 = status;
      status = runningStatus_;
    } else if (status < 0xF0) {
      runningStatus_ = status;
    } else if (status < 0xF8) {
      runningStatus_ = 0;
    }
    const auto play = [this, status, data1, data2] { Play(status, data1, data2); };
    if (!Later(play)) {
      Wake();
      play();
    }
    return MMSYSERR_NOERROR;
  }

  MMRESULT Sysex(const std::uint8_t* data, std::uint32_t length) override {
    // The synthesizer takes the bytes between F0 and F7.
    const auto play = [this,
                       bytes = std::string(reinterpret_cast<const char*>(data + 1), length - 2)] {
      fluid_.sysex(synth_.get(), bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                   nullptr, 0);
    };
    if (!Later(play)) {
      Wake();
      play();
    }
    return MMSYSERR_NOERROR;
  }

 private:
  // On the audio driver's thread: a period of the synthesizer's sound. Rendered while the
  // SoundFont is read, on a busy machine the sound came out as full-scale noise for as
  // long as the reading took: it is silence until the SoundFont is read. Should a period
  // still come out damaged, it is silenced and the synthesizer reset, so no noise reaches
  // the singer's ears.
  static int Render(void* data, int frames, int nfx, float* fx[], int nout, float* out[]) {
    auto* self = static_cast<SynthDevice*>(data);
    if (!self->rendering_.load(std::memory_order_acquire)) {
      return FLUID_OK;  // the driver zeroed the buffers
    }
    // Without buffers of their own, the effects are mixed into the sound.
    float* mixed[4] = {out[0], out[1 % nout], out[0], out[1 % nout]};
    const int result = nfx == 0
                           ? self->fluid_.process(self->synth_.get(), frames, 4, mixed, nout, out)
                           : self->fluid_.process(self->synth_.get(), frames, nfx, fx, nout, out);
    for (int c = 0; c < nout; ++c) {
      float* const channel = out[c];
      // Far beyond what any number of voices sums to; false for a NaN too.
      if (std::all_of(channel, channel + frames, [](float v) { return std::fabs(v) < 16.0f; })) {
        continue;
      }
      for (int k = 0; k < nout; ++k) std::fill(out[k], out[k] + frames, 0.0f);
      self->fluid_.systemReset(self->synth_.get());
      break;
    }
    return result;
  }

  // On the loader's thread: reads the SoundFont, then plays what the owner sent meanwhile,
  // in order, until nothing waits.
  void Load(const QByteArray& file) {
    if (fluid_.sfload(synth_.get(), file.constData(), 1) == FLUID_FAILED) {
      std::fprintf(stderr, "The General MIDI SoundFont %s cannot be read.\n", file.constData());
    }
    rendering_.store(true, std::memory_order_release);
    for (;;) {
      std::function<void()> next;
      {
        const std::lock_guard<std::mutex> guard(lock_);
        if (waiting_.empty()) {
          loading_ = false;
          return;
        }
        next = std::move(waiting_.front());
        waiting_.pop_front();
      }
      next();
    }
  }

  // While the SoundFont is read, a message waits for the loader instead of the owner: a song
  // can choose its instruments meanwhile (their samples are read then too) without the
  // window standing still. False once the loader is done.
  bool Later(std::function<void()> play) {
    const std::lock_guard<std::mutex> guard(lock_);
    if (!loading_) {
      return false;
    }
    waiting_.push_back(std::move(play));
    idle_.start();
    return true;
  }

  bool Loading() {
    const std::lock_guard<std::mutex> guard(lock_);
    return loading_;
  }

  void Play(std::uint8_t status, int data1, int data2) {
    fluid_synth_t* synth = synth_.get();
    const int channel = status & 0x0F;
    // The synthesizer's own refusals (a program the SoundFont lacks) are not failures of the
    // device: the message was delivered.
    switch (status & 0xF0) {
      case 0x80:
        fluid_.noteOff(synth, channel, data1);
        break;
      case 0x90:
        if (data2 == 0) {
          fluid_.noteOff(synth, channel, data1);
        } else {
          fluid_.noteOn(synth, channel, data1, data2);
        }
        break;
      case 0xA0:
        fluid_.keyPressure(synth, channel, data1, data2);
        break;
      case 0xB0:
        fluid_.cc(synth, channel, data1, data2);
        break;
      case 0xC0:
        fluid_.programChange(synth, channel, data1);
        break;
      case 0xD0:
        fluid_.channelPressure(synth, channel, data1);
        break;
      case 0xE0:
        fluid_.pitchBend(synth, channel, data1 | (data2 << 7));
        break;
      default:
        if (status == 0xFF) {
          fluid_.systemReset(synth);
        }
        break;
    }
  }

  // Rendering silence costs about a tenth of a core, and the program keeps the device open
  // from start to end: the sound stream is closed once nothing was sent for kIdleStop and
  // no voice sounds, and the next message opens it again. A server that is gone by then
  // leaves the synthesizer silent, as losing it while playing does, and is asked again
  // kWakeRetry later rather than at every message.
  void Wake() {
    if (loader_.joinable()) {
      loader_.join();
    }
    idle_.start();
    if (audio_ != nullptr || Clock::now() < nextWake_) {
      return;
    }
    std::uint32_t rate = 0;
    if (ProbeServer(rate) == MMSYSERR_NOERROR) {
      audio_.reset(fluid_.newAudioDriver(settings_.get(), &SynthDevice::Render, this));
    }
    if (audio_ == nullptr) {
      nextWake_ = Clock::now() + kWakeRetry;
    }
  }

  void Rest() {
    // The loader may still play what waits for it, or read a program's samples.
    if (Loading() || fluid_.activeVoices(synth_.get()) > 0) {
      idle_.start();
      return;
    }
    audio_.reset();
  }

  const FluidApi& fluid_;
  QTimer idle_;
  Clock::time_point nextWake_;
  std::mutex lock_;  // guards loading_ and waiting_, shared with the loader
  bool loading_ = false;
  std::deque<std::function<void()>> waiting_;
  std::atomic<bool> rendering_{false};  // set once the SoundFont is read
  std::thread loader_;                  // reads the SoundFont; joined before the synthesizer goes
  // Torn down in reverse: the audio driver stops pulling from the synthesizer first.
  std::unique_ptr<fluid_settings_t, decltype(FluidApi::deleteSettings)> settings_{
      nullptr, fluid_.deleteSettings};
  std::unique_ptr<fluid_synth_t, decltype(FluidApi::deleteSynth)> synth_{nullptr,
                                                                         fluid_.deleteSynth};
  std::unique_ptr<fluid_audio_driver_t, decltype(FluidApi::deleteAudioDriver)> audio_{
      nullptr, fluid_.deleteAudioDriver};
  std::uint8_t runningStatus_ = 0;
};

// A writable port of the ALSA sequencer.
struct SeqPort {
  int client = 0;
  int port = 0;
  QString name;
};

// The sequencer's writable ports of other programs; none when the machine has no sequencer.
std::vector<SeqPort> SeqPorts() {
  std::vector<SeqPort> ports;
  if (access("/dev/snd/seq", R_OK | W_OK) != 0) {
    return ports;
  }
  snd_seq_t* seq = nullptr;
  if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK) < 0) {
    return ports;
  }
  snd_seq_client_info_t* client = nullptr;
  snd_seq_port_info_t* port = nullptr;
  if (snd_seq_client_info_malloc(&client) == 0 && snd_seq_port_info_malloc(&port) == 0) {
    const int self = snd_seq_client_id(seq);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq, client) >= 0) {
      const int id = snd_seq_client_info_get_client(client);
      if (id == SND_SEQ_CLIENT_SYSTEM || id == self ||
          snd_seq_client_info_get_pid(client) == getpid()) {
        continue;
      }
      snd_seq_port_info_set_client(port, id);
      snd_seq_port_info_set_port(port, -1);
      while (snd_seq_query_next_port(seq, port) >= 0) {
        const unsigned wanted = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
        const unsigned caps = snd_seq_port_info_get_capability(port);
        if ((caps & wanted) != wanted || (caps & SND_SEQ_PORT_CAP_NO_EXPORT) != 0) {
          continue;
        }
        ports.push_back({id, snd_seq_port_info_get_port(port),
                         QString::fromUtf8(snd_seq_port_info_get_name(port))});
      }
    }
  }
  snd_seq_port_info_free(port);
  snd_seq_client_info_free(client);
  snd_seq_close(seq);
  return ports;
}

class SeqDevice final : public Device {
 public:
  ~SeqDevice() override {
    if (encoder_ != nullptr) {
      snd_midi_event_free(encoder_);
    }
    if (seq_ != nullptr) {
      snd_seq_close(seq_);
    }
  }

  static MMRESULT Open(const SeqPort& target, std::unique_ptr<Device>& device) {
    auto out = std::make_unique<SeqDevice>();
    int error = snd_seq_open(&out->seq_, "default", SND_SEQ_OPEN_OUTPUT, 0);
    if (error < 0) {
      out->seq_ = nullptr;
      return SequencerError(error);
    }
    snd_seq_set_client_name(out->seq_, "Sonarelle");
    out->port_ = snd_seq_create_simple_port(
        out->seq_, "MIDI out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (out->port_ < 0) {
      return SequencerError(out->port_);
    }
    error = snd_seq_connect_to(out->seq_, out->port_, target.client, target.port);
    if (error < 0) {
      return SequencerError(error);
    }
    error = snd_midi_event_new(8, &out->encoder_);
    if (error < 0) {
      out->encoder_ = nullptr;
      return SequencerError(error);
    }
    device = std::move(out);
    return MMSYSERR_NOERROR;
  }

  MMRESULT Short(std::uint32_t message) override {
    const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(message & 0xFF),
                                   static_cast<std::uint8_t>((message >> 8) & 0xFF),
                                   static_cast<std::uint8_t>((message >> 16) & 0xFF)};
    long length = 0;
    if (bytes[0] < 0x80) {
      // Running status: the data bytes of the last channel message's kind.
      if (runningStatus_ == 0) {
        return MMSYSERR_NOERROR;
      }
      length = Length(runningStatus_) - 1;
    } else {
      length = Length(bytes[0]);
      if (bytes[0] < 0xF0) {
        runningStatus_ = bytes[0];
      } else if (bytes[0] < 0xF8) {
        runningStatus_ = 0;
      }
    }
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    const long used = snd_midi_event_encode(encoder_, bytes, length, &event);
    if (used < 0) {
      return SequencerError(static_cast<int>(used));
    }
    if (event.type == SND_SEQ_EVENT_NONE) {
      return MMSYSERR_NOERROR;  // not a complete message
    }
    return Send(event);
  }

  MMRESULT Sysex(const std::uint8_t* data, std::uint32_t length) override {
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    // The sequencer only reads the bytes.
    snd_seq_ev_set_sysex(&event, length, const_cast<std::uint8_t*>(data));
    return Send(event);
  }

 private:
  // Bytes of a short message with this status.
  static long Length(std::uint8_t status) {
    if (status < 0xF0) {
      return (status & 0xE0) == 0xC0 ? 2 : 3;
    }
    switch (status) {
      case 0xF1:
      case 0xF3:
        return 2;
      case 0xF2:
        return 3;
      default:
        return 1;
    }
  }

  MMRESULT Send(snd_seq_event_t& event) {
    snd_seq_ev_set_source(&event, port_);
    snd_seq_ev_set_subs(&event);
    snd_seq_ev_set_direct(&event);
    const int error = snd_seq_event_output_direct(seq_, &event);
    return error < 0 ? SequencerError(error) : MMSYSERR_NOERROR;
  }

  snd_seq_t* seq_ = nullptr;
  int port_ = -1;
  snd_midi_event_t* encoder_ = nullptr;
  std::uint8_t runningStatus_ = 0;
};

// Delivers the completions of one open device, in order, on a thread of its own.
class Notifier {
 public:
  Notifier(MidiOutNotify notify, MidiOutHandle handle)
      : notify_(std::move(notify)), handle_(handle), thread_([this] { Run(); }) {}
  // Delivers what is still queued, then ends the thread.
  ~Notifier() {
    {
      const std::lock_guard<std::mutex> guard(lock_);
      stop_ = true;
    }
    changed_.notify_one();
    thread_.join();
  }
  Notifier(const Notifier&) = delete;
  Notifier& operator=(const Notifier&) = delete;

  void Post(unsigned msg, MidiOutHeader* header) {
    {
      const std::lock_guard<std::mutex> guard(lock_);
      queue_.emplace_back(msg, header);
    }
    changed_.notify_one();
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
      changed_.wait(guard, [this] { return stop_ || !queue_.empty(); });
      while (!queue_.empty()) {
        const auto [msg, header] = queue_.front();
        queue_.pop_front();
        guard.unlock();
        notify_(msg, handle_, header);
        guard.lock();
      }
      if (stop_) {
        return;
      }
    }
  }

  const MidiOutNotify notify_;
  const MidiOutHandle handle_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::pair<unsigned, MidiOutHeader*>> queue_;
  bool stop_ = false;
  std::thread thread_;  // last: starts once everything above is in place
};

struct OpenedDevice {
  std::unique_ptr<Notifier> notifier;
  // Destroyed before the notifier: the synthesizer's loader may still post through it.
  std::unique_ptr<Device> device;
  bool synth = false;
};

class SystemMidiOut final : public MidiOutDriver {
 public:
  int GetNumDevs() override { return 1 + static_cast<int>(SeqPorts().size()); }

  MMRESULT GetDevCaps(int deviceId, MidiOutCaps& caps) override {
    caps = MidiOutCaps{};
    caps.channelMask = kAllChannels;
    if (deviceId == kMidiMapper || deviceId == 0) {
      caps.driverVersion =
          static_cast<std::uint32_t>((FLUIDSYNTH_VERSION_MAJOR << 8) | FLUIDSYNTH_VERSION_MINOR);
      if (deviceId == kMidiMapper) {
        caps.productName = QString::fromUtf8(kMapperName);
        caps.technology = MOD_MAPPER;
      } else {
        caps.productName = QString::fromUtf8(kSynthName);
        caps.technology = MOD_SWSYNTH;
        caps.voices = kPolyphony;
        caps.notes = kPolyphony;
      }
      return MMSYSERR_NOERROR;
    }
    const std::vector<SeqPort> ports = SeqPorts();
    if (deviceId < 1 || deviceId > static_cast<int>(ports.size())) {
      return MMSYSERR_BADDEVICEID;
    }
    caps.productName = ports[static_cast<std::size_t>(deviceId - 1)].name;
    caps.driverVersion = static_cast<std::uint32_t>(SND_LIB_VERSION >> 8);
    caps.technology = MOD_MIDIPORT;
    return MMSYSERR_NOERROR;
  }

  QString GetErrorText(MMRESULT code) override {
    if (const char* common = CommonResultText(code)) {
      return QString::fromUtf8(common);
    }
    switch (code) {
      case MMSYSERR_BADDEVICEID:
        return QStringLiteral("The MIDI output device does not exist (any more).");
      case MMSYSERR_ALLOCATED:
        return QStringLiteral("The MIDI output device is already in use.");
      case MMSYSERR_NODRIVER:
        return QStringLiteral("The synthesizer cannot play on the sound server.");
      case MIDIERR_UNPREPARED:
        return QStringLiteral("The buffer was not prepared.");
      case MIDIERR_STILLPLAYING:
        return QStringLiteral("The buffer is still being sent.");
      case MIDIERR_NODEVICE:
        return QStringLiteral("The MIDI port is gone.");
      case MIDIERR_NOSOUNDFONT:
        return QStringLiteral(
            "No General MIDI SoundFont was found (install fluid-soundfont-gm or set "
            "SONARELLE_SOUNDFONT).");
      case MIDIERR_BADSOUNDFONT:
        return QStringLiteral("The General MIDI SoundFont cannot be read.");
      case MIDIERR_NOSYNTHESIZER:
        return QStringLiteral("The synthesizer's library, FluidSynth, is not installed.");
      default:
        break;
    }
    if (code >= kMidiOutSequencerErrorBase) {
      return QStringLiteral("ALSA sequencer: %1.")
          .arg(QString::fromUtf8(
              snd_strerror(-static_cast<int>(code - kMidiOutSequencerErrorBase))));
    }
    if (code >= kMidiOutServerErrorBase) {
      return ServerErrorText(static_cast<int>(code - kMidiOutServerErrorBase));
    }
    return {};
  }

  MMRESULT Open(MidiOutHandle* handle, int deviceId, const MidiOutNotify& notify) override {
    if (handle == nullptr || !notify) {
      return MMSYSERR_INVALPARAM;
    }
    const std::lock_guard<std::mutex> guard(lock_);
    const bool synth = deviceId == kMidiMapper || deviceId == 0;
    // One synthesizer for the process: a second one would load the SoundFont again.
    if (synth && synthOpen_) {
      return MMSYSERR_ALLOCATED;
    }
    std::vector<SeqPort> ports;
    if (!synth) {
      ports = SeqPorts();
      if (deviceId < 1 || deviceId > static_cast<int>(ports.size())) {
        return MMSYSERR_BADDEVICEID;
      }
    }
    const MidiOutHandle made = nextHandle_++;
    OpenedDevice opened;
    // Before the device: the synthesizer tells through it when its SoundFont is read.
    opened.notifier = std::make_unique<Notifier>(notify, made);
    Notifier* notifier = opened.notifier.get();
    MMRESULT result = MMSYSERR_NOERROR;
    if (synth) {
      result =
          SynthDevice::Open(opened.device, [notifier] { notifier->Post(MM_MOM_OPEN, nullptr); });
      opened.synth = true;
    } else {
      result = SeqDevice::Open(ports[static_cast<std::size_t>(deviceId - 1)], opened.device);
      if (result == MMSYSERR_NOERROR) {
        notifier->Post(MM_MOM_OPEN, nullptr);
      }
    }
    if (result != MMSYSERR_NOERROR) {
      return result;
    }
    synthOpen_ = synthOpen_ || opened.synth;
    devices_[made] = std::move(opened);
    *handle = made;
    return MMSYSERR_NOERROR;
  }

  MMRESULT Close(MidiOutHandle handle) override {
    OpenedDevice closing;
    {
      const std::lock_guard<std::mutex> guard(lock_);
      auto found = devices_.find(handle);
      if (found == devices_.end()) {
        return MMSYSERR_INVALHANDLE;
      }
      closing = std::move(found->second);
      devices_.erase(found);
    }
    // The device stops first (the synthesizer's loader may still tell through the notifier),
    // then the notifier delivers the last notifications and joins its thread.
    closing.device.reset();
    closing.notifier.reset();
    if (closing.synth) {
      const std::lock_guard<std::mutex> guard(lock_);
      synthOpen_ = false;
    }
    return MMSYSERR_NOERROR;
  }

  MMRESULT ShortMsg(MidiOutHandle handle, std::uint32_t message) override {
    const std::lock_guard<std::mutex> guard(lock_);
    OpenedDevice* opened = Find(handle);
    return opened != nullptr ? opened->device->Short(message) : MMSYSERR_INVALHANDLE;
  }

  MMRESULT PrepareHeader(MidiOutHandle handle, MidiOutHeader* header) override {
    const std::lock_guard<std::mutex> guard(lock_);
    if (Find(handle) == nullptr) {
      return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr || header->data == nullptr || header->bufferLength == 0) {
      return MMSYSERR_INVALPARAM;
    }
    header->flags = (header->flags & ~kMidiHdrDone) | kMidiHdrPrepared;
    return MMSYSERR_NOERROR;
  }

  MMRESULT UnprepareHeader(MidiOutHandle handle, MidiOutHeader* header) override {
    const std::lock_guard<std::mutex> guard(lock_);
    if (Find(handle) == nullptr) {
      return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr) {
      return MMSYSERR_INVALPARAM;
    }
    if ((header->flags & kMidiHdrInQueue) != 0) {
      return MIDIERR_STILLPLAYING;
    }
    header->flags &= ~kMidiHdrPrepared;
    return MMSYSERR_NOERROR;
  }

  MMRESULT LongMsg(MidiOutHandle handle, MidiOutHeader* header) override {
    const std::lock_guard<std::mutex> guard(lock_);
    OpenedDevice* opened = Find(handle);
    if (opened == nullptr) {
      return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr) {
      return MMSYSERR_INVALPARAM;
    }
    if ((header->flags & kMidiHdrPrepared) == 0) {
      return MIDIERR_UNPREPARED;
    }
    if ((header->flags & kMidiHdrInQueue) != 0) {
      return MIDIERR_STILLPLAYING;
    }
    MMRESULT result = MMSYSERR_NOERROR;
    const bool wellFormed = ForEachSysex(header->data, header->bufferLength,
                                         [&](const std::uint8_t* message, std::uint32_t size) {
                                           result = opened->device->Sysex(message, size);
                                           return result == MMSYSERR_NOERROR;
                                         });
    if (!wellFormed) {
      return MMSYSERR_INVALPARAM;
    }
    if (result != MMSYSERR_NOERROR) {
      return result;
    }
    // The bytes are sent by now; the completion still travels through the notifier so the
    // owner never hears of it inside its own send.
    header->flags |= kMidiHdrDone;
    opened->notifier->Post(MM_MOM_DONE, header);
    return MMSYSERR_NOERROR;
  }

 private:
  OpenedDevice* Find(MidiOutHandle handle) {
    auto found = devices_.find(handle);
    return found != devices_.end() ? &found->second : nullptr;
  }

  std::mutex lock_;
  std::map<MidiOutHandle, OpenedDevice> devices_;
  MidiOutHandle nextHandle_ = 1;
  bool synthOpen_ = false;
};

}  // namespace

MidiOutDriver& SystemMidiOutDriver() {
  static SystemMidiOut driver;
  return driver;
}

}  // namespace sonarelle
