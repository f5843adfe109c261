// WAV to WAV through the conversion chain (wave file reader, trigger pump, wave file
// writer) against `cp` of the same file, for a generated 3-minute 44.1 kHz 16-bit stereo
// file. Prints the best of several runs of each and their ratio, and once the pump paced
// at 1 ms per cycle (Interval 1) for comparison. Usage: bench_wav_copy [runs] [folder]
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <random>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "audio/pump/MMTrigger.h"
#include "audio/wavefile/MMWaveFile.h"

using namespace sonarelle;

namespace {

constexpr int kSeconds = 180;

bool WriteSource(const QString& path) {
  const WAVEFORMATEX format = MakePCMFormat(16, 2, 44100);
  const std::uint32_t dataBytes = format.nAvgBytesPerSec * kSeconds;
  QByteArray header(44, '\0');
  auto put = [&](int at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) header[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  std::memcpy(header.data(), "RIFF", 4);
  put(4, 36 + dataBytes, 4);
  std::memcpy(header.data() + 8, "WAVEfmt ", 8);
  put(16, 16, 4);
  put(20, format.wFormatTag, 2);
  put(22, format.nChannels, 2);
  put(24, format.nSamplesPerSec, 4);
  put(28, format.nAvgBytesPerSec, 4);
  put(32, format.nBlockAlign, 2);
  put(34, format.wBitsPerSample, 2);
  std::memcpy(header.data() + 36, "data", 4);
  put(40, dataBytes, 4);

  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  file.write(header);
  std::mt19937 noise(7);
  QByteArray chunk(1 << 20, '\0');
  for (std::uint32_t done = 0; done < dataBytes;) {
    const auto n = static_cast<int>(std::min<std::uint32_t>(chunk.size(), dataBytes - done));
    for (int i = 0; i < n; i += 4) {
      const std::uint32_t v = noise();
      std::memcpy(chunk.data() + i, &v, 4);
    }
    if (file.write(chunk.constData(), n) != n) return false;
    done += static_cast<std::uint32_t>(n);
  }
  return true;
}

// Milliseconds for one conversion, or a negative value when it failed.
double Pump(const QString& source, const QString& target, int interval) {
  QFile::remove(target);
  TMMWaveFile reader;
  TMMWaveFile writer;
  writer.Wave().SetFileMustExist(false);
  writer.Wave().SetFileName(target);
  TMMTrigger trigger;
  trigger.SetInterval(interval);
  trigger.SetInput(&reader);
  trigger.SetOutput(&writer);
  std::atomic<bool> stopped{false};
  trigger.OnStop = [&](TMMComponent*) {
    trigger.ClosePump();
    stopped = true;
  };
  QElapsedTimer clock;
  clock.start();
  reader.Wave().SetFileName(source);
  trigger.StartPump();
  while (!stopped) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  // The writer's header is its own (18-byte format, a "fact" chunk): compare the audio.
  const qint64 audio = QFile(source).size() - 44;
  const qint64 written = QFile(target).size() - (12 + 8 + 18 + 8 + 8 + 4);
  return written == audio ? ms : -1;
}

double Copy(const QString& source, const QString& target) {
  QFile::remove(target);
  QElapsedTimer clock;
  clock.start();
  if (QProcess::execute("cp", {source, target}) != 0) return -1;
  return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  const int runs = args.size() > 1 ? std::max(1, args[1].toInt()) : 5;
  QTemporaryDir dir(args.size() > 2 ? args[2] + "/wavcopy-XXXXXX" : QString());
  if (!dir.isValid()) {
    std::fprintf(stderr, "no temporary folder\n");
    return 1;
  }
  const QString source = dir.filePath("source.wav");
  if (!WriteSource(source)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(source));
    return 1;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::printf("source: %d s of 44.1 kHz 16-bit stereo, %lld bytes, in %s\n", kSeconds,
              static_cast<long long>(QFile(source).size()), qPrintable(dir.path()));

  double bestCopy = 1e300;
  double bestPump = 1e300;
  for (int i = 0; i < runs; ++i) {
    const double copy = Copy(source, dir.filePath("copy.wav"));
    const double pump = Pump(source, dir.filePath("pumped.wav"), 0);
    if (copy < 0 || pump < 0) {
      std::fprintf(stderr, "run %d failed (cp %.1f, pump %.1f)\n", i + 1, copy, pump);
      return 1;
    }
    std::printf("run %d: cp %8.1f ms   pump %8.1f ms\n", i + 1, copy, pump);
    bestCopy = std::min(bestCopy, copy);
    bestPump = std::min(bestPump, pump);
  }
  std::printf("best:  cp %8.1f ms   pump %8.1f ms   pump/cp %.2f   pump %.0fx real time\n",
              bestCopy, bestPump, bestPump / bestCopy, kSeconds * 1000.0 / bestPump);

  const double paced = Pump(source, dir.filePath("paced.wav"), 1);
  if (paced < 0) {
    std::fprintf(stderr, "paced run failed\n");
    return 1;
  }
  std::printf("1 ms per cycle (Interval 1): %.1f ms, %.0fx real time\n", paced,
              kSeconds * 1000.0 / paced);
  return 0;
}
