// A damaged song opened from the installed program's File menu, as a singer would, while a
// take is recorded: a logout while the media service reads it ends the program with the
// take finished.
#include <gtest/gtest.h>

#include <QDirIterator>
#include <QElapsedTimer>
#include <QThread>

#include "DesktopSession.h"
#include "MediaFixtures.h"
#include "RigAudio.h"

namespace {

TEST(DamagedSong, ALogoutWhileTheMediaServiceReadsItKeepsTheTake) {
  DesktopSession desktop;
  // A system status byte in the track, on which the media service's parser loops for ever;
  // named as an MP3, the program does not read it first.
  const QString song = desktop.Folder() + "/damaged.mp3";
  media_fixtures::WriteIllegalStatusMidi(song, 0xF4);
  desktop.StartProgram();
  desktop.Focus(desktop.MainWindow());
  desktop.Keys(desktop.MainWindow(), {"F5"});  // Record
  QThread::msleep(1000);
  desktop.OpenFile(song);
  QThread::msleep(2000);
  ASSERT_TRUE(desktop.ProgramRunning());
  QElapsedTimer ending;
  ending.start();
  desktop.EndProgram();
  EXPECT_LT(ending.elapsed(), 20000) << "the program did not end at the logout";

  QStringList takes;
  QDirIterator found(desktop.Folder() + "/user", {"*.wav"}, QDir::Files,
                     QDirIterator::Subdirectories);
  while (found.hasNext()) takes << found.next();
  ASSERT_EQ(takes.size(), 1) << desktop.ProgramLog().toStdString();
  const WaveContents take = ReadWave(takes.constFirst());
  EXPECT_TRUE(take.final) << "the take was not finished";
  EXPECT_GE(take.data.size(), 44100 * 4 * 3 / 2) << "the take lost what it recorded";
}

}  // namespace
