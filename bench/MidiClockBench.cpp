// How well the KAR player keeps time on the built-in synthesizer:
//   - for every event, the moment it is handed to the output against its ideal time from
//     the tempo map: p50, p99 and the worst (target p99 <= 12 ms: one 10 ms tick plus jitter),
//   - the CPU share while playing: the user-interface thread, which runs the clock and sends
//     the messages (target < 5 % of a core), and the whole process with the synthesizer,
//   - Open to first note: reading the file and starting it, to the first note-on handed to
//     the synthesizer, which has been resting idle (target < 150 ms),
//   - the CPU share with the device open and no song playing.
//
//   bench_midi_clock [SECONDS]   (default 180)
//
// Plays a generated song of SECONDS with four tempo changes and 20 000 events on a sound rig
// of its own. The SoundFont is the program's (SONARELLE_SOUNDFONT or the largest installed).
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include "BenchRig.h"
#include "CpuTime.h"
#include "midi/MidiFile.h"
#include "midi/MidiOutput.h"
#include "midi/SmfWriter.h"

using namespace sonarelle;

namespace {

constexpr int kDivision = 480;
constexpr int kEvents = 20000;
constexpr int kTracks = 4;

double NowMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// Four tempo changes, evenly spread, and note pairs at random moments on four tracks.
std::string MakeSong(double seconds) {
  const std::uint32_t tempos[] = {500000, 400000, 600000, 450000, 350000};
  std::vector<TTempoChange> changes;
  smf::Track tempoTrack;
  std::int64_t tick = 0;
  std::int64_t lastTick = 0;
  for (int i = 0; i < 5; ++i) {
    changes.push_back({tick, tempos[i]});
    tempoTrack.Tempo(std::uint32_t(tick - lastTick), tempos[i]);
    lastTick = tick;
    tick += std::int64_t(seconds / 5 * 1e6 / (double(tempos[i]) / kDivision));
  }
  const TTempoMap map(changes, kDivision);

  std::mt19937 random(7);
  std::vector<std::vector<std::pair<std::int64_t, std::array<int, 3>>>> events(kTracks);
  std::uniform_real_distribution<double> when(0, seconds * 1000 - 500);
  for (int i = 0; i < kEvents / 2; ++i) {
    const int track = i % kTracks;
    const double start = i == 0 ? 0 : when(random);  // the song opens with a note
    const int key = 48 + int(random() % 36);
    const auto on = std::int64_t(map.TicksAt(start));
    const auto off = std::int64_t(map.TicksAt(start + 50 + double(random() % 400)));
    events[track].push_back({on, {0x90 | track, key, 90}});
    events[track].push_back({off, {0x80 | track, key, 0}});
  }
  std::vector<smf::Track> tracks{tempoTrack};
  for (auto& list : events) {
    std::stable_sort(list.begin(), list.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    smf::Track track;
    std::int64_t at = 0;
    for (const auto& [eventTick, message] : list) {
      track.Event(std::uint32_t(eventTick - at), {message[0], message[1], message[2]});
      at = eventTick;
    }
    tracks.push_back(track.End());
  }
  return smf::Song(1, kDivision, tracks);
}

double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[std::size_t(p * double(values.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const double seconds = argc > 1 ? std::max(10.0, std::atof(argv[1])) : 180;
  BenchRig rig;
  if (!rig.Started()) {
    std::printf("the sound rig did not start\n");
    return 1;
  }
  qputenv("PULSE_SERVER", rig.Server().toUtf8());
  const QString path = rig.FilePath(QStringLiteral("bench.kar"));
  smf::Write(path.toStdString(), MakeSong(seconds));

  TMidiOutput output;
  output.SetDeviceID(0);
  double opened = NowMs();
  if (!output.OpenDevice()) {
    std::printf("device 0 (%s) did not open\n", qPrintable(output.ProductName()));
    return 1;
  }
  std::printf("device 0: %s, opened in %.0f ms\n", qPrintable(output.ProductName()),
              NowMs() - opened);
  // The program opens the device at start and a song comes later: the synthesizer rests
  // first, so the song's first note wakes it.
  const auto pump = [](int ms) {
    QEventLoop wait;
    QTimer::singleShot(ms, &wait, &QEventLoop::quit);
    wait.exec();
  };
  pump(6000);
  const double idleCpu = CpuSeconds(RUSAGE_SELF);
  pump(3000);
  std::printf("CPU with the device open and no song: %.2f %% of a core\n",
              (CpuSeconds(RUSAGE_SELF) - idleCpu) / 3 * 100);

  TMidiFile midi;
  double start = 0;
  double firstNote = -1;
  double firstSent = -1;
  std::vector<double> late;
  late.reserve(kEvents + 16);
  midi.SetOnMidiEvent([&](PMidiEvent event) {
    const double now = NowMs();
    if (event->status == 0xFF) return;
    if (firstNote < 0 && (event->status & 0xF0) == 0x90) firstNote = now;
    output.SendShort(event->status, event->data1, event->data2);
    if (firstSent < 0) firstSent = NowMs();
    late.push_back(now - start - midi.TempoMap().MsAt(event->tick));
  });

  const double open = NowMs();
  midi.SetFilename(path);
  midi.LoadFile();
  start = NowMs();
  midi.StartPlayback();
  const double cpuThread = CpuSeconds(RUSAGE_THREAD);
  const double cpuProcess = CpuSeconds(RUSAGE_SELF);
  QEventLoop loop;
  QTimer end;
  QObject::connect(&end, &QTimer::timeout, [&] {
    if (midi.PositionMs() >= midi.LengthMs()) loop.quit();
  });
  end.start(100);
  loop.exec();
  const double wall = (NowMs() - start) / 1000;
  const double threadShare = (CpuSeconds(RUSAGE_THREAD) - cpuThread) / wall * 100;
  const double processShare = (CpuSeconds(RUSAGE_SELF) - cpuProcess) / wall * 100;
  midi.StopPlayback();
  output.CloseDevice();

  std::printf("song: %.0f s, %zu events handed out, length %d ms\n", wall, late.size(),
              midi.LengthMs());
  std::printf(
      "handed out after the ideal time: p50 %.1f ms, p99 %.1f ms, worst %.1f ms "
      "(earliest %.1f ms)\n",
      Percentile(late, 0.5), Percentile(late, 0.99), *std::max_element(late.begin(), late.end()),
      *std::min_element(late.begin(), late.end()));
  std::printf(
      "CPU while playing: %.2f %% of a core for the clock's thread, %.2f %% for the "
      "whole process with the synthesizer\n",
      threadShare, processShare);
  std::printf(
      "Open to first note: %.1f ms handed to the synthesizer, %.1f ms sent (the "
      "resting synthesizer woken)\n",
      firstNote - open, firstSent - open);
  return 0;
}
