// Accompaniment playback from the main window, for real: files played through the media
// service to the test rig's sound server, the tick reading the time, the display window.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QScreen>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include "EventWait.h"
#include "MediaFixtures.h"
#include "MonitorRecorder.h"
#include "app/FrmDisplay.h"
#include "app/FrmMain.h"
#include "app/ProgramWindows.h"
#include "app/TimeDisplay.h"
#include "displays/MMLEDLabel.h"
#include "media/MediaPlayer.h"
#include "midi/FrmMidiPlayer.h"
#include "platform/MciCommand.h"
#include "platform/MediaDevice.h"
#include "platform/MessageBoxes.h"
#include "platform/ProgramFolder.h"
#include "support/ModalBoxWatcher.h"
#include "support/Tone.h"

namespace sonarelle {
namespace {

using event_wait::WaitUntil;

class PlaybackTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    qputenv("SONARELLE_SOUNDFONT", media_fixtures::kTestSoundFont);
    dir_ = std::make_unique<QTemporaryDir>();
    media_fixtures::WriteToneWav(Path("tone2s.wav"), 440, 440, 2.0);
    ASSERT_EQ(media_fixtures::WriteToneMp3(Path("SONG.MP3"), 440, 3.0), "");
    ASSERT_EQ(media_fixtures::WriteMpegVideo(Path("red.mpg"), 352, 288, "red", 1.5, true), "");
    media_fixtures::WriteMidi(Path("damaged.mid"), 1500);
    media_fixtures::DamageMidi(Path("damaged.mid"));
    for (const int status : {0xF1, 0xF9, 0xFE}) {
      media_fixtures::WriteIllegalStatusMidi(Path("illegal%1.mid", status), status);
    }
    // A damaged MIDI file named as an MP3 reaches the media service's parser.
    media_fixtures::WriteIllegalStatusMidi(Path("misnamed.mp3"), 0xF5);
    // A recorder (General MIDI 75): nearly a pure tone of A4.
    media_fixtures::WriteMidiWithMiscountedTracks(Path("miscounted.mid"), 3000, 74);
    QFile junk(Path("junk.mp3"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
  }
  static void TearDownTestSuite() { dir_.reset(); }
  static QString Path(const char* name) { return dir_->filePath(QString::fromLatin1(name)); }
  static QString Path(const char* pattern, int status) {
    return dir_->filePath(QString::fromLatin1(pattern).arg(status, 0, 16).toUpper());
  }

  void SetUp() override {
    SetProgramFolder(dir_->path());
    windows_ = std::make_unique<TProgramWindows>();
    main_ = windows_->FrmMain.get();
    main_->show();
  }
  void TearDown() override {
    windows_.reset();
    SetProgramFolder(QString());
  }

  bool On(const char* name) const { return main_->Item(QString::fromLatin1(name))->isEnabled(); }
  QString Led() const { return main_->MMLEDLABEL1->Caption(); }
  bool WaitForTick() {
    const QString before = Led();
    return WaitUntil([&] { return Led() != before; }, 2500);
  }

  static std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<TProgramWindows> windows_;
  TFrmMain* main_ = nullptr;
};

std::unique_ptr<QTemporaryDir> PlaybackTest::dir_;

TEST(TimeDisplayTest, LengthThenPositionInHoursMinutesSeconds) {
  EXPECT_EQ(TimeDisplayText(245000, 61500), "00:04:05   00:01:01");
  EXPECT_EQ(TimeDisplayText(0, 999), "00:00:00   00:00:00");
  EXPECT_EQ(TimeDisplayText(360000000, 3599999), "100:00:00   00:59:59");
  EXPECT_EQ(QString(kTimeDisplayAtStart).size(), 19);
  EXPECT_EQ(QString(kTimeDisplayAtEnd).size(), 18);
}

TEST_F(PlaybackTest, AnAudioFilePlaysWithTheTimeShownEverySecond) {
  main_->PlayFile(Path("SONG.MP3"));  // the extension's case does not matter
  EXPECT_EQ(main_->FMediaKind, TMediaKind::mkAudio);
  EXPECT_FALSE(windows_->FrmDisplay->isVisible());
  EXPECT_TRUE(main_->Timer1->isActive());
  EXPECT_FALSE(On("N21"));
  EXPECT_TRUE(On("N22"));
  EXPECT_TRUE(On("N23"));
  EXPECT_FALSE(On("N51") || On("N52") || On("MenuScreen") || On("MenuWindows"));
  EXPECT_EQ(main_->BtnPause->isEnabled(), On("N22"));

  ASSERT_TRUE(WaitForTick());
  EXPECT_TRUE(Led().startsWith("00:00:03   00:00:0")) << Led().toStdString();
  EXPECT_TRUE(main_->suiTrackBar1->isEnabled());
  EXPECT_NEAR(main_->suiTrackBar1->maximum(), 3000, 100);
  const int shown = main_->suiTrackBar1->value();

  // Moving the bar by hand does not seek; the next tick puts it back.
  main_->suiTrackBar1->setValue(0);
  ASSERT_TRUE(WaitUntil([&] { return main_->suiTrackBar1->value() > shown; }, 2500));
}

TEST_F(PlaybackTest, PauseResumesWhereItPausedAndStopStartsOver) {
  main_->PlayFile(Path("SONG.MP3"));
  WaitUntil([&] { return main_->MediaPlayer1->Position() > 600; }, 3000);
  main_->BtnPause->click();
  EXPECT_EQ(main_->FPlayState, TPlayState::psPaused);
  EXPECT_TRUE(On("N21") && !On("N22") && On("N23"));
  const int paused = main_->MediaPlayer1->Position();
  event_wait::Pump(400);
  EXPECT_NEAR(main_->MediaPlayer1->Position(), paused, 50);
  main_->BtnPlay->click();
  ASSERT_TRUE(WaitUntil([&] { return main_->MediaPlayer1->Position() > paused + 200; }, 3000));

  main_->BtnStop->click();
  EXPECT_EQ(main_->FPlayState, TPlayState::psStopped);
  EXPECT_TRUE(On("N21") && !On("N22") && !On("N23"));
  EXPECT_LT(main_->MediaPlayer1->Position(), 100);
  EXPECT_TRUE(main_->Timer1->isActive()) << "the display goes on after Stop";
  main_->BtnPlay->click();
  ASSERT_TRUE(WaitUntil([&] { return main_->MediaPlayer1->Position() > 300; }, 3000));
  EXPECT_LT(main_->MediaPlayer1->Position(), 1500);
}

TEST_F(PlaybackTest, TheNaturalEndResetsTheDisplayAndPlayStartsAgain) {
  main_->PlayFile(Path("tone2s.wav"));
  ASSERT_TRUE(WaitUntil([&] { return main_->FPlayState == TPlayState::psEnded; }, 5000));
  EXPECT_EQ(Led(), "00:00:00  00:00:00");
  EXPECT_FALSE(main_->Timer1->isActive());
  EXPECT_FALSE(main_->suiTrackBar1->isEnabled());
  EXPECT_EQ(main_->suiTrackBar1->value(), 0);
  EXPECT_FALSE(On("N22") || On("N23"));
  ASSERT_TRUE(On("N21"));
  EXPECT_EQ(main_->MediaPlayer1->Mode(), mpNotReady) << "the device is closed at the end";

  main_->BtnPlay->click();  // plays the same file again rather than a closed device
  EXPECT_EQ(main_->FPlayState, TPlayState::psPlaying);
  EXPECT_TRUE(main_->Timer1->isActive());
  ASSERT_TRUE(WaitUntil([&] { return main_->MediaPlayer1->Position() > 200; }, 3000));
}

TEST_F(PlaybackTest, UnsupportedAndUnopenableFilesLeaveNothingActingOnAClosedDevice) {
  main_->PlayFile(Path("SONG.MP3"));
  {
    ModalBoxWatcher boxes;
    main_->PlayFile(Path("song.ogg"));
    main_->PlayFile(Path("clip.mpeg"));
    ASSERT_EQ(boxes.Texts(), (QStringList{"Do not support this file format!",
                                          "Do not support this file format!"}));
    EXPECT_EQ(boxes.Boxes()[0].caption, "sonarelle recorder");
  }
  EXPECT_FALSE(main_->Timer1->isActive());
  EXPECT_FALSE(On("N21") || On("N22") || On("N23"));
  EXPECT_EQ(main_->MediaPlayer1->Mode(), mpNotReady);

  for (const char* bad : {"missing.wav", "junk.mp3"}) {
    main_->PlayFile(Path("SONG.MP3"));
    try {
      main_->PlayFile(Path(bad));
      ADD_FAILURE() << bad << " opened";
    } catch (const EMCIDeviceError& error) {
      EXPECT_FALSE(error.Message().isEmpty());
      EXPECT_NE(error.Message(), kNoMciDeviceOpen);
    }
    EXPECT_FALSE(main_->Timer1->isActive()) << bad;
    EXPECT_FALSE(On("N21") || On("N22") || On("N23")) << bad;
    EXPECT_EQ(Led(), "00:00:00   00:00:00");
  }
}

TEST_F(PlaybackTest, AFailureWhilePlayingShowsTheServiceErrorAndPlayStartsAgain) {
  ModalBoxWatcher boxes;
  main_->PlayFile(Path("damaged.mid"));
  ASSERT_TRUE(WaitUntil([&] { return !boxes.Boxes().isEmpty(); }, 5000))
      << "the failure was not reported";
  EXPECT_EQ(boxes.Texts(), QStringList{"Internal data stream error."});
  EXPECT_TRUE(boxes.Boxes()[0].critical);
  EXPECT_EQ(boxes.Boxes()[0].caption, "sonarelle recorder");
  EXPECT_EQ(main_->FPlayState, TPlayState::psStopped);
  EXPECT_TRUE(On("N21") && !On("N22") && !On("N23"));
  // Ticks go on, showing where it failed, and do not take the failure for the end.
  event_wait::Pump(1200);
  EXPECT_TRUE(main_->Timer1->isActive());
  const int length = main_->MediaPlayer1->Length();
  EXPECT_GT(length, 0);
  EXPECT_EQ(Led(), TimeDisplayText(length, main_->MediaPlayer1->Position()));
  EXPECT_EQ(boxes.Boxes().size(), 1);

  main_->BtnPlay->click();
  EXPECT_EQ(main_->FPlayState, TPlayState::psPlaying);
  // After a failure the pipeline starts over and its synthesizer loads the SoundFont again:
  // seconds under the sanitizers beside other tests. Played again, the damaged song fails
  // again; on a slow machine that can come before a position past 300 ms is seen.
  EXPECT_TRUE(WaitUntil(
      [&] { return main_->MediaPlayer1->Position() > 300 || boxes.Boxes().size() == 2; }, 15000))
      << "Play after the failure did not play";
  EXPECT_TRUE(WaitUntil([&] { return boxes.Boxes().size() == 2; }, 5000));
  EXPECT_EQ(boxes.Texts().value(1), "Internal data stream error.");

  main_->PlayFile(Path("tone2s.wav"));
  EXPECT_TRUE(WaitUntil([&] { return main_->FPlayState == TPlayState::psEnded; }, 5000));
  EXPECT_EQ(boxes.Boxes().size(), 2);
}

// The media service's parser loops for ever on these: the program's own reader refuses them
// before, and the next file plays.
TEST_F(PlaybackTest, AMidiFileWithAnIllegalStatusByteIsRefusedAndTheNextFilePlays) {
  ModalBoxWatcher boxes;
  qsizetype shown = 0;
  for (const int status : {0xF1, 0xF9, 0xFE}) {
    const QString file = Path("illegal%1.mid", status);
    RunGuarded([&] { main_->PlayFile(file); });
    ASSERT_EQ(boxes.Boxes().size(), ++shown);
    EXPECT_EQ(boxes.Texts().constLast(),
              QStringLiteral("\"%1\" is a damaged MIDI file and cannot be played.").arg(file));
    EXPECT_TRUE(boxes.Boxes().constLast().critical);
    EXPECT_FALSE(main_->Timer1->isActive());
    EXPECT_FALSE(main_->MediaPlayer1->Opening());
    EXPECT_EQ(Led(), "00:00:00   00:00:00");
    main_->PlayFile(Path("tone2s.wav"));
    EXPECT_TRUE(main_->Timer1->isActive());
    EXPECT_TRUE(WaitUntil([&] { return main_->MediaPlayer1->Position() > 200; }, 5000))
        << "the next file did not play";
  }
  EXPECT_EQ(boxes.Boxes().size(), shown);
}

// A file the service cannot read in time: the window goes on answering, the error box says
// so, and the next file plays.
TEST_F(PlaybackTest, AFileTheServiceCannotReadInTimeEndsInTheErrorBoxWhileTheWindowAnswers) {
  ModalBoxWatcher boxes;
  main_->MediaPlayer1->SetOpenTimeLimit(std::chrono::milliseconds(2000));
  int ticks = 0;
  QTimer answering;
  QObject::connect(&answering, &QTimer::timeout, [&] {
    ++ticks;
    main_->repaint();
  });
  answering.start(100);
  RunGuarded([&] { main_->PlayFile(Path("misnamed.mp3")); });
  answering.stop();
  EXPECT_GE(ticks, 15) << "the window stood still while the file opened";
  EXPECT_EQ(boxes.Texts(), QStringList{"The media service could not read the file within 2 "
                                       "seconds. The file may be damaged."});
  EXPECT_FALSE(main_->Timer1->isActive());
  EXPECT_FALSE(On("N21") || On("N22") || On("N23"));

  main_->PlayFile(Path("SONG.MP3"));
  EXPECT_TRUE(WaitUntil([&] { return main_->MediaPlayer1->Position() > 300; }, 5000))
      << "the next file did not play";
  EXPECT_EQ(boxes.Boxes().size(), 1);
}

// The service refuses this song as it opens and the program's own reader takes it: it plays
// on the synthesizer, with no lyric window since it has no lyrics.
TEST_F(PlaybackTest, AMidiSongTheServiceRefusesPlaysOnTheSynthesizer) {
  ModalBoxWatcher boxes;
  ASSERT_TRUE(WaitUntil([&] { return windows_->FrmMidiPlayer->DeviceOpen; }, 5000));
  main_->PlayFile(Path("miscounted.mid"));
  EXPECT_TRUE(boxes.Boxes().isEmpty()) << boxes.Texts().join(' ').toStdString();
  EXPECT_EQ(main_->FMediaKind, TMediaKind::mkKaraoke);
  EXPECT_FALSE(windows_->FrmMidiPlayer->isVisible());
  EXPECT_FALSE(windows_->FrmDisplay->isVisible());
  EXPECT_TRUE(!On("N21") && On("N22") && On("N23"));
  // The song's clock starts once the synthesizer is ready; its note then holds on its own.
  ASSERT_TRUE(WaitUntil([&] { return main_->MidiFile1->PositionMs() > 300; }, 10000));
  const auto heard = monitor_recorder::RecordUntil(
      "speakers.monitor", monitor_recorder::kRate / 2, std::chrono::seconds(3),
      [](const monitor_recorder::Recording& r) {
        return NoteSounds(r.left, monitor_recorder::kRate, 440.0);
      });
  EXPECT_TRUE(NoteSounds(heard.left, monitor_recorder::kRate, 440.0)) << "the song is not heard";
  ASSERT_TRUE(WaitForTick());
  EXPECT_TRUE(Led().startsWith("00:00:03   00:00:0")) << Led().toStdString();

  main_->PlayFile(Path("tone2s.wav"));
  EXPECT_EQ(main_->FMediaKind, TMediaKind::mkAudio);
  EXPECT_TRUE(WaitUntil([&] { return main_->MediaPlayer1->Position() > 200; }, 5000));
  EXPECT_TRUE(boxes.Boxes().isEmpty());
}

TEST_F(PlaybackTest, AVideoShowsAboveTheMainWindowAndSwitchesScreenModes) {
  TFrmDisplay* display = windows_->FrmDisplay.get();
  main_->move(100, 500);
  main_->PlayFile(Path("red.mpg"));
  EXPECT_EQ(main_->FMediaKind, TMediaKind::mkVideo);
  ASSERT_TRUE(display->isVisible());
  EXPECT_EQ(display->Panel1->size(), QSize(352, 288));
  const QRect mainFrame = main_->frameGeometry();
  EXPECT_EQ(display->frameGeometry().bottom() + 1, mainFrame.top());
  EXPECT_EQ(display->frameGeometry().center().x(), mainFrame.center().x());
  EXPECT_TRUE(On("N51") && On("MenuScreen") && !On("N52") && !On("MenuWindows"));

  auto redAt = [&](int x, int y) {
    const QRgb c = display->Panel1->grab().toImage().pixel(x, y);
    return qRed(c) > 180 && qGreen(c) < 70 && qBlue(c) < 70;
  };
  ASSERT_TRUE(WaitUntil([&] { return redAt(176, 144); }, 3000)) << "no frame reached the panel";

  const QPoint windowed = display->pos();
  main_->Item("MenuScreen")->trigger();
  EXPECT_TRUE(display->isFullScreen());
  const QSize screen = display->screen()->geometry().size();
  EXPECT_EQ(display->Panel1->size(), screen);
  EXPECT_TRUE(!On("N51") && !On("MenuScreen") && On("N52") && On("MenuWindows"));
  ASSERT_TRUE(WaitUntil([&] { return redAt(screen.width() - 5, screen.height() - 5); }, 3000))
      << "the video does not fill the screen";

  main_->Item("N52")->trigger();
  EXPECT_FALSE(display->isFullScreen());
  EXPECT_EQ(display->pos(), windowed);
  EXPECT_EQ(display->Panel1->size(), QSize(352, 288));
  EXPECT_TRUE(On("N51") && !On("N52"));

  // Near the top of the screen the display window stops at the top edge.
  main_->move(100, 50);
  main_->PlayFile(Path("red.mpg"));
  EXPECT_EQ(display->frameGeometry().top(), 0);

  ASSERT_TRUE(WaitUntil([&] { return main_->FPlayState == TPlayState::psEnded; }, 5000));
  EXPECT_FALSE(display->isVisible()) << "the display window goes at the end";
}

TEST_F(PlaybackTest, TheOpenCommandOffersTheFilterAndPlaysTheChoice) {
  // The dialog is made once the window is on screen.
  ASSERT_TRUE(WaitUntil([&] { return main_->OpenDialog1 != nullptr; }, 5000));
  EXPECT_EQ(main_->OpenDialog1->nameFilters().constFirst(),
            "All Support File (*.mpg *.dat *.avi *.mp3 *.wav *.mid *.kar)");
  EXPECT_EQ(main_->OpenDialog1->nameFilters().size(), 7);
  main_->FDiscMode = true;
  QTimer::singleShot(50, main_, [this] {
    // Typed into the name field, as a user would.
    auto* name = main_->OpenDialog1->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(Path("tone2s.wav"));
    static_cast<QDialog*>(main_->OpenDialog1)->done(QDialog::Accepted);
  });
  main_->Item("N11")->trigger();
  EXPECT_FALSE(main_->FDiscMode);
  EXPECT_FALSE(main_->Item("MenuVCD")->isVisible());
  EXPECT_EQ(main_->FMediaKind, TMediaKind::mkAudio);
  EXPECT_TRUE(main_->Timer1->isActive());
}

TEST_F(PlaybackTest, ChannelCommandsSelectWhatTheServicePlays) {
  main_->Item("N42")->trigger();
  EXPECT_EQ(CurrentAudioChannels(), (AudioChannels{true, false}));
  main_->Item("N43")->trigger();
  EXPECT_EQ(CurrentAudioChannels(), (AudioChannels{false, true}));
  main_->Item("N41")->trigger();
  EXPECT_EQ(CurrentAudioChannels(), (AudioChannels{true, true}));
}

}  // namespace
}  // namespace sonarelle
