// The karaoke screen at 1280 x 720 through a generated 3-minute song with four tempo changes
// and 2,000 syllables, in real time: for each syllable, how long after its due time (from the
// tempo map) the first painted frame shows its wipe begun (p50, p99, worst; target p99 within
// 17 ms, one frame at 60 Hz); frames a second while wiping (target at least 50); CPU share of
// one core (target under 5 %). Runs on the offscreen platform unless QT_QPA_PLATFORM says
// otherwise; `bench_karaoke_screen SECONDS` plays only the song's first SECONDS. Prints figures.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "CpuTime.h"
#include "midi/KaraokeLyrics.h"
#include "midi/KaraokeScreen.h"
#include "midi/MidiFile.h"
#include "midi/SmfWriter.h"

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
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 180;

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
    texts.Text(i == 0 ? 0 : ticksEach, std::string(marker) + "la" + std::to_string(i % 10) + " ");
  }
  QTemporaryDir dir;
  const QString path = dir.filePath("long.kar");
  smf::Write(path.toStdString(), smf::Song(1, kTicksPerQuarter, {tempo.End(), texts.End()}));
  TMidiFile song;
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

  QElapsedTimer clock;
  WatchedScreen screen(clock);
  screen.resize(1280, 720);
  screen.show();
  screen.Position = [&] { return int(clock.elapsed()); };
  screen.SetSong(std::move(words));
  const double cpu = CpuSeconds();
  clock.start();
  screen.Run(true);
  QEventLoop loop;
  QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
  loop.exec();
  screen.Run(false);
  const double wall = double(clock.elapsed()) / 1000.0;
  const double share = 100.0 * (CpuSeconds() - cpu) / wall;

  std::vector<double> late;
  int missing = 0;
  for (int i = 0; i < kSyllables; ++i) {
    if (due[std::size_t(i)] >= seconds * 1000) break;
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
  std::printf("frames painted %.1f a second; CPU %.1f %% of one core\n", fps, share);
  return 0;
}
