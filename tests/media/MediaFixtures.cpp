#include "MediaFixtures.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <stdexcept>

#include "midi/SmfWriter.h"

namespace media_fixtures {

namespace {

constexpr int kRate = 44100;
constexpr int kFps = 25;
constexpr int kLaunchTimeoutMs = 60000;

void AppendLe(QByteArray* out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->append(static_cast<char>((value >> (8 * i)) & 0xff));
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
    throw std::runtime_error("cannot write " + path.toStdString());
  }
}

// Runs a pipeline in gst-launch-1.0 until its end; empty string, or why it failed. In a
// process of its own, so what the encoders keep at exit is not the test's concern.
std::string RunPipeline(const QStringList& description) {
  QProcess launch;
  launch.setProcessChannelMode(QProcess::MergedChannels);
  launch.start(QStringLiteral("gst-launch-1.0"), QStringList{QStringLiteral("-q")} + description);
  const QString what = description.join(QLatin1Char(' '));
  if (!launch.waitForStarted(kLaunchTimeoutMs)) {
    return "cannot run gst-launch-1.0 (run scripts/setup.sh): " + what.toStdString();
  }
  if (!launch.waitForFinished(kLaunchTimeoutMs)) {
    launch.kill();
    launch.waitForFinished();
    return "timed out: " + what.toStdString();
  }
  if (launch.exitStatus() != QProcess::NormalExit || launch.exitCode() != 0) {
    return QString::fromLocal8Bit(launch.readAll()).toStdString() + what.toStdString();
  }
  return {};
}

QStringList Words(const char* words) {
  return QString::fromLatin1(words).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

QStringList Location(const QString& path) {
  return {QStringLiteral("location=") + path};
}

QStringList VideoSource(int width, int height, const char* pattern, double seconds) {
  const auto frames = std::lround(seconds * kFps);
  return QStringList{QStringLiteral("videotestsrc"), QStringLiteral("num-buffers=%1").arg(frames),
                     QStringLiteral("pattern=") + QLatin1String(pattern)} +
         Words("!") +
         QStringList{QStringLiteral("video/x-raw,format=I420,width=%1,height=%2,framerate=%3/1")
                         .arg(width)
                         .arg(height)
                         .arg(kFps)};
}

QStringList ToneSource(double hz, double seconds) {
  const int samplesPerBuffer = 1024;
  const auto buffers = std::lround(std::ceil(seconds * kRate / samplesPerBuffer));
  return QStringList{QStringLiteral("audiotestsrc"), QStringLiteral("num-buffers=%1").arg(buffers),
                     QStringLiteral("samplesperbuffer=%1").arg(samplesPerBuffer),
                     QStringLiteral("freq=%1").arg(hz)} +
         Words("volume=0.5 !") +
         QStringList{QStringLiteral("audio/x-raw,rate=%1,channels=2").arg(kRate)};
}

}  // namespace

void WriteStereoWav(const QString& path, const std::vector<double>& left,
                    const std::vector<double>& right) {
  const auto frames = static_cast<std::uint32_t>(std::max(left.size(), right.size()));
  const std::uint32_t dataBytes = frames * 4;
  QByteArray out;
  out.append("RIFF");
  AppendLe(&out, 36 + dataBytes, 4);
  out.append("WAVEfmt ");
  AppendLe(&out, 16, 4);
  AppendLe(&out, 1, 2);  // PCM
  AppendLe(&out, 2, 2);
  AppendLe(&out, kRate, 4);
  AppendLe(&out, kRate * 4, 4);
  AppendLe(&out, 4, 2);
  AppendLe(&out, 16, 2);
  out.append("data");
  AppendLe(&out, dataBytes, 4);
  for (std::uint32_t i = 0; i < frames; ++i) {
    for (const std::vector<double>* channel : {&left, &right}) {
      const double v = i < channel->size() ? std::clamp((*channel)[i], -1.0, 1.0) : 0.0;
      AppendLe(&out, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(v * 32767))),
               2);
    }
  }
  WriteFile(path, out);
}

void WriteToneWav(const QString& path, double leftHz, double rightHz, double seconds) {
  const auto frames = static_cast<std::size_t>(std::lround(seconds * kRate));
  std::vector<double> left(frames);
  std::vector<double> right(frames);
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    left[i] = leftHz > 0 ? 0.5 * std::sin(2 * std::numbers::pi * leftHz * t) : 0.0;
    right[i] = rightHz > 0 ? 0.5 * std::sin(2 * std::numbers::pi * rightHz * t) : 0.0;
  }
  WriteStereoWav(path, left, right);
}

std::string WriteToneMp3(const QString& path, double hz, double seconds) {
  // Constant rate and no Xing header, as many MP3 files come: only the file size and the
  // bit rate tell the length before playing.
  return RunPipeline(ToneSource(hz, seconds) +
                     Words("! lamemp3enc target=bitrate cbr=true bitrate=128 ! filesink") +
                     Location(path));
}

std::string WriteMpegVideo(const QString& path, int width, int height, const char* pattern,
                           double seconds, bool withAudio) {
  QStringList description =
      VideoSource(width, height, pattern, seconds) +
      Words("! mpeg2enc format=0 ! mpegvideoparse ! avmux_mpeg name=mux ! filesink") +
      Location(path);
  if (withAudio) {
    description += ToneSource(440, seconds) + Words("! avenc_mp2 ! mpegaudioparse ! mux.");
  }
  return RunPipeline(description);
}

std::string WriteAviVideo(const QString& path, int width, int height, const char* pattern,
                          double seconds) {
  return RunPipeline(VideoSource(width, height, pattern, seconds) +
                     Words("! jpegenc ! avimux ! filesink") + Location(path));
}

void WriteMidi(const QString& path, int noteMs, int program) {
  // 480 ticks a quarter note at the default 120 beats a minute: 960 ticks a second.
  const auto ticks = static_cast<std::uint32_t>(noteMs * 960 / 1000);
  smf::Track track;
  track.Event(0, {0xC0, program & 0x7f})
      .Event(0, {0x90, 0x45, 0x7f})  // A4 on, loudest
      .Event(ticks, {0x80, 0x45, 0x00})
      .End();
  smf::Write(path.toStdString(), smf::Song(0, 480, {track}));
}

void WriteIllegalStatusMidi(const QString& path, int status, int noteMs) {
  const auto half = static_cast<std::uint32_t>(noteMs * 960 / 1000 / 2);
  smf::Track track;
  track.Event(0, {0xC0, kPiano})
      .Event(0, {0x90, 0x45, 0x7f})
      .Event(half, {status, 0x01})
      .Event(half, {0x80, 0x45, 0x00})
      .End();
  smf::Write(path.toStdString(), smf::Song(0, 480, {track}));
}

void WriteMidiWithMiscountedTracks(const QString& path, int noteMs, int program) {
  const auto ticks = static_cast<std::uint32_t>(noteMs * 960 / 1000);
  smf::Track track;
  track.Event(0, {0xC0, program & 0x7f})
      .Event(0, {0x90, 0x45, 0x7f})
      .Event(ticks, {0x80, 0x45, 0x00})
      .End();
  smf::Write(path.toStdString(), smf::Header(0, 2, 480) + track.Chunk());
}

void DamageMidi(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    throw std::runtime_error("cannot read " + path.toStdString());
  }
  QByteArray bytes = file.readAll();
  file.close();
  const qsizetype noteOff = bytes.indexOf(QByteArray("\x80\x45\x00", 3));
  if (noteOff < 0) throw std::runtime_error("no note to damage in " + path.toStdString());
  bytes.replace(noteOff, 3, QByteArray("\xFF\x51\x7F", 3));  // tempo, 127 bytes long
  WriteFile(path, bytes);
}

}  // namespace media_fixtures
