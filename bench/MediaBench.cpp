// How quickly an accompaniment starts and what playing a video costs:
//   - time from Open + Play until the sound server plays the first audio (target < 150 ms),
//   - time from Open + Play to the first video frame in the display panel (target < 250 ms),
//   - CPU share while playing a 352x288 MPEG-1 video with sound (target < 15 % of one core),
//   - Open of a WAV, a MIDI song and a video, idle and with every core busy: how long it
//     takes and the longest the event loop stood still meanwhile (the window answers
//     between two of its events; target < 100 ms).
// Runs against PULSE_SERVER, or starts the test rig's private sound server when unset.
// Prints figures only; never fails on them.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "CpuTime.h"
#include "EventWait.h"
#include "MediaFixtures.h"
#include "media/MediaPlayer.h"
#include "support/BusyCores.h"

namespace {

using Clock = std::chrono::steady_clock;
using sonarelle::TMediaPlayer;

constexpr int kRuns = 5;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values) {
  if (values.empty()) return -1;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

bool IsRed(QRgb c) {
  return qRed(c) > 180 && qGreen(c) < 70 && qBlue(c) < 70;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir dir;
  if (!dir.isValid()) return 1;
  const QString rig = dir.filePath(QStringLiteral("rig"));
  const QString rigScript = QStringLiteral(SONARELLE_SOURCE_DIR "/scripts/sound-rig.sh");
  const bool ownRig = qEnvironmentVariableIsEmpty("PULSE_SERVER");
  if (ownRig) {
    if (QProcess::execute(rigScript, {QStringLiteral("start"), rig}) != 0) {
      std::fprintf(stderr, "cannot start the sound rig\n");
      return 1;
    }
    qputenv("PULSE_SERVER", ("unix:" + rig + "/native").toUtf8());
  }

  QApplication app(argc, argv);
  const QString wav = dir.filePath(QStringLiteral("tone.wav"));
  const QString mpg = dir.filePath(QStringLiteral("video.mpg"));
  media_fixtures::WriteToneWav(wav, 440, 440, 3.0);
  const std::string made = media_fixtures::WriteMpegVideo(mpg, 352, 288, "red", 6.0, true);
  if (!made.empty()) {
    std::fprintf(stderr, "cannot make the video: %s\n", made.c_str());
    return 1;
  }

  QWidget panel;
  panel.resize(352, 288);
  panel.show();
  TMediaPlayer player;
  player.SetDisplay(&panel);

  // A first open loads GStreamer's plug-ins; the user meets that once a session.
  player.SetFileName(wav);
  player.Open();
  player.Close();

  std::vector<double> sound;
  std::vector<double> frame;
  for (int run = 0; run < kRuns; ++run) {
    // The position follows the sound server's clock for the stream: it moves once the
    // server plays the first audio buffer. (The rig's null sink hands its monitor audio in
    // blocks of about a second, too coarse to time this by listening.)
    auto start = Clock::now();
    player.SetFileName(wav);
    player.Open();
    player.Play();
    if (event_wait::WaitUntil([&] { return player.Position() > 0; }, 3000)) {
      sound.push_back(Ms(Clock::now() - start));
    }
    player.Close();
    event_wait::Pump(300);

    start = Clock::now();
    player.SetFileName(mpg);
    player.Open();
    player.Play();
    if (event_wait::WaitUntil([&] { return IsRed(panel.grab().toImage().pixel(176, 144)); },
                              3000)) {
      frame.push_back(Ms(Clock::now() - start));
    }
    player.Close();
    event_wait::Pump(300);
  }

  player.SetFileName(mpg);
  player.Open();
  player.Play();
  event_wait::Pump(500);
  const double cpuBefore = CpuSeconds();
  QElapsedTimer wall;
  wall.start();
  QEventLoop playing;
  QTimer::singleShot(4000, &playing, &QEventLoop::quit);
  playing.exec();
  const double cpuShare = (CpuSeconds() - cpuBefore) / (static_cast<double>(wall.elapsed()) / 1000);
  player.Close();

  std::printf("media: Open+Play to first audio    %7.1f ms median of %zu (target < 150 ms)\n",
              Median(sound), sound.size());
  std::printf("media: Open+Play to first frame    %7.1f ms median of %zu (target < 250 ms)\n",
              Median(frame), frame.size());
  std::printf("media: CPU playing 352x288 MPEG-1  %7.1f %% of one core (target < 15 %%)\n",
              cpuShare * 100);

  const QString mid = dir.filePath(QStringLiteral("note.mid"));
  media_fixtures::WriteMidi(mid, 2000);
  for (const bool loaded : {false, true}) {
    const auto busy = loaded ? std::make_unique<BusyCores>() : nullptr;
    for (const auto& [name, file] : {std::pair{"WAV", wav}, {"MIDI", mid}, {"MPEG-1", mpg}}) {
      std::vector<double> took;
      double stood = 0;
      for (int run = 0; run < kRuns; ++run) {
        auto last = Clock::now();
        QTimer ticks;
        QObject::connect(&ticks, &QTimer::timeout, [&] {
          const auto now = Clock::now();
          stood = std::max(stood, Ms(now - last));
          last = now;
        });
        ticks.start(5);
        const auto start = Clock::now();
        player.SetFileName(file);
        player.Open();
        took.push_back(Ms(Clock::now() - start));
        ticks.stop();
        player.Close();
        event_wait::Pump(200);
      }
      std::printf(
          "media: Open %-6s %-10s %7.1f ms median of %zu, event loop stood %6.1f ms at "
          "most (target < 100 ms)\n",
          name, loaded ? "cores busy" : "idle", Median(took), took.size(), stood);
    }
  }

  if (ownRig) QProcess::execute(rigScript, {QStringLiteral("stop"), rig});
  return 0;
}
