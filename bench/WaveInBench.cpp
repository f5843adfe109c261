// Records from the sound rig while both cores are kept busy by other processes, and prints
// what was lost and what the recording cost.
//
//   bench_wavein [SECONDS]   (default 60)
//
// Starts its own rig (scripts/sound-rig.sh start DIR) in a temporary folder and stops it at
// the end; records 44100 Hz 16-bit stereo from "mic" (440 Hz) into a temporary WAVE file
// with the recorder's stored buffer set (200 buffers of 2048 bytes).
#include <sys/resource.h>

#include <cstdio>
#include <memory>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include "BenchRig.h"
#include "CpuTime.h"
#include "audio/recorder/MMWaveRecorder.h"
#include "support/BusyCores.h"

using namespace sonarelle;

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int seconds = argc > 1 ? std::max(1, QString::fromUtf8(argv[1]).toInt()) : 60;
  BenchRig rig;
  if (!rig.Started()) {
    std::fprintf(stderr, "the sound rig did not start\n");
    return 1;
  }
  qputenv("PULSE_SERVER", rig.Server().toUtf8());

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
    recorder.SetDeviceID(rig.SourceIndex(QStringLiteral("mic")));
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
  std::printf("phase breaks in the 440 Hz tone: %d\n", PhaseBreaks(left, rate, 440));
  return 0;
}
