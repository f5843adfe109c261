#include "EncodeFixtures.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "audio/pump/MMTrigger.h"
#include "audio/wavefile/MMWaveFile.h"
#include "encode/MMMP3Encoder.h"

using namespace sonarelle;

namespace {

void PutLE(QByteArray& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint32_t GetLE(const QByteArray& in, qsizetype at, int bytes) {
  std::uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) {
    value |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(in[at + i])) << (8 * i);
  }
  return value;
}

}  // namespace

QByteArray MakeToneWav(int rate, int channels, double seconds, double frequency, int bits) {
  const int frames = static_cast<int>(rate * seconds);
  const int block = channels * bits / 8;
  const int dataBytes = frames * block;
  QByteArray file("RIFF");
  PutLE(file, static_cast<std::uint32_t>(36 + dataBytes), 4);
  file.append("WAVEfmt ");
  PutLE(file, 16, 4);
  PutLE(file, 1, 2);
  PutLE(file, static_cast<std::uint32_t>(channels), 2);
  PutLE(file, static_cast<std::uint32_t>(rate), 4);
  PutLE(file, static_cast<std::uint32_t>(rate * block), 4);
  PutLE(file, static_cast<std::uint32_t>(block), 2);
  PutLE(file, static_cast<std::uint32_t>(bits), 2);
  file.append("data");
  PutLE(file, static_cast<std::uint32_t>(dataBytes), 4);
  for (int i = 0; i < frames; ++i) {
    const double value = 0.5 * std::sin(2 * std::numbers::pi * frequency * i / rate);
    for (int c = 0; c < channels; ++c) {
      if (bits == 8) {
        file.append(static_cast<char>(128 + static_cast<int>(value * 127)));
      } else {
        PutLE(file, static_cast<std::uint16_t>(static_cast<std::int16_t>(value * 32767)), 2);
      }
    }
  }
  return file;
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

ConversionRun RunConversion(const QString& wav, TMMMP3Encoder& encoder) {
  ConversionRun run;
  TMMWaveFile reader;
  TMMTrigger trigger;  // destroyed before the reader it drives
  trigger.SetInput(&reader);
  trigger.SetOutput(&encoder);
  reader.Wave().SetFileName(wav);
  trigger.OnStop = [&](TMMComponent*) {
    run.stopped = true;
    trigger.ClosePump();
  };
  try {
    trigger.StartPump();
    run.started = true;
  } catch (const std::exception& error) {
    run.error = QString::fromUtf8(error.what());
    return run;
  }
  QElapsedTimer clock;
  clock.start();
  while (!run.stopped && (trigger.State() & TMMTrigger::tsClosed) == 0 && clock.elapsed() < 60000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  trigger.ClosePump();
  trigger.SetOutput(nullptr);
  return run;
}

DecodedAudio DecodeMp3(const QString& path) {
  DecodedAudio audio;
  QTemporaryDir dir;
  const QString out = dir.filePath("decoded.wav");
  QProcess gst;
  gst.start("gst-launch-1.0",
            {"-q", "filesrc", "location=" + path, "!", "decodebin", "!", "audioconvert", "!",
             "audio/x-raw,format=S16LE", "!", "wavenc", "!", "filesink", "location=" + out});
  if (!gst.waitForFinished(60000) || gst.exitCode() != 0) return audio;
  const QByteArray wav = ReadFile(out);
  qsizetype at = 12;
  while (at + 8 <= wav.size()) {
    const QByteArray id = wav.mid(at, 4);
    const std::uint32_t size = GetLE(wav, at + 4, 4);
    if (id == "fmt ") {
      audio.channels = static_cast<int>(GetLE(wav, at + 10, 2));
      audio.rate = static_cast<int>(GetLE(wav, at + 12, 4));
    } else if (id == "data" && audio.channels > 0) {
      const qsizetype frames =
          std::min<qsizetype>(size, wav.size() - at - 8) / (qsizetype{2} * audio.channels);
      for (qsizetype i = 0; i < frames; ++i) {
        const auto sample =
            static_cast<std::int16_t>(GetLE(wav, at + 8 + i * 2 * audio.channels, 2));
        audio.left.push_back(sample / 32768.0);
      }
      audio.ok = true;
      break;
    }
    at += 8 + size + (size & 1);
  }
  return audio;
}

std::vector<FrameHeader> WalkFrames(const QByteArray& stream, qsizetype& end) {
  static constexpr int kBitrates[] = {0,   32,  40,  48,  56,  64,  80,  96,
                                      112, 128, 160, 192, 224, 256, 320, 0};
  static constexpr int kRates[] = {44100, 48000, 32000, 0};
  std::vector<FrameHeader> frames;
  qsizetype at = 0;
  while (at + 4 <= stream.size()) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(stream.constData() + at);
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) break;
    FrameHeader h;
    h.version = (p[1] >> 3) & 3;
    h.layer = (p[1] >> 1) & 3;
    h.crc = (p[1] & 1) == 0;
    h.bitrateKbps = kBitrates[p[2] >> 4];
    h.rate = kRates[(p[2] >> 2) & 3];
    const int padding = (p[2] >> 1) & 1;
    h.privateBit = (p[2] & 1) != 0;
    h.mode = p[3] >> 6;
    h.copyright = ((p[3] >> 3) & 1) != 0;
    h.original = ((p[3] >> 2) & 1) != 0;
    // Only MPEG-1 layer III frames are expected from the encoder.
    if (h.version != 3 || h.layer != 1 || h.bitrateKbps == 0 || h.rate == 0) break;
    frames.push_back(h);
    at += 144 * 1000 * h.bitrateKbps / h.rate + padding;
  }
  end = std::min(at, stream.size());
  return frames;
}

std::map<QString, QString> ReadTagsWithGStreamer(const QString& path) {
  std::map<QString, QString> tags;
  QProcess gst;
  gst.start("gst-launch-1.0",
            {"-t", "filesrc", "location=" + path, "!", "decodebin", "!", "fakesink"});
  if (!gst.waitForFinished(60000)) return tags;
  const QStringList lines = QString::fromUtf8(gst.readAllStandardOutput()).split('\n');
  bool inTags = false;
  for (const QString& line : lines) {
    if (line.startsWith("FOUND TAG")) {
      if (inTags) break;  // the first list only
      inTags = true;
      continue;
    }
    if (!inTags) continue;
    const qsizetype colon = line.indexOf(':');
    if (colon < 0 || !line.startsWith(' ')) break;
    tags[line.left(colon).trimmed()] = line.mid(colon + 1).trimmed();
  }
  return tags;
}
