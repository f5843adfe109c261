// The installed program's start as a singer meets it: the main window is on the screen before
// the synthesizer reads its SoundFont, and a KAR song opened at once plays from its first note.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <atomic>
#include <thread>

#include "DesktopSession.h"
#include "MonitorRecorder.h"
#include "StartupWatch.h"
#include "midi/ScaleSong.h"

namespace {

TEST(FirstSong, TheWindowShowsBeforeTheSoundFontIsReadAndASongOpenedAtOncePlaysFromItsStart) {
  DesktopSession desktop;
  // A SoundFont of the session's own: only this program's reading of it is seen.
  const QString font = desktop.Folder() + "/general-midi.sf2";
  ASSERT_TRUE(QFile::copy("/usr/share/sounds/sf2/TimGM6mb.sf2", font));
  const QString song = desktop.Folder() + "/scale.kar";
  scale_song::Write(song.toStdString());
  StartupWatch watch(desktop.Display(), font);
  ASSERT_TRUE(watch.Usable());

  desktop.StartProgram({"SONARELLE_SOUNDFONT=" + font});
  // The session's speakers are heard from before the song is opened to well after it.
  const QByteArray server = qgetenv("PULSE_SERVER");
  qputenv("PULSE_SERVER", desktop.SoundServer().toUtf8());
  monitor_recorder::Recording heard;
  std::string failure;
  std::atomic<bool> listened{false};
  std::atomic<bool> flowing{false};
  const std::jthread listening([&] {
    failure =
        monitor_recorder::Record("speakers.monitor", std::size_t(monitor_recorder::kRate) * 20,
                                 std::chrono::seconds(30), &heard, &flowing);
    listened = true;
  });
  while (!flowing && !listened) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  desktop.OpenFile(song);
  // The song's words on the display window, big enough to sing from across the room: the
  // lit rows of a screenshot span a good part of its height.
  const QString view = desktop.WaitWindow("view");
  int litRows = 0;
  for (int tries = 0; tries < 50 && litRows == 0; ++tries) {
    const QImage shot = desktop.Screenshot(view);
    for (int y = 0; y < shot.height(); ++y) {
      bool lit = false;
      for (int x = 0; x < shot.width() && !lit; ++x) lit = qGray(shot.pixel(x, y)) > 128;
      litRows += lit ? 1 : 0;
    }
    if (litRows == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  // The lyric window's 13-pixel text would light 13 rows at most.
  EXPECT_GT(litRows, 26) << "the words on the display window are small or missing";

  const QStringList events = watch.Events(20000);
  const qsizetype shown = events.indexOf("map " + desktop.MainWindow());
  const qsizetype read = events.indexOf("open");
  const std::string seen = events.join(", ").toStdString();
  ASSERT_GE(read, 0) << "the synthesizer never read its SoundFont; seen: " << seen;
  ASSERT_GE(shown, 0) << "the main window was never mapped; seen: " << seen;
  EXPECT_LT(shown, read) << "the SoundFont was read before the main window was on the screen; "
                         << "seen: " << seen;

  while (!listened) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  qputenv("PULSE_SERVER", server);
  ASSERT_EQ(failure, "");
  EXPECT_EQ(scale_song::StartsAtItsFirstNote(heard.left, monitor_recorder::kRate), "");
  EXPECT_TRUE(desktop.ProgramRunning()) << desktop.ProgramLog().toStdString();
}

}  // namespace
