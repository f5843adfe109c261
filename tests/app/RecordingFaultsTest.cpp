// What becomes of a take when things go wrong around it, tried through the main window on
// the test rig: the program closed while a take converts, a disk that fills up while
// recording, an input that goes away, a save or a tag that the disk refuses.
#include <sys/resource.h>

#include <csignal>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include "RecordingFixture.h"
#include "RigAudio.h"
#include "app/FrmTakes.h"
#include "app/FrmWaiting.h"
#include "audio/pump/MMTrigger.h"
#include "encode/MP3Info.h"
#include "midi/SmfWriter.h"
#include "support/ModalBoxWatcher.h"
#include "support/SmallDisk.h"
#include "support/Tone.h"

namespace sonarelle {
namespace {

using event_wait::WaitUntil;

class RecordingFaultsTest : public RecordingTest {
 protected:
  // Files of a folder, hidden ones too.
  static QStringList FilesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden);
  }
  // The program's close ended the message loop, which leaves every later loop (a dialog's)
  // ending at once: a loop run and ended here lets them run again.
  static void RunAgain() {
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
  }
};

// The singer closes the program while a take converts to MP3, with a KAR song paused. The
// close waits in the waiting window, over every other window, saying what it waits for;
// meanwhile nothing can be started (today F2 reached the freed lyric lines, and Record
// started a take the program then cut off), and no part of the MP3 file ever carries the
// singer's name. Stopping the conversion there closes at once and keeps the take; a
// conversion left to finish closes the program when it has.
TEST_F(RecordingFaultsTest, ClosingWaitsForTheConversionInItsOwnWindowAndStartsNothingMeanwhile) {
  ModalBoxWatcher boxes(false);
  const QString song = folder_.filePath("paused.kar");
  smf::Track texts;
  texts.Text(0, "\\Sing").Text(96, " a").Text(96, "/long").Text(96, " song");
  smf::Write(song.toStdString(), smf::Song(1, 96, {smf::Track().Tempo(0, 500000), texts}));
  main_->PlayFile(song);
  main_->Item("N22")->trigger();
  ASSERT_TRUE(main_->Item("N21")->isEnabled());

  main_->MMTrigger1->SetInterval(15);  // slowed down: the close comes while it converts
  RecordFor(2000);
  const QString take = main_->FTempWave;
  StopAndSaveAs(Out("first.mp3"));
  ASSERT_TRUE(main_->FConverting);
  bool played = false;
  // What a singer might press while the close waits.
  QTimer::singleShot(200, main_, [&] {
    main_->Item("N21")->trigger();
    played = main_->MidiFile1->Playing();
    QTest::keyClick(main_, Qt::Key_F5);
    main_->Item("N31")->trigger();
  });
  main_->close();
  EXPECT_TRUE(main_->isVisible()) << "the close waits, in the message loop";
  TFrmWaiting& waiting = *windows_->FrmWaiting;
  EXPECT_TRUE(waiting.isVisible());
  EXPECT_EQ(waiting.windowModality(), Qt::ApplicationModal);
  EXPECT_TRUE(waiting.Label1->text().contains("closes once the take is saved"));
  EXPECT_TRUE(waiting.BtnStop->isVisible());
  for (const char* command : {"N11", "N12", "N21", "N31", "N61", "N101"}) {
    EXPECT_FALSE(main_->Item(command)->isEnabled()) << command;
  }
  event_wait::Pump(400);
  EXPECT_FALSE(played);
  EXPECT_FALSE(main_->FRecording);
  EXPECT_TRUE(main_->FConverting);
  for (const QString& name : FilesIn(out_.path())) {
    EXPECT_FALSE(name.endsWith(".mp3"))
        << "a part of the MP3 under the singer's name: " << name.toStdString();
  }

  // Stop and keep the take: the program closes now.
  QTest::mouseClick(waiting.BtnStop, Qt::LeftButton);
  EXPECT_FALSE(main_->isVisible());
  EXPECT_FALSE(main_->FConverting);
  EXPECT_TRUE(ReadWave(take).final) << "the take stays for the next start";
  EXPECT_TRUE(FilesIn(out_.path()).isEmpty()) << FilesIn(out_.path()).join(' ').toStdString();
  EXPECT_TRUE(boxes.Boxes().isEmpty()) << boxes.Texts().join('\n').toStdString();
  QFile::remove(take);
  RunAgain();

  // Left to finish, the conversion ends the program itself, with the whole tagged MP3.
  windows_.reset();
  windows_ = std::make_unique<TProgramWindows>();
  main_ = windows_->FrmMain.get();
  main_->show();
  main_->MMTrigger1->SetInterval(5);
  RecordFor(1000);
  StopAndSaveAs(Out("second.mp3"));
  main_->close();
  ASSERT_TRUE(WaitUntil([&] { return !main_->isVisible(); }, 30000));
  TMP3Info tag;
  tag.SetFilename(Out("second.mp3"));
  EXPECT_TRUE(tag.Valid());
  EXPECT_EQ(FilesIn(out_.path()), QStringList{"second.mp3"});
  RunAgain();
}

// A take folder on a disk of 1 MiB, a little more than five seconds of take. The singer is
// warned once that little room is left, then told in the error box that the take cannot be
// written and where it is kept; the recording stops, and the save dialog offers the take.
// Saved onto the same full disk, the copy fails: the take waits in the takes window and
// Record starts the next one; from there it is saved elsewhere, whole.
TEST_F(RecordingFaultsTest, AFullDiskWhileRecordingIsToldAndTheTakeIsOffered) {
  SmallDisk disk(qint64{1024} * 1024);
  if (disk.RanElsewhere()) return;
  ModalBoxWatcher boxes(false);
  const QByteArray state = qgetenv("XDG_STATE_HOME");
  qputenv("XDG_STATE_HOME", QFile::encodeName(disk.Folder()));
  const auto restore = qScopeGuard([&] { qputenv("XDG_STATE_HOME", state); });
  disk.Arm();
  AnswerSaveDialog({QDir(disk.Folder()).filePath("onthesamedisk.wav")});
  main_->Item("N31")->trigger();
  ASSERT_TRUE(main_->FRecording);
  const QString take = main_->FTempWave;
  ASSERT_TRUE(take.startsWith(disk.Folder()));
  ASSERT_TRUE(WaitUntil([&] { return !main_->FRecording; }, 20000))
      << "on a " << disk.Kind().toStdString();
  ASSERT_TRUE(WaitUntil([&] { return windows_->FrmTakes->isVisible(); }, 20000));
  disk.Disarm();

  QStringList told = boxes.Texts();
  if (disk.Kind() == "tmpfs") {
    ASSERT_FALSE(told.isEmpty());
    EXPECT_TRUE(told.takeFirst().contains("less than a minute"));
  }
  ASSERT_EQ(told.size(), 2) << told.join('\n').toStdString();
  EXPECT_TRUE(told[0].contains("cannot be written")) << told[0].toStdString();
  EXPECT_TRUE(told[0].contains(QDir::toNativeSeparators(take))) << told[0].toStdString();
  EXPECT_TRUE(told[1].startsWith("Unable to save the take as")) << told[1].toStdString();
  EXPECT_TRUE(main_->Item("N31")->isEnabled());
  EXPECT_FALSE(main_->Item("N32")->isEnabled());
  ASSERT_EQ(windows_->FrmTakes->Takes().size(), 1u);
  EXPECT_EQ(windows_->FrmTakes->Takes().front()->Path(), take);

  const WaveContents kept = ReadWave(take);
  EXPECT_TRUE(kept.final);
  EXPECT_GT(kept.data.size(), 700 * 1024);
  AnswerSaveDialog({Out("rescued.wav")});
  windows_->FrmTakes->BtnSave->click();
  const WaveContents rescued = ReadWave(Out("rescued.wav"));
  EXPECT_EQ(rescued.data, kept.data);
  EXPECT_FALSE(QFile::exists(take));
}

// The take's input is unplugged while recording: the server carries on from another one.
// The singer is told at once which input went, which took its place and when, and the take
// runs on, whole, to the press of Stop.
TEST_F(RecordingFaultsTest, AnInputThatGoesAwayIsToldWithTheMomentAndTheTakeGoesOn) {
  ModalBoxWatcher boxes(false);
  const QString module =
      Pactl({"load-module", "module-sine-source", "source_name=usbmic", "frequency=660"});
  ASSERT_FALSE(module.isEmpty());
  Pactl({"set-default-source", "usbmic"});
  const auto restore = qScopeGuard([&] {
    Pactl({"unload-module", module});
    Pactl({"set-default-source", "mic"});
  });
  // Timed from the moment Record has started the take: opening the stream takes a while on
  // a busy machine.
  main_->Item("N31")->trigger();
  ASSERT_TRUE(main_->FRecording);
  QElapsedTimer clock;
  clock.start();
  event_wait::Pump(1500);
  const double unplugged = double(clock.elapsed()) / 1000;
  Pactl({"unload-module", module});
  ASSERT_TRUE(WaitUntil([&] { return !boxes.Boxes().isEmpty(); }, 10000));
  const QString told = boxes.Boxes().first().text;
  // The rig's sines hand out their sound in two-second blocks, reported as captured up to
  // two seconds before: the other input's sound may begin that much before the unplugging.
  const QRegularExpression said(
      "^The recording input \"Sine source at 660 Hz\" went away (\\d+):(\\d\\d\\.\\d) into the "
      "take\\. "
      "The take goes on, recorded from \"(.+)\" from then on\\.$");
  const QRegularExpressionMatch match = said.match(told);
  ASSERT_TRUE(match.hasMatch()) << told.toStdString();
  const double moment = match.captured(1).toDouble() * 60 + match.captured(2).toDouble();
  EXPECT_GT(moment, unplugged - 2.1) << told.toStdString();
  EXPECT_LT(moment, unplugged + 0.2) << told.toStdString();
  EXPECT_NE(match.captured(3), "Sine source at 660 Hz");
  EXPECT_TRUE(main_->FRecording);
  event_wait::Pump(1000);
  const double pressed = double(clock.elapsed()) / 1000;
  StopAndSaveAs(Out("unplugged.wav"));
  const double seconds = double(ReadWave(Out("unplugged.wav")).data.size()) / 176400;
  EXPECT_NEAR(seconds, pressed, 0.15) << "unplugged after " << unplugged;
  EXPECT_EQ(boxes.Boxes().size(), 1);
}

// A tag the disk refuses (a real write past the file-size limit) leaves the finished MP3
// under the chosen name without its tag, says so, and keeps the take as well.
TEST_F(RecordingFaultsTest, ATagTheDiskRefusesKeepsTheMp3AndTheTake) {
  ModalBoxWatcher boxes(false);
  RecordFor(1500);
  const QString take = main_->FTempWave;
  // The same take converted beforehand tells the MP3's size without its tag.
  qint64 untagged = 0;
  StopAndSaveAs(Out("tagless.mp3"), [&] {
    QFile::copy(take, Out("copy.wav"));
    QProcess convert;
    convert.start(QString::fromUtf8(SONARELLE_CONVERT),
                  {Out("copy.wav"), Out("probe.mp3"), "--config", main_->FConfigFile});
    convert.waitForFinished(60000);
    untagged = QFileInfo(Out("probe.mp3")).size() - 128;
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = rlim_t(untagged);
    setrlimit(RLIMIT_FSIZE, &limit);
  });
  const bool converted = Converted();
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_FSIZE, &limit);
  ASSERT_TRUE(converted);
  ASSERT_GT(untagged, 10000);
  ASSERT_TRUE(WaitUntil([&] { return windows_->FrmTakes->isVisible(); }, 5000));
  EXPECT_EQ(QFileInfo(Out("tagless.mp3")).size(), untagged);
  TMP3Info tag;
  tag.SetFilename(Out("tagless.mp3"));
  EXPECT_FALSE(tag.Valid());
  ASSERT_EQ(boxes.Boxes().size(), 1);
  EXPECT_TRUE(boxes.Boxes()[0].text.startsWith("The take was saved as " +
                                               QDir::toNativeSeparators(Out("tagless.mp3")) +
                                               ", but its MP3 tag could not be written"))
      << boxes.Boxes()[0].text.toStdString();
  ASSERT_EQ(windows_->FrmTakes->Takes().size(), 1u);
  EXPECT_EQ(windows_->FrmTakes->Takes().front()->Path(), take);
}

}  // namespace
}  // namespace sonarelle
