// Recording with the "Voice and accompaniment" source on a rig of its own: where the voice
// lands against what was heard, and whether the accompaniment in the take stays whole
// under load.
//
//   bench_take_mix [CLICKS] [SECONDS]   (default 50 clicks, a take of 15 s under load; 0
//                                        leaves that part out)
//
// The rig's speakers are looped back into a microphone 80 ms late (module-loopback with a
// fixed latency): a singer exactly 80 ms behind the beat. The benchmark plays a click every
// 400 ms on the left channel from a playback stream of its own, records 44100 Hz 16-bit
// stereo with the source, and compares each click of the take's right channel (the voice
// alone) with the click heard before it on the left. Prints the alignment error, median
// and worst, and the CPU share of the recording (the click player's own time left out).
//
// Then, with every core kept busy as in bench_wavein, the program's media player plays a
// steady 220 Hz MP3 to the rig's speakers while a take of the rig's 440 Hz microphone and
// that accompaniment is recorded, and the speakers' monitor is recorded beside it. Prints
// the tenth-second windows in which each tone's level or phase breaks: the accompaniment in
// the take (target 0), the voice in the take, and the speakers' monitor.
#include <pulse/simple.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include "BenchRig.h"
#include "CpuTime.h"
#include "MediaFixtures.h"
#include "MonitorRecorder.h"
#include "audio/recorder/MMWaveRecorder.h"
#include "media/MediaPlayer.h"
#include "platform/TakeMixChoice.h"
#include "support/BusyCores.h"
#include "support/ClickOnsets.h"
#include "support/ToneWindows.h"

using namespace sonarelle;

namespace {

constexpr int kRate = 44100;
constexpr int kLoopMs = 80;
constexpr int kClickEvery = kRate * 2 / 5;
constexpr double kToneHz = 220;   // the accompaniment under load
constexpr double kVoiceHz = 440;  // the rig's microphone

QString Pactl(const QString& server, const QStringList& arguments) {
  QProcess pactl;
  pactl.start(QStringLiteral("pactl"), QStringList{QStringLiteral("-s"), server} + arguments);
  pactl.waitForFinished(10000);
  return QString::fromUtf8(pactl.readAllStandardOutput()).trimmed();
}

// Plays clicks on the left channel until told to stop; keeps its own CPU time.
class ClickPlayer {
 public:
  ClickPlayer() : thread_([this] { Run(); }) {}
  ~ClickPlayer() {
    stop_ = true;
    thread_.join();
  }
  ClickPlayer(const ClickPlayer&) = delete;
  ClickPlayer& operator=(const ClickPlayer&) = delete;
  double CpuSeconds() const { return cpu_.load(); }

 private:
  void Run() {
    const pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, kRate, 2};
    pa_buffer_attr attr{};
    attr.maxlength = std::uint32_t(-1);
    attr.tlength = std::uint32_t(pa_usec_to_bytes(40000, &sampleFormat));
    attr.prebuf = std::uint32_t(-1);
    attr.minreq = std::uint32_t(-1);
    pa_simple* out = pa_simple_new(nullptr, "bench_take_mix", PA_STREAM_PLAYBACK, nullptr, "Clicks",
                                   &sampleFormat, nullptr, &attr, nullptr);
    if (out == nullptr) return;
    std::vector<std::int16_t> block(2 * std::size_t(kClickEvery), 0);
    for (int i = 0; i < 80; ++i) block[2 * std::size_t(i)] = i < 40 ? 26000 : -26000;
    while (!stop_) {
      pa_simple_write(out, block.data(), block.size() * sizeof(std::int16_t), nullptr);
      cpu_ = ::CpuSeconds(RUSAGE_THREAD);
    }
    pa_simple_free(out);
  }

  std::atomic<bool> stop_{false};
  std::atomic<double> cpu_{0.0};
  std::thread thread_;
};

// The data chunk of a 16-bit stereo WAVE file, one channel, scaled to -1 .. 1.
std::vector<double> Channel(const QByteArray& bytes, int channel) {
  std::vector<double> out;
  const qsizetype at = bytes.indexOf("data");
  if (at < 0 || at + 8 > bytes.size()) return out;
  const auto* size = reinterpret_cast<const unsigned char*>(bytes.constData() + at + 4);
  const qsizetype end = std::min<qsizetype>(
      bytes.size(),
      at + 8 +
          qsizetype(size[0] | (size[1] << 8) | (size[2] << 16) | (std::uint32_t(size[3]) << 24)));
  for (qsizetype i = at + 8 + 2 * channel; i + 1 < end; i += 4) {
    out.push_back(std::int16_t(std::uint8_t(bytes[i]) | (std::uint8_t(bytes[i + 1]) << 8)) /
                  32768.0);
  }
  return out;
}

void Wait(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Opens `recorder` for a take of 44100 Hz 16-bit stereo into `file` from the default
// device, which records "Voice and accompaniment" here.
void OpenTake(TMMWaveRecorder& recorder, const QString& file) {
  recorder.SetSampleRate(kRate);
  recorder.SetBitLength(b16Bit);
  recorder.SetMode(mStereo);
  recorder.SetDeviceID(-1);
  recorder.SetFileName(file);
  recorder.Open();
}

// The alignment of the voice against the clicks heard, on an idle machine.
bool ClickCase(const BenchRig& rig, int clicks) {
  const QString server = rig.Server();
  // Sinks without rewinds: a loop reading a monitor that rewinds holds the sink's rewind
  // window on top of its latency.
  const QStringList modules{
      Pactl(server, {"load-module", "module-null-sink", "sink_name=loopspeakers", "norewinds=1"}),
      Pactl(server, {"load-module", "module-null-sink", "sink_name=loopmic", "norewinds=1"}),
      Pactl(server,
            {"load-module", "module-loopback", "source=loopspeakers.monitor", "sink=loopmic",
             QStringLiteral("latency_msec=%1").arg(kLoopMs), "adjust_time=0"})};
  Pactl(server, {"set-default-sink", "loopspeakers"});
  Pactl(server, {"set-default-source", "loopmic.monitor"});

  const QString take = rig.FilePath(QStringLiteral("take.wav"));
  double elapsed = 0;
  double cpu = 0;
  {
    ClickPlayer player;
    Wait(1500);  // the speakers settle at their short latency once something plays
    TMMWaveRecorder recorder;
    OpenTake(recorder, take);
    const double cpuBefore = CpuSeconds() - player.CpuSeconds();
    QElapsedTimer clock;
    clock.start();
    recorder.StartRecording();
    Wait((clicks + 1) * 400 + 200);
    elapsed = double(clock.elapsed()) / 1000.0;
    cpu = CpuSeconds() - player.CpuSeconds() - cpuBefore;
    recorder.StopRecording();
    recorder.Close();
  }
  for (auto it = modules.rbegin(); it != modules.rend(); ++it) {
    Pactl(server, {"unload-module", *it});
  }
  Pactl(server, {"set-default-sink", "speakers"});
  Pactl(server, {"set-default-source", "mic"});

  std::printf("CPU share of the program while recording: %.2f %% of one core\n",
              100.0 * cpu / elapsed);

  QFile file(take);
  if (!file.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "no take\n");
    return false;
  }
  const QByteArray bytes = file.readAll();
  std::vector<double> errors = ClickDelaysMs(Channel(bytes, 0), Channel(bytes, 1), kRate);
  for (double& error : errors) error -= kLoopMs;
  if (errors.empty()) {
    std::fprintf(stderr, "no click pairs in the take\n");
    return false;
  }
  std::vector<double> sizes(errors.size());
  std::transform(errors.begin(), errors.end(), sizes.begin(), [](double e) { return std::abs(e); });
  std::sort(sizes.begin(), sizes.end());
  double mean = 0;
  for (double e : errors) mean += e / double(errors.size());
  std::printf("take: %.1f s, %zu clicks paired with their looped-back copy (%d played)\n", elapsed,
              errors.size(), clicks);
  std::printf(
      "alignment error against the loop's %d ms: median %.2f ms, worst %.2f ms, "
      "mean %+.2f ms\n",
      kLoopMs, sizes[sizes.size() / 2], sizes.back(), mean);
  return true;
}

// Prints one line of tone windows and the first few broken ones.
void PrintWindows(const char* what, const tone_windows::Count& count) {
  std::printf("%s: %d of %d tenth-second windows broken", what, count.broken, count.windows);
  for (std::size_t i = 0; i < std::min<std::size_t>(count.at.size(), 6); ++i) {
    std::printf("%s%.1f s", i == 0 ? " (at " : ", ", count.at[i]);
  }
  std::printf("%s\n", count.at.empty() ? "" : count.at.size() > 6 ? " ...)" : ")");
}

// A steady tone played by the program's media player and taken with the microphone while
// every core is busy; whether each tone in the take runs on unbroken.
bool LoadCase(const BenchRig& rig, int seconds) {
  const QString song = rig.FilePath(QStringLiteral("tone.mp3"));
  const std::string made = media_fixtures::WriteToneMp3(song, kToneHz, seconds + 10.0);
  if (!made.empty()) {
    std::fprintf(stderr, "cannot make the MP3: %s\n", made.c_str());
    return false;
  }
  const QString take = rig.FilePath(QStringLiteral("loaded.wav"));
  monitor_recorder::Recording speakers;
  std::string heard;
  double load = 0;
  int cores = 0;
  {
    BusyCores busy;
    cores = busy.Count();
    TMediaPlayer player;
    player.SetFileName(song);
    player.Open();
    player.Play();
    Wait(1500);
    TMMWaveRecorder recorder;
    // The program's own buffer set.
    recorder.SetNumBuffers(20);
    recorder.SetBufferSize(4096);
    OpenTake(recorder, take);
    recorder.StartRecording();
    // What the speakers play meanwhile: a record stream, which the take mix never follows.
    std::thread monitor([&] {
      heard = monitor_recorder::Record("speakers.monitor", std::size_t(seconds) * kRate,
                                       std::chrono::seconds(seconds + 10), &speakers);
    });
    Wait(seconds * 1000);
    recorder.StopRecording();
    recorder.Close();
    monitor.join();
    player.Stop();
    player.Close();
    QFile loadavg(QStringLiteral("/proc/loadavg"));
    if (loadavg.open(QIODevice::ReadOnly)) load = loadavg.readLine().split(' ').value(0).toDouble();
  }
  QFile file(take);
  if (!file.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "no take under load\n");
    return false;
  }
  const QByteArray bytes = file.readAll();
  const std::vector<double> left = Channel(bytes, 0);
  std::printf(
      "steady %.0f Hz MP3 under load (%d busy cores, 1-minute load average %.1f), take of "
      "%.1f s:\n",
      kToneHz, cores, load, double(left.size()) / kRate);
  PrintWindows("  accompaniment in the take (target 0)",
               tone_windows::Broken(left, kToneHz, kRate));
  PrintWindows("  voice in the take", tone_windows::Broken(left, kVoiceHz, kRate));
  if (heard.empty()) {
    PrintWindows("  speakers' monitor", tone_windows::Broken(speakers.left, kToneHz, kRate));
  } else {
    std::printf("  speakers' monitor: %s\n", heard.c_str());
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  // 0 leaves a case out.
  const int clicks = argc > 1 ? QString::fromUtf8(argv[1]).toInt() : 50;
  const int seconds = argc > 2 ? std::max(0, QString::fromUtf8(argv[2]).toInt()) : 15;
  BenchRig rig;
  if (!rig.Started()) {
    std::fprintf(stderr, "the sound rig did not start\n");
    return 1;
  }
  qputenv("PULSE_SERVER", rig.Server().toUtf8());
  take_mix::SetChosen(true);
  const bool aligned = clicks <= 0 || ClickCase(rig, std::max(5, clicks));
  const bool loaded = seconds == 0 || LoadCase(rig, seconds);
  return aligned && loaded ? 0 : 1;
}
