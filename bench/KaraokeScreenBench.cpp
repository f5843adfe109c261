// The karaoke screen at 1280 x 720 through a generated 3-minute song with four tempo changes
// and 2,000 syllables, in real time: for each syllable, how long after its due time (from the
// tempo map) the first painted frame shows its wipe begun (p50, p99, worst; target p99 within
// 17 ms, one frame at 60 Hz); frames a second while wiping (target at least 50); CPU share of
// one core (target under 5 %). Runs on the offscreen platform unless QT_QPA_PLATFORM says
// otherwise. Prints figures.
//
//   bench_karaoke_screen [SECONDS] [--take]
//
// SECONDS plays only the song's first SECONDS. With --take, as a singer's evening has it on a
// sound rig of its own with every core busy: the song's notes play on the synthesizer, the
// screen follows the song's clock, and a take records the rig's "mic" (440 Hz) with the
// recorder's stored buffer set; it prints also the notes handed to the synthesizer late and
// what the take lost (frames missing, phase breaks in the tone: target none).
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "BenchRig.h"
#include "CpuTime.h"
#include "audio/recorder/MMWaveRecorder.h"
#include "midi/KaraokeLyrics.h"
#include "midi/KaraokeScreen.h"
#include "midi/MidiFile.h"
#include "midi/MidiOutput.h"
#include "midi/SmfWriter.h"
#include "support/BusyCores.h"

namespace {

using namespace sonarelle;

constexpr int kSyllables = 2000;
constexpr int kPerLine = 8;
constexpr int kTicksPerQuarter = 480;

// Notes each painted frame: when it first showed each syllable's wipe begun.
class WatchedScreen : public TKaraokeScreen {
 public:
  explicit WatchedScreen(const QElapsedTimer& clock) : clock_(clock) {}
  std::vector<qint64> firstShown = std::vector<qint64>(kSyllables, -1);
  std::vector<qint64> paints;

 protected:
  void paintEvent(QPaintEvent* event) override {
    TKaraokeScreen::paintEvent(event);
    const qint64 now = clock_.nsecsElapsed();
    paints.push_back(now);
    for (int place = 0; place < 2; ++place) {
      const int line = LineShown(place);
      if (line < 0) continue;
      for (int k = 0; k < SyllablesStarted(place); ++k) {
        auto& shown = firstShown[std::size_t(line) * kPerLine + std::size_t(k)];
        if (shown < 0) shown = now;
      }
    }
  }

 private:
  const QElapsedTimer& clock_;
};

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, std::size_t(p * double(values.size())))];
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int seconds = argc > 1 && argv[1][0] != '-' ? std::atoi(argv[1]) : 180;
  const bool take = QCoreApplication::arguments().contains(QStringLiteral("--take"));
  std::unique_ptr<BenchRig> rig;
  if (take) {
    rig = std::make_unique<BenchRig>();
    if (!rig->Started()) {
      std::fprintf(stderr, "the sound rig did not start\n");
      return 1;
    }
    qputenv("PULSE_SERVER", rig->Server().toUtf8());
  }

  // 2,000 syllables over three minutes, eight a line, four lines a paragraph, the tempo
  // changing at each quarter of the song.
  smf::Track tempo;
  smf::Track texts;
  const int ticksEach = 180 * 2 * kTicksPerQuarter / kSyllables;  // at 120 bpm
  const std::uint32_t tempos[] = {500000, 400000, 600000, 450000};
  for (int q = 0; q < 4; ++q) tempo.Tempo(q == 0 ? 0 : kSyllables / 4 * ticksEach, tempos[q]);
  for (int i = 0; i < kSyllables; ++i) {
    const int line = i / kPerLine;
    const char* marker = i % kPerLine != 0 ? "" : line % 4 == 0 ? "\\" : "/";
    // A note with each syllable, sounding for three quarters of it.
    const int held = ticksEach * 3 / 4;
    texts.Text(i == 0 ? 0 : ticksEach - held,
               std::string(marker) + "la" + std::to_string(i % 10) + " ");
    texts.Event(0, {0x90, 60 + i % 12, 90});
    texts.Event(std::uint32_t(held), {0x80, 60 + i % 12, 0});
  }
  QTemporaryDir dir;
  const QString path = dir.filePath("long.kar");
  smf::Write(path.toStdString(), smf::Song(1, kTicksPerQuarter, {tempo.End(), texts.End()}));
  QElapsedTimer clock;
  std::unique_ptr<TMidiOutput> output;
  std::vector<double> notesLate;
  TMidiFile song;
  song.SetOnMidiEvent([&](PMidiEvent event) {
    if (!output || event->status == 0xFF) return;
    output->SendShort(event->status, event->data1, event->data2);
    notesLate.push_back(double(clock.nsecsElapsed()) / 1e6 - song.TempoMap().MsAt(event->tick));
  });
  song.SetFilename(path);
  song.LoadFile();
  const TKaraokeText sung = PrepareKaraokeText(song);
  TKaraokeSong words = KaraokeSongOf(song, sung.type);
  std::vector<int> due;
  for (const auto& line : words.lines) {
    for (const auto& syllable : line.syllables) due.push_back(syllable.startMs);
  }
  if (due.size() != std::size_t(kSyllables)) {
    std::fprintf(stderr, "the song has %zu syllables, not %d\n", due.size(), kSyllables);
    return 1;
  }

  WatchedScreen screen(clock);
  screen.resize(1280, 720);
  screen.show();
  screen.Position = [&] { return int(clock.elapsed()); };
  screen.SetSong(std::move(words));
  QEventLoop loop;
  const auto pump = [&](int ms) {
    // A coarse timer this long may end the song a twentieth early.
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
  };

  constexpr int kRate = 44100;
  std::unique_ptr<TMMWaveRecorder> recorder;
  std::int64_t recorded = 0;
  std::unique_ptr<BusyCores> busy;
  if (take) {
    output = std::make_unique<TMidiOutput>();
    output->SetDeviceID(0);
    if (!output->OpenDevice()) {
      std::fprintf(stderr, "the synthesizer did not open\n");
      return 1;
    }
    // As the program does, the song waits for the synthesizer to read its instruments.
    for (int waited = 0; !output->Ready() && waited < 30000; waited += 100) pump(100);
    // In the program the screen reads the song's own clock.
    screen.Position = [&] { return song.ClockMs(); };
    recorder = std::make_unique<TMMWaveRecorder>();
    recorder->SetNumBuffers(200);
    recorder->SetBufferSize(2048);
    recorder->SetSampleRate(kRate);
    recorder->SetBitLength(b16Bit);
    recorder->SetMode(mStereo);
    recorder->SetDeviceID(rig->SourceIndex(QStringLiteral("mic")));
    recorder->SetFileName(rig->FilePath(QStringLiteral("take.wav")));
    recorder->OnData = [&](TMMDSPComponent*, PWaveHdr header) {
      recorded += header->dwBytesRecorded / 4;
    };
    busy = std::make_unique<BusyCores>();
    recorder->Open();
    recorder->StartRecording();
  }
  const double cpu = CpuSeconds();
  const double cpuThread = CpuSeconds(RUSAGE_THREAD);
  clock.start();
  if (take) song.StartPlayback();
  screen.Run(true);
  pump(seconds * 1000);
  screen.Run(false);
  const double wall = double(clock.elapsed()) / 1000.0;
  const double share = 100.0 * (CpuSeconds() - cpu) / wall;
  const double threadShare = 100.0 * (CpuSeconds(RUSAGE_THREAD) - cpuThread) / wall;
  if (take) {
    song.StopPlayback();
    recorder->StopRecording();
    recorder->Close();
    output->CloseDevice();
    busy.reset();
  }

  std::vector<double> late;
  int missing = 0;
  for (int i = 0; i < kSyllables; ++i) {
    if (due[std::size_t(i)] >= wall * 1000 - 50) break;
    const qint64 shown = screen.firstShown[std::size_t(i)];
    if (shown < 0) {
      ++missing;
      continue;
    }
    late.push_back(double(shown) / 1e6 - due[std::size_t(i)]);
  }
  // Frames a second while wiping: paints within the song's syllables.
  const double fps = double(screen.paints.size()) / wall;
  std::printf("karaoke screen 1280x720, %d s of a %d-syllable song with four tempos\n", seconds,
              kSyllables);
  std::printf(
      "wipe shown after its due time: p50 %.1f ms, p99 %.1f ms, worst %.1f ms "
      "(%zu syllables, %d never shown)\n",
      Percentile(late, 0.5), Percentile(late, 0.99), Percentile(late, 1.0), late.size(), missing);
  if (!take) {
    std::printf("frames painted %.1f a second; CPU %.1f %% of one core\n", fps, share);
    return 0;
  }
  std::printf(
      "every core busy; frames painted %.1f a second; CPU %.1f %% of one core for the window "
      "thread (screen and song clock), %.1f %% for the process with synthesizer and recorder\n",
      fps, threadShare, share);
  std::printf(
      "notes handed to the synthesizer after their time: p50 %.1f ms, p99 %.1f ms, "
      "worst %.1f ms (%zu events)\n",
      Percentile(notesLate, 0.5), Percentile(notesLate, 0.99), Percentile(notesLate, 1.0),
      notesLate.size());
  // The source runs ahead from the start, so a little more than the time may come.
  std::printf("take: %.1f s recorded in %.1f s, %+lld frames against the time\n",
              double(recorded) / kRate, wall,
              static_cast<long long>(recorded - std::int64_t(wall * kRate)));
  const std::vector<double> left = LeftChannel(rig->FilePath(QStringLiteral("take.wav")));
  std::printf("phase breaks in the take's 440 Hz tone: %d\n", PhaseBreaks(left, kRate, 440));
  return 0;
}
