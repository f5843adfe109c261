// The media player over the real media service: opening, the transport, the natural end,
// errors and what Close leaves behind. Sound goes to the test rig's sound server.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

#include "EventWait.h"
#include "MediaFixtures.h"
#include "media/MediaPlayer.h"
#include "platform/MediaDevice.h"

namespace sonarelle {
namespace {

using event_wait::Pump;
using event_wait::WaitUntil;

constexpr int kWaitMs = 5000;

class MediaPlayerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    qputenv("SONARELLE_SOUNDFONT", media_fixtures::kTestSoundFont);
    dir_ = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(dir_->isValid());
    media_fixtures::WriteToneWav(Path("tone.wav"), 440, 440, 2.0);
    media_fixtures::WriteToneWav(Path("short.wav"), 440, 440, 0.6);
    ASSERT_EQ(media_fixtures::WriteToneMp3(Path("tone.mp3"), 440, 2.0), "");
    media_fixtures::WriteMidi(Path("note.mid"), 800);
    media_fixtures::WriteMidi(Path("damaged.mid"), 1500);
    media_fixtures::DamageMidi(Path("damaged.mid"));
    media_fixtures::WriteIllegalStatusMidi(Path("illegal.mid"), 0xF4);
    media_fixtures::WriteMidiWithMiscountedTracks(Path("miscounted.mid"), 800);
    QFile text(Path("notes.mp3"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("These are the words of the song, not its music.\n");
  }

  static void TearDownTestSuite() { dir_.reset(); }

  static QString Path(const char* name) { return dir_->filePath(QString::fromLatin1(name)); }

  // Opens and starts a file the way the main window does.
  void OpenAndPlay(const char* name) {
    player_.SetFileName(Path(name));
    player_.Open();
    player_.Play();
    player_.SetTimeFormat(tfMilliseconds);
  }

  // Runs the event loop until the position has reached `ms`.
  bool PlayUntil(int ms) {
    return WaitUntil([&] { return player_.Position() >= ms; }, kWaitMs);
  }

  static std::unique_ptr<QTemporaryDir> dir_;
  TMediaPlayer player_;
};

std::unique_ptr<QTemporaryDir> MediaPlayerTest::dir_;

TEST_F(MediaPlayerTest, OpenReportsLengthAndPositionAndPlayingAdvancesInRealTime) {
  player_.SetFileName(Path("tone.wav"));
  player_.Open();
  EXPECT_NEAR(player_.Length(), 2000, 5);
  EXPECT_EQ(player_.Position(), 0);
  EXPECT_EQ(player_.Mode(), mpStopped);
  EXPECT_TRUE(player_.DisplayRect().isEmpty()) << "audio has no picture";

  QElapsedTimer clock;
  clock.start();
  player_.Play();
  EXPECT_EQ(player_.Mode(), mpPlaying);
  ASSERT_TRUE(PlayUntil(300));
  const int first = player_.Position();
  // Played, not raced through: the position never runs ahead of the wall clock.
  EXPECT_LE(first, clock.elapsed() + 100);
  Pump(300);
  const int second = player_.Position();
  EXPECT_GT(second, first);
  EXPECT_LE(second, clock.elapsed() + 100);
  EXPECT_LT(second, player_.Length());
}

TEST_F(MediaPlayerTest, Mp3AndMidiReportTheirLengths) {
  player_.SetFileName(Path("tone.mp3"));
  player_.Open();
  EXPECT_NEAR(player_.Length(), 2000, 100);
  player_.SetFileName(Path("note.mid"));
  player_.Open();
  EXPECT_NEAR(player_.Length(), 800, 100);
  EXPECT_EQ(player_.Position(), 0);
}

TEST_F(MediaPlayerTest, PauseThenPauseResumesWherePaused) {
  OpenAndPlay("tone.wav");
  ASSERT_TRUE(PlayUntil(400));
  player_.Pause();
  EXPECT_EQ(player_.Mode(), mpPaused);
  Pump(100);
  const int paused = player_.Position();
  Pump(400);
  EXPECT_NEAR(player_.Position(), paused, 20) << "a paused device holds its position";

  player_.Pause();
  EXPECT_EQ(player_.Mode(), mpPlaying);
  Pump(100);
  EXPECT_GE(player_.Position(), paused - 20) << "resumed from the beginning";
  EXPECT_TRUE(PlayUntil(paused + 300)) << "did not play on after the second Pause";
}

TEST_F(MediaPlayerTest, StopHoldsThePositionAndRewindThenPlayStartsAgain) {
  OpenAndPlay("tone.wav");
  ASSERT_TRUE(PlayUntil(600));
  player_.Stop();
  EXPECT_EQ(player_.Mode(), mpStopped);
  Pump(100);
  const int stopped = player_.Position();
  EXPECT_GE(stopped, 600);
  Pump(300);
  EXPECT_NEAR(player_.Position(), stopped, 20);

  // Play after Stop alone goes on from the stopped position.
  player_.Play();
  Pump(100);
  EXPECT_GE(player_.Position(), stopped - 20);

  player_.Stop();
  player_.Rewind();
  EXPECT_EQ(player_.Position(), 0);
  EXPECT_EQ(player_.Mode(), mpStopped);
  player_.Play();
  ASSERT_TRUE(PlayUntil(100));
  EXPECT_LT(player_.Position(), stopped) << "Play after Rewind did not start at the beginning";
}

TEST_F(MediaPlayerTest, TheNaturalEndMakesThePositionReachTheLengthAndPlayStartsOver) {
  int notices = 0;
  player_.OnNotify = [&](TMediaPlayer* sender) {
    EXPECT_EQ(sender, &player_);
    ++notices;
  };
  OpenAndPlay("short.wav");
  const int length = player_.Length();
  EXPECT_NEAR(length, 600, 5);
  ASSERT_TRUE(WaitUntil([&] { return player_.Position() >= length; }, kWaitMs));
  EXPECT_TRUE(WaitUntil([&] { return notices == 1; }, kWaitMs));
  EXPECT_EQ(player_.Mode(), mpStopped);
  Pump(200);
  EXPECT_EQ(player_.Position(), length) << "the end must stay visible to a polling caller";
  EXPECT_EQ(player_.Error(), QString());

  // At the end, Play rewinds first.
  player_.Play();
  EXPECT_LT(player_.Position(), length / 2);
  EXPECT_TRUE(WaitUntil([&] { return notices == 2; }, kWaitMs));
  EXPECT_EQ(player_.Position(), length);
}

TEST_F(MediaPlayerTest, MidiPlaysToItsEnd) {
  OpenAndPlay("note.mid");
  const int length = player_.Length();
  ASSERT_GT(length, 0);
  EXPECT_TRUE(PlayUntil(length / 2));
  EXPECT_TRUE(WaitUntil([&] { return player_.Position() >= length; }, kWaitMs));
}

void ExpectNoDevice(TMediaPlayer& player) {
  const QString expected = QStringLiteral("No MCI device open");
  const auto raises = [&](const char* what, auto operation) {
    try {
      operation();
      ADD_FAILURE() << what << " did not raise on a closed device";
    } catch (const EMCIDeviceError& error) {
      EXPECT_EQ(error.Message(), expected) << what;
    }
  };
  raises("Length", [&] { (void)player.Length(); });
  raises("Position", [&] { (void)player.Position(); });
  raises("Play", [&] { player.Play(); });
  raises("Pause", [&] { player.Pause(); });
  raises("Stop", [&] { player.Stop(); });
  raises("Rewind", [&] { player.Rewind(); });
  EXPECT_EQ(player.Mode(), mpNotReady);
  EXPECT_TRUE(player.DisplayRect().isEmpty());
}

TEST_F(MediaPlayerTest, OperationsOnAClosedDeviceRaiseNoMciDeviceOpen) {
  ExpectNoDevice(player_);
  player_.Close();  // harmless
  OpenAndPlay("tone.wav");
  player_.Close();
  ExpectNoDevice(player_);
  player_.Close();
}

TEST_F(MediaPlayerTest, FilesTheServiceCannotPlayRaiseItsErrorAndLeaveNothingOpen) {
  OpenAndPlay("tone.wav");
  for (const char* name : {"missing.wav", "notes.mp3"}) {
    player_.SetFileName(Path(name));
    try {
      player_.Open();
      ADD_FAILURE() << name << " opened";
    } catch (const EMCIDeviceError& error) {
      EXPECT_FALSE(error.Message().isEmpty()) << name;
      EXPECT_NE(error.Message(), QStringLiteral("No MCI device open")) << name;
    }
    // The device that was open before is closed as well.
    ExpectNoDevice(player_);
  }
  player_.SetFileName(QString());
  EXPECT_THROW(player_.Open(), EMCIDeviceError);
  // A good file opens again after the failures.
  player_.SetFileName(Path("tone.wav"));
  player_.Open();
  EXPECT_NEAR(player_.Length(), 2000, 5);
}

TEST_F(MediaPlayerTest, AFailureWhilePlayingIsNoEndAndPlayAndOpenWorkAfterIt) {
  int notices = 0;
  player_.OnNotify = [&](TMediaPlayer*) { ++notices; };
  OpenAndPlay("damaged.mid");
  const int length = player_.Length();
  ASSERT_TRUE(PlayUntil(300)) << "it failed before it played";
  ASSERT_TRUE(WaitUntil([&] { return notices == 1; }, kWaitMs)) << "no notice of the failure";
  EXPECT_EQ(player_.Error(), QStringLiteral("Internal data stream error."));
  EXPECT_EQ(player_.Mode(), mpStopped);
  const int failedAt = player_.Position();
  EXPECT_GE(failedAt, 300);
  EXPECT_LT(failedAt, length) << "the failure reads as the end";
  Pump(300);
  EXPECT_EQ(player_.Position(), failedAt);
  EXPECT_EQ(player_.Length(), length);
  EXPECT_EQ(notices, 1) << "one failure, one notice";

  // Play starts over and plays up to the damage again.
  player_.Play();
  EXPECT_EQ(player_.Mode(), mpPlaying);
  EXPECT_LT(player_.Position(), 300);
  EXPECT_TRUE(PlayUntil(300)) << "Play after the failure did not play";
  EXPECT_TRUE(WaitUntil([&] { return notices == 2; }, kWaitMs));

  // So does a good file opened after it, to its end.
  OpenAndPlay("short.wav");
  EXPECT_EQ(player_.Error(), QString());
  EXPECT_TRUE(WaitUntil([&] { return notices == 3; }, kWaitMs));
  EXPECT_EQ(player_.Position(), player_.Length());
  EXPECT_EQ(player_.Error(), QString());
}

int ThreadCount() {
  return static_cast<int>(
      QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

TEST_F(MediaPlayerTest, CloseLeavesNoThreadBehind) {
  const auto cycle = [&](const char* name) {
    OpenAndPlay(name);
    ASSERT_TRUE(PlayUntil(100));
    player_.Close();
    Pump(50);
  };
  // The first cycle starts what lives as long as the process (the sound server
  // connection's shared pieces, GStreamer's thread pool).
  ASSERT_NO_FATAL_FAILURE(cycle("tone.wav"));
  const int settled = ThreadCount();
  for (int i = 0; i < 3; ++i) {
    ASSERT_NO_FATAL_FAILURE(cycle(i % 2 ? "tone.mp3" : "tone.wav"));
  }
  // Destroying a playing player closes its device as well.
  {
    TMediaPlayer other;
    other.SetFileName(Path("tone.mp3"));
    other.Open();
    other.Play();
    Pump(100);
  }
  Pump(50);
  EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= settled; }, kWaitMs))
      << ThreadCount() << " threads after four more cycles, " << settled << " after the first";
}

// A file the service's parser loops on: Open gives it up at its time limit while the event
// loop runs, calls made meanwhile find no device, and the next file plays.
TEST_F(MediaPlayerTest, AFileTheServiceCannotReadInTimeIsGivenUpWhileTheLoopRuns) {
  OpenAndPlay("tone.wav");
  player_.SetOpenTimeLimit(std::chrono::milliseconds(1500));
  int ticks = 0;
  QStringList meanwhile;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (++ticks != 3) return;
    EXPECT_TRUE(player_.Opening());
    for (const auto& call : std::vector<std::function<void()>>{
             [&] { (void)player_.Position(); }, [&] { player_.Play(); }, [&] { player_.Open(); }}) {
      try {
        call();
        meanwhile << QStringLiteral("done");
      } catch (const EMCIDeviceError& error) {
        meanwhile << error.Message();
      }
    }
  });
  timer.start(100);
  player_.SetFileName(Path("illegal.mid"));
  QElapsedTimer clock;
  clock.start();
  try {
    player_.Open();
    ADD_FAILURE() << "opened";
  } catch (const EMCIDeviceError& error) {
    EXPECT_EQ(error.Message(),
              "The media service could not read the file within 2 seconds. The file may be "
              "damaged.");
  }
  timer.stop();
  EXPECT_GE(clock.elapsed(), 1500);
  EXPECT_GE(ticks, 10) << "the event loop stood still while the file opened";
  EXPECT_EQ(meanwhile, QStringList({"No MCI device open", "No MCI device open",
                                    "The media service is still opening another file."}));
  EXPECT_FALSE(player_.Opening());
  ExpectNoDevice(player_);
  player_.Close();

  // Closing while it opens calls the open off at once.
  QTimer::singleShot(200, [&] { player_.Close(); });
  clock.restart();
  try {
    player_.Open();
    ADD_FAILURE() << "opened";
  } catch (const EMCIDeviceError& error) {
    EXPECT_EQ(error.Message(), "Opening the file was called off.");
  }
  EXPECT_LT(clock.elapsed(), 1500);
  ExpectNoDevice(player_);

  player_.SetOpenTimeLimit(MediaDevice::kDefaultOpenTimeLimit);
  OpenAndPlay("note.mid");
  EXPECT_TRUE(PlayUntil(300)) << "the next file did not play";
}

// The service refuses a song as it opens: its own reason is given, not a time limit.
TEST_F(MediaPlayerTest, AFileRefusedAsItOpensGivesTheServiceReason) {
  player_.SetFileName(Path("miscounted.mid"));
  try {
    player_.Open();
    ADD_FAILURE() << "opened";
  } catch (const EMCIDeviceError& error) {
    // The first element to fail gives it; which one that is varies from run to run.
    EXPECT_FALSE(error.Message().isEmpty());
    EXPECT_FALSE(error.Message().startsWith("The media service")) << error.Message().toStdString();
  }
  ExpectNoDevice(player_);
}

}  // namespace
}  // namespace sonarelle
