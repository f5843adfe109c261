#include "BenchRig.h"

#include <QFile>
#include <QProcess>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

bool Rig(const char* action, const QString& dir) {
  QProcess rig;
  rig.setProcessChannelMode(QProcess::ForwardedChannels);
  rig.start(QStringLiteral(SONARELLE_SOURCE_DIR "/scripts/sound-rig.sh"),
            {QString::fromUtf8(action), dir});
  return rig.waitForFinished(30000) && rig.exitCode() == 0;
}

}  // namespace

BenchRig::BenchRig() : started_(Rig("start", FilePath(QStringLiteral("rig")))) {}

BenchRig::~BenchRig() {
  if (started_) Rig("stop", FilePath(QStringLiteral("rig")));
}

QString BenchRig::Server() const {
  return QStringLiteral("unix:") + FilePath(QStringLiteral("rig")) + QStringLiteral("/native");
}

int BenchRig::SourceIndex(const QString& name) const {
  QProcess pactl;
  pactl.start(QStringLiteral("pactl"), {QStringLiteral("-s"), Server(), QStringLiteral("list"),
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

int PhaseBreaks(const std::vector<double>& samples, double rate, double hz) {
  double peak = 0;
  for (double v : samples) {
    peak = std::max(peak, std::abs(v));
  }
  const double slope = peak * 2 * M_PI * hz / rate * 1.2;
  int breaks = 0;
  for (std::size_t n = 1; n < samples.size(); ++n) {
    if (std::abs(samples[n] - samples[n - 1]) > slope) {
      if (breaks < 5) {
        std::printf("  break at frame %zu (%.3f s)\n", n, static_cast<double>(n) / rate);
      }
      ++breaks;
    }
  }
  return breaks;
}
