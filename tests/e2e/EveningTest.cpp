// An evening with the installed program, as a singer meets it: a private X server and sound
// server, real key presses and typed text, and the takes checked as files afterwards.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <algorithm>

#include "DesktopSession.h"
#include "EncodeFixtures.h"
#include "EveningFixtures.h"
#include "MediaFixtures.h"
#include "RigAudio.h"
#include "encode/MP3Info.h"
#include "support/Tone.h"

namespace {

using evening::NotSung;
using evening::Pixels;
using evening::Sung;
using evening::WaitPicture;
using evening::WriteSong;
using evening::Yellow;
using sonarelle::TMP3Info;

// Waits until a saved take is whole: an MP3 once its tag is written, a WAV once its header
// counts every byte. Empty when it is, else what was found.
QString WaitTake(const QString& path, bool mp3, const DesktopSession& desktop) {
  QElapsedTimer waited;
  waited.start();
  QByteArray bytes;
  while (waited.elapsed() < 120000) {
    QFile file(path);
    bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    if (mp3 ? bytes.right(128).startsWith("TAG") : ReadWave(path).final) return {};
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
  // The display window, with the karaoke screen, opened after it and may lie over it.
  desktop.WaitWindow("view");
  desktop.Raise(lyrics);

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
  TMP3Info tag;
  tag.SetFilename(take);
  ASSERT_TRUE(tag.Valid()) << "no ID3v1 tag";
  EXPECT_EQ(tag.Title(), "Evening Song");
  EXPECT_EQ(tag.Artist(), "The Singers");
  const QByteArray mp3 = ReadFile(take);
  qsizetype end = 0;
  const std::vector<FrameHeader> frames = WalkFrames(mp3, end);
  EXPECT_EQ(end, mp3.size() - 128) << "a frame header that does not parse among " << frames.size();
  EXPECT_EQ(std::count_if(frames.begin(), frames.end(),
                          [](const FrameHeader& frame) { return frame.bitrateKbps == 160; }),
            qsizetype(frames.size()))
      << "frames not at 160 kbit/s";
  const DecodedAudio decoded = DecodeMp3(take);
  ASSERT_TRUE(decoded.ok) << "GStreamer could not decode the take";
  EXPECT_EQ(decoded.rate, 44100);
  ExpectTakeLength(double(decoded.left.size()) / decoded.rate, pressed);
  EXPECT_TRUE(HasTone(decoded.left, 44100, 440)) << "the rig's microphone tone is not in the take";
  // Once more: the open dialog opens a second song as it did the first (OpenFile fails the
  // test when the dialog stays).
  desktop.OpenFile(song);
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

  const WaveContents wav = ReadWave(take);
  EXPECT_EQ(wav.rate, 44100);
  EXPECT_EQ(wav.bits, 16);
  EXPECT_EQ(wav.channels, 2);
  const std::vector<double> left = Channel(wav.data, wav.bits, wav.channels, 0);
  ExpectTakeLength(double(left.size()) / 44100, pressed);
  EXPECT_TRUE(HasTone(left, 44100, 440)) << "the rig's microphone tone is not in the take";
  ExpectSoundEnd(desktop);
}
