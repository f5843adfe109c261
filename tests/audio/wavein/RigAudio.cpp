#include "RigAudio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <QFile>
#include <QProcess>

QString Pactl(const QStringList& arguments) {
  const char* server = std::getenv("PULSE_SERVER");
  QProcess process;
  process.start(
      QStringLiteral("pactl"),
      QStringList{QStringLiteral("-s"), QString::fromUtf8(server ? server : "")} + arguments);
  process.waitForFinished(10000);
  return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QStringList RigSources() {
  QStringList names;
  const QStringList lines =
      Pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sources")})
          .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  for (const QString& line : lines) {
    const QStringList fields = line.split(QLatin1Char('\t'));
    if (fields.size() > 1) {
      names << fields[1];
    }
  }
  return names;
}

int RigDevice(const QString& name) {
  const QStringList sources = RigSources();
  const auto index = sources.indexOf(name);
  EXPECT_GE(index, 0) << "the rig has no source " << name.toStdString() << " ("
                      << sources.join(QLatin1Char(' ')).toStdString() << ")";
  return static_cast<int>(index);
}

std::vector<double> Channel(const QByteArray& pcm, int bits, int channels, int channel) {
  std::vector<double> out;
  const int bytes = bits / 8;
  const int frame = bytes * channels;
  const auto* data = reinterpret_cast<const unsigned char*>(pcm.constData());
  for (qsizetype at = static_cast<qsizetype>(channel) * bytes; at + bytes <= pcm.size();
       at += frame) {
    if (bits == 8) {
      out.push_back((data[at] - 128) / 128.0);
    } else {
      const auto value = static_cast<std::int16_t>(data[at] | (data[at + 1] << 8));
      out.push_back(value / 32768.0);
    }
  }
  return out;
}

SineFit FitSine(const std::vector<double>& samples, double rate, double frequency) {
  SineFit fit;
  if (samples.empty()) {
    return fit;
  }
  // Least squares on sin, cos and an offset; the three are nearly orthogonal over many
  // periods, so projecting is enough.
  const double w = 2 * M_PI * frequency / rate;
  double s = 0;
  double c = 0;
  double mean = 0;
  for (double v : samples) {
    mean += v;
  }
  mean /= static_cast<double>(samples.size());
  for (std::size_t n = 0; n < samples.size(); ++n) {
    s += (samples[n] - mean) * std::sin(w * static_cast<double>(n));
    c += (samples[n] - mean) * std::cos(w * static_cast<double>(n));
  }
  const double count = static_cast<double>(samples.size());
  s *= 2 / count;
  c *= 2 / count;
  double error = 0;
  for (std::size_t n = 0; n < samples.size(); ++n) {
    const double model =
        mean + s * std::sin(w * static_cast<double>(n)) + c * std::cos(w * static_cast<double>(n));
    error += (samples[n] - model) * (samples[n] - model);
  }
  fit.amplitude = std::hypot(s, c);
  fit.residue = fit.amplitude > 0 ? std::sqrt(error / count) / fit.amplitude : 1;
  return fit;
}

double LargestStep(const std::vector<double>& samples) {
  double largest = 0;
  for (std::size_t n = 1; n < samples.size(); ++n) {
    largest = std::max(largest, std::abs(samples[n] - samples[n - 1]));
  }
  return largest;
}

void ExpectUnbrokenTone(const QByteArray& pcm, int channels, double frequency) {
  for (int channel = 0; channel < channels; ++channel) {
    const std::vector<double> samples = Channel(pcm, 16, channels, channel);
    const SineFit fit = FitSine(samples, 44100, frequency);
    EXPECT_GT(fit.amplitude, 0.01) << "channel " << channel;
    EXPECT_LT(fit.residue, 0.05) << "the tone's phase breaks somewhere in channel " << channel;
    EXPECT_LT(LargestStep(samples), fit.amplitude * 2 * M_PI * frequency / 44100 * 1.2)
        << "channel " << channel;
  }
}

WaveContents ReadWave(const QString& fileName) {
  WaveContents contents;
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) {
    return contents;
  }
  const QByteArray bytes = file.readAll();
  auto u32 = [&bytes](qsizetype at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
      v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
    }
    return v;
  };
  auto u16 = [&bytes](qsizetype at) {
    return static_cast<int>(static_cast<unsigned char>(bytes[at]) |
                            (static_cast<unsigned char>(bytes[at + 1]) << 8));
  };
  if (bytes.size() < 12 || bytes.left(4) != "RIFF" || bytes.mid(8, 4) != "WAVE") {
    return contents;
  }
  const bool riffFinal = u32(4) + 8 == static_cast<std::uint32_t>(bytes.size()) ||
                         u32(4) + 9 == static_cast<std::uint32_t>(bytes.size());
  bool dataFinal = false;
  qsizetype at = 12;
  while (at + 8 <= bytes.size()) {
    const QByteArray id = bytes.mid(at, 4);
    const std::uint32_t size = u32(at + 4);
    if (id == "fmt " && size >= 16) {
      contents.channels = u16(at + 10);
      contents.rate = static_cast<int>(u32(at + 12));
      contents.bits = u16(at + 22);
    } else if (id == "data") {
      contents.data = bytes.mid(at + 8, size);
      dataFinal = at + 8 + static_cast<qsizetype>(size) <= bytes.size() && size > 0;
    }
    at += 8 + size + (size % 2);
  }
  contents.final = riffFinal && dataFinal;
  return contents;
}
