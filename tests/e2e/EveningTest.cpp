// An evening with the installed program, as a singer meets it: a private X server and sound
// server, real key presses and typed text, and the takes checked as files afterwards.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QtEndian>
#include <algorithm>

#include "DesktopSession.h"
#include "EveningFixtures.h"
#include "MediaFixtures.h"
#include "support/Tone.h"

namespace {

using evening::NotSung;
using evening::Pixels;
using evening::Sung;
using evening::WaitPicture;
using evening::WriteSong;
using evening::Yellow;

// What the header and the data of a 16-bit PCM WAV file say.
struct Wav {
  int channels = 0;
  int rate = 0;
  int bits = 0;
  std::vector<double> left;  // first channel, -1 .. 1
  double Seconds() const { return rate ? double(left.size()) / rate : 0; }
};

Wav ReadWav(const QString& path) {
  Wav wav;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return wav;
  const QByteArray bytes = file.readAll();
  for (qsizetype pos = 12; pos + 8 <= bytes.size();) {
    const char* chunk = bytes.constData() + pos;
    const quint32 size = qFromLittleEndian<quint32>(chunk + 4);
    if (bytes.mid(pos, 4) == "fmt ") {
      wav.channels = qFromLittleEndian<quint16>(chunk + 10);
      wav.rate = int(qFromLittleEndian<quint32>(chunk + 12));
      wav.bits = qFromLittleEndian<quint16>(chunk + 22);
    } else if (bytes.mid(pos, 4) == "data" && wav.bits == 16 && wav.channels > 0) {
      const qsizetype end = std::min<qsizetype>(bytes.size(), pos + 8 + size);
      for (qsizetype i = pos + 8; i + 1 < end; i += qsizetype{2} * wav.channels) {
        wav.left.push_back(qFromLittleEndian<qint16>(bytes.constData() + i) / 32768.0);
      }
    }
    pos += 8 + size + (size & 1);
  }
  return wav;
}

// The MP3 decoded by GStreamer, a decoder of its own.
Wav DecodeMp3(const QString& mp3) {
  const QString wav = mp3 + QStringLiteral(".decoded.wav");
  QProcess::execute(
      QStringLiteral("gst-launch-1.0"),
      {"-q", "filesrc", "location=" + mp3, "!", "decodebin", "!", "audioconvert", "!",
       "audio/x-raw,format=S16LE", "!", "wavenc", "!", "filesink", "location=" + wav});
  return ReadWav(wav);
}

// The bit rates (kbit/s) of the MPEG-1 layer III frames from the start to the ID3v1 tag;
// a frame that does not parse ends the list with -1.
std::vector<int> FrameBitrates(const QByteArray& mp3) {
  static constexpr int kKbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  static constexpr int kRates[] = {44100, 48000, 32000};
  std::vector<int> rates;
  const qsizetype end = mp3.size() - (mp3.right(128).startsWith("TAG") ? 128 : 0);
  for (qsizetype pos = 0; pos < end;) {
    const auto* h = reinterpret_cast<const unsigned char*>(mp3.constData() + pos);
    const int bitrate = end - pos < 4 ? 0 : h[2] >> 4;
    const int rate = end - pos < 4 ? 3 : (h[2] >> 2) & 3;
    if (h[0] != 0xFF || (h[1] & 0xFE) != 0xFA || bitrate == 0 || bitrate == 15 || rate == 3) {
      rates.push_back(-1);
      break;
    }
    rates.push_back(kKbps[bitrate]);
    pos += 144 * kKbps[bitrate] * 1000 / kRates[rate] + ((h[2] >> 1) & 1);
  }
  return rates;
}

// A text of an ID3v1 tag, as readers take it: up to a zero byte, trailing blanks dropped.
QByteArray TagField(const QByteArray& tag, int offset) {
  QByteArray text = tag.mid(offset, 30).split('\0').constFirst();
  while (text.endsWith(' ')) text.chop(1);
  return text;
}

// Waits until a saved take is whole: an MP3 once its tag is written, a WAV once its header
// counts every byte. Empty when it is, else what was found.
QString WaitTake(const QString& path, bool mp3, const DesktopSession& desktop) {
  QElapsedTimer waited;
  waited.start();
  QByteArray bytes;
  while (waited.elapsed() < 120000) {
    QFile file(path);
    bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    if (mp3 ? bytes.right(128).startsWith("TAG")
            : bytes.size() > 44 &&
                  qFromLittleEndian<quint32>(bytes.constData() + 4) == quint32(bytes.size() - 8)) {
      return {};
    }
    QThread::msleep(100);
  }
  return QStringLiteral("%1 holds %2 bytes, ending in %3; windows showing: %4")
      .arg(path)
      .arg(bytes.size())
      .arg(QString::fromLatin1(bytes.right(16).toHex(' ')),
           desktop.VisibleWindows().join(QStringLiteral(", ")));
}

// Waits for `ms` of a take or a song to pass: time itself is what is waited for.
void Let(int ms) {
  QThread::msleep(ms);
}

// The rig's sine sources compute their tone ahead of time, by up to their configured latency
// of two seconds, and a new stream is handed what was computed at once: a take may hold up to
// two seconds more than the time between the Record and Stop key presses (a busy machine
// handling Stop late adds a little). A microphone cannot run ahead; a take never runs much
// shorter than the presses were apart.
void ExpectTakeLength(double seconds, double pressed) {
  EXPECT_GT(seconds, pressed - 0.3) << "the take is shorter than the keys were apart";
  EXPECT_LT(seconds, pressed + 2.8) << "the take is longer than the keys were apart";
}

// The program still runs at the end of the evening, and when it ends it has reported no
// memory fault or undefined behaviour. Leaks at exit are not counted: the X and GLib
// libraries keep caches the program cannot free.
void ExpectSoundEnd(DesktopSession& desktop) {
  EXPECT_TRUE(desktop.ProgramRunning()) << "the program ended during the evening:\n"
                                        << desktop.ProgramLog().toStdString();
  const QString log = desktop.EndProgram();
  EXPECT_FALSE(log.contains("ERROR: AddressSanitizer") || log.contains("runtime error:"))
      << log.toStdString();
}

}  // namespace

TEST(Evening, AKaraokeSongIsSungAlongAndTheTakeSavedAsATaggedMp3) {
  DesktopSession desktop;
  const QString song = desktop.Folder() + "/evening.kar";
  const QString take = desktop.Folder() + "/evening.mp3";
  WriteSong(song);
  desktop.StartProgram();
  desktop.SetMp3Info("Evening Song", "The Singers");
  desktop.OpenFile(song);
  const QString lyrics = desktop.WaitWindow("lyric");

  desktop.Focus(desktop.MainWindow());
  desktop.Keys(desktop.MainWindow(), {"F5"});
  QElapsedTimer recording;
  recording.start();
  const QImage early = desktop.Screenshot(lyrics);
  Let(3000);
  const QImage later = desktop.Screenshot(lyrics);
  Let(std::max(0, int(6000 - recording.elapsed())));
  desktop.Focus(desktop.MainWindow());
  const double pressed = recording.elapsed() / 1000.0;
  desktop.Keys(desktop.MainWindow(), {"F6"});
  EXPECT_GT(Pixels(early, NotSung), 300) << "the lyric window shows no words to sing";
  EXPECT_GT(Pixels(later, Sung), Pixels(early, Sung) + 100)
      << "the lyrics did not colour on as the song went on: " << Pixels(early, Sung)
      << " coloured pixels, three seconds later " << Pixels(later, Sung);

  desktop.SaveTakeAs(take);
  ASSERT_EQ(WaitTake(take, true, desktop), "") << "no tagged MP3";
  QFile file(take);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray mp3 = file.readAll();
  const QByteArray tag = mp3.right(128);
  EXPECT_EQ(TagField(tag, 3), "Evening Song");
  EXPECT_EQ(TagField(tag, 33), "The Singers");
  const std::vector<int> bitrates = FrameBitrates(mp3);
  EXPECT_EQ(std::count(bitrates.begin(), bitrates.end(), 160), qsizetype(bitrates.size()))
      << "frames not at 160 kbit/s (-1: a frame header that does not parse) among "
      << bitrates.size();
  const Wav decoded = DecodeMp3(take);
  EXPECT_EQ(decoded.rate, 44100);
  ExpectTakeLength(decoded.Seconds(), pressed);
  EXPECT_TRUE(HasTone(decoded.left, 44100, 440)) << "the rig's microphone tone is not in the take";
  ExpectSoundEnd(desktop);
}

TEST(Evening, AVideoPlaysWhileATakeIsRecordedAndSavedAsWav) {
  DesktopSession desktop;
  const QString video = desktop.Folder() + "/clip.mpg";
  const QString take = desktop.Folder() + "/clip take.wav";
  ASSERT_EQ(media_fixtures::WriteMpegVideo(video, 320, 240, "smpte", 10, true), "");
  desktop.StartProgram();
  desktop.OpenFile(video);
  const QString view = desktop.WaitWindow("view");
  EXPECT_GT(Pixels(WaitPicture(desktop, view, Yellow, 1000), Yellow), 1000)
      << "the video window shows no colour bars";

  desktop.Focus(desktop.MainWindow());
  desktop.Keys(desktop.MainWindow(), {"F5"});
  QElapsedTimer recording;
  recording.start();
  Let(4000);
  desktop.Focus(desktop.MainWindow());
  const double pressed = recording.elapsed() / 1000.0;
  desktop.Keys(desktop.MainWindow(), {"F6"});
  desktop.SaveTakeAs(take);
  ASSERT_EQ(WaitTake(take, false, desktop), "") << "no whole WAV";

  const Wav wav = ReadWav(take);
  EXPECT_EQ(wav.rate, 44100);
  EXPECT_EQ(wav.bits, 16);
  EXPECT_EQ(wav.channels, 2);
  ExpectTakeLength(wav.Seconds(), pressed);
  EXPECT_TRUE(HasTone(wav.left, 44100, 440)) << "the rig's microphone tone is not in the take";
  ExpectSoundEnd(desktop);
}
