// Reading WAVE files with many "LIST"/"INFO" entries: the time to open one grows in step
// with the number of entries (twice the entries, twice the time), not with its square.
#include <cstdio>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include "audio/chain/WaveFormat.h"
#include "audio/wavefile/WaveIO.h"

using namespace sonarelle;

namespace {

QByteArray U32(std::uint32_t v) {
  return QByteArray(reinterpret_cast<const char*>(&v), 4);
}

// A second of silence followed by a "LIST"/"INFO" chunk of `entries` entries, each with an
// id of its own.
QByteArray WaveWithInfo(int entries) {
  const WAVEFORMATEX format = MakePCMFormat(16, 2, 44100);
  QByteArray list = "INFO";
  for (int i = 0; i < entries; ++i) {
    list += U32(static_cast<std::uint32_t>(i) * 2654435761U) + U32(4) + "abc" + '\0';
  }
  const QByteArray chunks = "fmt " + U32(18) +
                            QByteArray(reinterpret_cast<const char*>(&format), 18) + "data" +
                            U32(176400) + QByteArray(176400, '\0') + "LIST" +
                            U32(static_cast<std::uint32_t>(list.size())) + list;
  return "RIFF" + U32(static_cast<std::uint32_t>(chunks.size() + 4)) + "WAVE" + chunks;
}

}  // namespace

int main() {
  QTemporaryDir dir;
  double previous = 0;
  for (const int entries : {12500, 25000, 50000, 100000, 200000}) {
    const QString path = dir.filePath(QStringLiteral("info.wav"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return 1;
    file.write(WaveWithInfo(entries));
    file.close();
    QElapsedTimer clock;
    clock.start();
    WaveIOPtr block;
    const int result = OpenWaveFile(path, block);
    const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    std::printf("%7d INFO entries: opened in %8.1f ms (%zu kept)%s", entries, ms,
                result == kWaveIOOk ? block->info.size() : 0, previous > 0 ? "" : "\n");
    if (previous > 0) std::printf(", %.1f times the half as many\n", ms / previous);
    previous = ms;
  }
  return 0;
}
