// What the built-in synthesizer costs and how promptly it plays, per SoundFont:
//   - time to open the device (the SoundFont is read beside it),
//   - resident memory the open adds, and after a first program change,
//   - time a first program change takes (it waits for the SoundFont, then reads the
//     program's samples),
//   - CPU share while open, silent (before the idle stream rests) and playing,
//   - time from a note-on to sound on the rig's speakers, as a low-latency client of the
//     speakers' monitor hears it (median and worst of several notes, the first one sent
//     right after the open).
// Starts its own sound rig. Prints figures only; never fails on them.
//   bench_midi_out [SOUNDFONT...]   (default: TimGM6mb, FluidR3_GM, MuseScore_General_Full)
#include <pulse/pulseaudio.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QFileInfo>

#include "BenchRig.h"
#include "CpuTime.h"
#include "midi/MidiOutput.h"

namespace {

using Clock = std::chrono::steady_clock;
using sonarelle::TMidiOutput;

constexpr int kNotes = 10;
constexpr double kThreshold = 0.001;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Resident memory of this process in MiB.
double RssMiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      double kib = 0;
      status >> kib;
      return kib / 1024.0;
    }
    status.ignore(4096, '\n');
  }
  return -1;
}

// Listens to the speakers' monitor in fragments of about a millisecond and notes when the
// first sound arrives after Arm().
class Listener {
 public:
  Listener() : loop_(pa_threaded_mainloop_new()) { pa_threaded_mainloop_start(loop_); }
  ~Listener() {
    pa_threaded_mainloop_lock(loop_);
    if (stream_ != nullptr) {
      pa_stream_disconnect(stream_);
      pa_stream_unref(stream_);
    }
    if (context_ != nullptr) {
      pa_context_disconnect(context_);
      pa_context_unref(context_);
    }
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  bool Start() {
    pa_threaded_mainloop_lock(loop_);
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "bench listener");
    bool ok = pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
              WaitLocked([this] {
                return pa_context_get_state(context_) == PA_CONTEXT_READY ||
                       !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
              }) &&
              pa_context_get_state(context_) == PA_CONTEXT_READY;
    if (ok) {
      const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, 44100, 1};
      stream_ = pa_stream_new(context_, "monitor", &format, nullptr);
      pa_stream_set_read_callback(stream_, &Listener::OnRead, this);
      pa_buffer_attr attr{};
      attr.maxlength = static_cast<std::uint32_t>(-1);
      attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(1000, &format));
      ok = pa_stream_connect_record(stream_, "speakers.monitor", &attr, PA_STREAM_ADJUST_LATENCY) >=
               0 &&
           WaitLocked([this] { return pa_stream_get_state(stream_) != PA_STREAM_CREATING; }) &&
           pa_stream_get_state(stream_) == PA_STREAM_READY;
    }
    pa_threaded_mainloop_unlock(loop_);
    return ok;
  }

  void Arm() {
    heard_ = false;
    loudest_ = 0.0F;
  }
  bool Heard() const { return heard_.load(); }
  Clock::time_point HeardAt() const { return heardAt_; }
  float Loudest() const { return loudest_.load(); }

 private:
  template <class Done>
  bool WaitLocked(Done done) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!done()) {
      if (Clock::now() > deadline) return false;
      pa_threaded_mainloop_unlock(loop_);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      pa_threaded_mainloop_lock(loop_);
    }
    return true;
  }

  static void OnRead(pa_stream* stream, std::size_t, void* user) {
    auto* self = static_cast<Listener*>(user);
    const void* data = nullptr;
    std::size_t bytes = 0;
    while (pa_stream_peek(stream, &data, &bytes) == 0 && bytes > 0) {
      if (data != nullptr) {
        const auto* samples = static_cast<const float*>(data);
        float loudest = self->loudest_.load();
        for (std::size_t i = 0; i < bytes / sizeof(float); ++i) {
          loudest = std::max(loudest, std::fabs(samples[i]));
        }
        self->loudest_ = loudest;
        if (!self->heard_ && loudest > kThreshold) {
          self->heardAt_ = Clock::now();
          self->heard_ = true;
        }
      }
      pa_stream_drop(stream);
    }
  }

  pa_threaded_mainloop* loop_;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  std::atomic<bool> heard_{true};
  std::atomic<float> loudest_{0.0F};
  Clock::time_point heardAt_;
};

// The share of one core this process uses over `ms` of wall time.
double CpuShare(int ms) {
  const double before = CpuSeconds();
  const auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  return (CpuSeconds() - before) / (Ms(Clock::now() - start) / 1000);
}

void Pump(int ms) {
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < until) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void Measure(const QString& font, Listener& listener) {
  qputenv("SONARELLE_SOUNDFONT", font.toLocal8Bit());
  const double rssBefore = RssMiB();
  TMidiOutput out;
  auto start = Clock::now();
  if (!out.OpenDevice()) {
    std::printf("%s: cannot open (%s)\n", qPrintable(QFileInfo(font).fileName()),
                qPrintable(sonarelle::SystemMidiOutDriver().GetErrorText(out.LastResult())));
    return;
  }
  const double openMs = Ms(Clock::now() - start);
  const double rssOpen = RssMiB();
  start = Clock::now();
  out.SendShort(0xC0, 74, 0);  // recorder: its samples are read now
  const double programMs = Ms(Clock::now() - start);
  const double rssProgram = RssMiB();

  std::vector<double> latencies;
  for (int note = 0; note < kNotes; ++note) {
    // The first note follows the open at once, as a song's first note may.
    if (note > 0) Pump(600);
    listener.Arm();
    start = Clock::now();
    out.SendShort(0x90, 69, 100);
    const auto until = start + std::chrono::seconds(2);
    while (!listener.Heard() && Clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (listener.Heard()) {
      latencies.push_back(Ms(listener.HeardAt() - start));
    }
    Pump(200);
    out.SendShort(0xB0, 0x7B, 0);
  }
  // What the open synthesizer costs while it plays nothing, and while it holds a chord.
  const double idle = CpuShare(2000);
  for (int key : {60, 64, 67, 72}) out.SendShort(0x90, static_cast<std::uint8_t>(key), 100);
  const double playing = CpuShare(2000);
  out.SendShort(0xB0, 0x7B, 0);
  out.CloseDevice();
  const double first = latencies.empty() ? -1 : latencies.front();
  std::sort(latencies.begin(), latencies.end());
  std::printf(
      "%-28s open %7.1f ms, +%6.1f MiB resident; first program change %7.1f ms, +%6.1f MiB\n",
      qPrintable(QFileInfo(font).fileName()), openMs, rssOpen - rssBefore, programMs,
      rssProgram - rssOpen);
  if (latencies.empty()) {
    std::printf("%-28s note-on to sound: nothing heard\n", "");
  } else {
    std::printf(
        "%-28s note-on to sound on the monitor %5.1f ms median, %5.1f ms worst of %zu; "
        "first note at the open %5.1f ms\n",
        "", latencies[latencies.size() / 2], latencies.back(), latencies.size(), first);
  }
  std::printf("%-28s CPU %4.1f %% of one core open and silent, %4.1f %% holding four notes\n", "",
              idle * 100, playing * 100);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QStringList fonts = app.arguments().mid(1);
  if (fonts.isEmpty()) {
    for (const char* name : {"TimGM6mb.sf2", "FluidR3_GM.sf2", "MuseScore_General_Full.sf2"}) {
      const QString path = QStringLiteral("/usr/share/sounds/sf2/") + QString::fromUtf8(name);
      if (QFileInfo(path).isFile()) fonts << path;
    }
  }
  BenchRig rig;
  if (!rig.Started()) {
    std::fprintf(stderr, "cannot start the sound rig\n");
    return 1;
  }
  qputenv("PULSE_SERVER", rig.Server().toLocal8Bit());
  Listener listener;
  if (!listener.Start()) {
    std::fprintf(stderr, "cannot listen to the speakers' monitor\n");
    return 1;
  }
  // A monitor stream hands its first audio late while the server settles its latency.
  Pump(3000);
  for (const QString& font : fonts) {
    Measure(font, listener);
  }
  return 0;
}
