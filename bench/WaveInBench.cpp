// Records from the sound rig while both cores are kept busy by other processes, and prints
// what was lost and what the recording cost.
//
//   bench_wavein [SECONDS]   (default 60)
//
// Starts its own rig (scripts/sound-rig.sh start DIR) in a temporary folder and stops it at
// the end; records 44100 Hz 16-bit stereo from "mic" (440 Hz) into a temporary WAVE file
// with the recorder's stored buffer set (200 buffers of 2048 bytes).
#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include "BenchRig.h"
#include "CpuTime.h"
#include "audio/recorder/MMWaveRecorder.h"
#include "support/BusyCores.h"

using namespace sonarelle;

namespace {

int RigDevice(const QString& server, const QString& name) {
  QProcess pactl;
  pactl.start(QStringLiteral("pactl"), {QStringLiteral("-s"), server, QStringLiteral("list"),
                                        QStringLiteral("short"), QStringLiteral("sources")});
  pactl.waitForFinished(10000);
  const QStringList lines =
      QString::fromUtf8(pactl.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  for (int i = 0; i < lines.size(); ++i) {
    if (lines[i].split(QLatin1Char('\t')).value(1) == name) {
      return i;
    }
  }
  return -2;
}

// The data chunk of the finished file, left channel only, scaled to -1 .. 1.
std::vector<double> LeftChannel(const QString& fileName) {
  QFile file(fileName);
  std::vector<double> out;
  if (!file.open(QIODevice::ReadOnly)) {
    return out;
  }
  const QByteArray bytes = file.readAll();
  const qsizetype at = bytes.indexOf("data");
  if (at < 0 || at + 8 > bytes.size()) {
    return out;
  }
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData() + at + 8);
  const qsizetype declared = static_cast<qsizetype>(data[-4] | (data[-3] << 8) | (data[-2] << 16) |
                                                    (static_cast<std::uint32_t>(data[-1]) << 24));
  const qsizetype size = std::min(declared, bytes.size() - at - 8);
  for (qsizetype i = 0; i + 4 <= size; i += 4) {
    out.push_back(static_cast<std::int16_t>(data[i] | (data[i + 1] << 8)) / 32768.0);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int seconds = argc > 1 ? std::max(1, QString::fromUtf8(argv[1]).toInt()) : 60;
  BenchRig rig;
  if (!rig.Started()) {
    std::fprintf(stderr, "the sound rig did not start\n");
    return 1;
  }
  const QString server = rig.Server();
  qputenv("PULSE_SERVER", server.toUtf8());

  // Both cores busy with another process the whole time.
  auto busy = std::make_unique<BusyCores>();

  const int rate = 44100;
  std::int64_t bytes = 0;
  std::int64_t firstSecondBytes = -1;
  int buffers = 0;
  QElapsedTimer clock;
  {
    TMMWaveRecorder recorder;
    recorder.SetNumBuffers(200);
    recorder.SetBufferSize(2048);
    recorder.SetSampleRate(rate);
    recorder.SetBitLength(b16Bit);
    recorder.SetMode(mStereo);
    recorder.SetDeviceID(RigDevice(server, QStringLiteral("mic")));
    recorder.SetFileName(rig.FilePath(QStringLiteral("take.wav")));
    recorder.OnData = [&](TMMDSPComponent*, PWaveHdr header) {
      bytes += header->dwBytesRecorded;
      ++buffers;
    };
    std::printf("device: %s\n", recorder.ProductName().toUtf8().constData());
    recorder.Open();
    const double cpuBefore = CpuSeconds();
    clock.start();
    recorder.StartRecording();
    // What the source hands out at once when the recording starts.
    QEventLoop loop;
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
    firstSecondBytes = bytes - static_cast<std::int64_t>(0.3 * rate * 4);
    QTimer::singleShot(std::max<qint64>(0, seconds * 1000LL - clock.elapsed()), &loop,
                       &QEventLoop::quit);
    loop.exec();
    const double elapsed = static_cast<double>(clock.elapsed()) / 1000.0;
    const double cpu = CpuSeconds() - cpuBefore;
    recorder.StopRecording();
    recorder.Close();

    const double expected = elapsed * rate;
    const double recorded = static_cast<double>(bytes) / 4;
    std::printf("recorded %.1f s: %lld sample frames in %d buffers\n", elapsed,
                static_cast<long long>(bytes / 4), buffers);
    std::printf("frames handed out at start: %lld\n", static_cast<long long>(firstSecondBytes / 4));
    // The source runs up to a second ahead from the start, so more than the elapsed time
    // may come; fewer by more than a buffer would mean frames were dropped.
    std::printf("recorded minus elapsed time: %+.0f frames (one buffer = 512 frames)\n",
                recorded - expected);
    std::printf("CPU share of the program while recording: %.2f %% of one core\n",
                100.0 * cpu / elapsed);
  }
  busy.reset();

  // A lost stretch breaks the tone: count steps steeper than the sine allows.
  const std::vector<double> left = LeftChannel(rig.FilePath(QStringLiteral("take.wav")));
  double peak = 0;
  for (double v : left) {
    peak = std::max(peak, std::abs(v));
  }
  const double slope = peak * 2 * M_PI * 440 / rate * 1.2;
  int breaks = 0;
  for (std::size_t n = 1; n < left.size(); ++n) {
    if (std::abs(left[n] - left[n - 1]) > slope) {
      if (breaks < 5) {
        std::printf("  break at frame %zu (%.3f s)\n", n, static_cast<double>(n) / rate);
      }
      ++breaks;
    }
  }
  std::printf("phase breaks in the 440 Hz tone: %d\n", breaks);
  return 0;
}
