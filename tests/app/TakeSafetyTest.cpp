// Takes of real recording processes ended from outside: a kill -9 and the signals of a
// logout, on the test rig's sound server; then the next start offering what was left.
#include <gtest/gtest.h>
#include <sys/types.h>

#include <csignal>

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include "EventWait.h"
#include "MediaFixtures.h"
#include "RigAudio.h"
#include "app/FrmMain.h"
#include "app/FrmTakes.h"
#include "app/ProgramWindows.h"
#include "audio/wavefile/MMWave.h"
#include "audio/wavefile/WaveBytes.h"
#include "platform/TakeFolder.h"

namespace sonarelle {
namespace {

using event_wait::WaitUntil;

// The recording process: the program's windows with Record pressed.
class TakeProcess {
 public:
  explicit TakeProcess(const QStringList& arguments = {}) {
    process_.start(QStringLiteral(SONARELLE_TAKE_PROBE), arguments);
    const QByteArray line = ReadLine();
    if (line.startsWith("take ")) take_ = QString::fromLocal8Bit(line.mid(5).trimmed());
    recording_.start();
  }
  ~TakeProcess() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(10000);
    }
  }
  QString Take() const { return take_; }
  double Seconds() const { return static_cast<double>(recording_.elapsed()) / 1000.0; }
  QByteArray ReadLine() {
    while (!process_.canReadLine() && process_.waitForReadyRead(10000)) {
    }
    return process_.readLine();
  }
  // Sends `signal` and answers the exit code, -1 when the process did not end by itself.
  int End(int signal) {
    ::kill(static_cast<pid_t>(process_.processId()), signal);
    if (!process_.waitForFinished(20000) || process_.exitStatus() != QProcess::NormalExit) {
      return -1;
    }
    return process_.exitCode();
  }

 private:
  QProcess process_;
  QString take_;
  QElapsedTimer recording_;
};

double Seconds(const WaveContents& wave) {
  return wave.rate > 0 ? static_cast<double>(wave.data.size()) / (4.0 * wave.rate) : 0;
}

// The rig's "mic" is a 440 Hz sine: a lost stretch breaks its phase.
void ExpectContinuousTone(const WaveContents& wave) {
  ASSERT_EQ(wave.channels, 2);
  ASSERT_EQ(wave.bits, 16);
  ASSERT_EQ(wave.rate, 44100);
  ExpectUnbrokenTone(wave.data, 2, 440);
}

TEST(TakeSafetyTest, AKilledTakeHoldsWhatWasRecordedAndIsOfferedAtTheNextStart) {
  TakeProcess probe;
  ASSERT_FALSE(probe.Take().isEmpty());
  event_wait::Pump(1200);
  {
    // Another instance starting meanwhile leaves a take being recorded alone.
    TProgramWindows other;
    other.FrmMain->show();
    event_wait::Pump(300);
    EXPECT_FALSE(other.FrmTakes->isVisible());
  }
  event_wait::Pump(1200);
  const double recorded = probe.Seconds();
  EXPECT_EQ(probe.End(SIGKILL), -1);

  // As the kill left it: a WAVE file holding all but the last moments. The rig's mic hands
  // out what it captured every two seconds, so up to two seconds were still with the server.
  const WaveContents cut = ReadWave(probe.Take());
  EXPECT_GE(Seconds(cut), recorded - 2.0 - 1.0);
  ExpectContinuousTone(cut);
  TMMWave own;
  own.SetTimeFormat(tfByte);
  EXPECT_NO_THROW(own.SetFileName(probe.Take()));
  EXPECT_EQ(own.DataSize(), cut.data.size());

  for (const bool later : {true, false}) {
    TProgramWindows windows;
    TFrmMain& main = *windows.FrmMain;
    main.show();
    ASSERT_TRUE(WaitUntil([&] { return windows.FrmTakes->isVisible(); }, 5000));
    ASSERT_EQ(windows.FrmTakes->Takes().size(), 1u);
    EXPECT_EQ(windows.FrmTakes->Takes().front()->Path(), probe.Take());
    EXPECT_TRUE(windows.FrmTakes->ListTakes->item(0)->text().contains("0:0"));
    if (later) {
      windows.FrmTakes->BtnLater->click();
      EXPECT_FALSE(windows.FrmTakes->isVisible());
      EXPECT_TRUE(QFile::exists(probe.Take()));
      continue;
    }
    QTemporaryDir out;
    const QString saved = out.filePath("kept.wav");
    QTimer::singleShot(200, &main, [&] {
      main.SaveDialog1->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(saved);
      static_cast<QDialog*>(main.SaveDialog1)->done(QDialog::Accepted);
    });
    windows.FrmTakes->BtnSave->click();
    EXPECT_FALSE(QFile::exists(probe.Take()));
    EXPECT_FALSE(windows.FrmTakes->isVisible());
    const WaveContents kept = ReadWave(saved);
    EXPECT_TRUE(kept.final);
    EXPECT_GE(kept.data.size(), cut.data.size()) << "what followed the last update is kept";
    EXPECT_EQ(kept.data.left(cut.data.size()), cut.data);
  }
}

// Killed while the take converts to MP3: no part of the MP3 file carries the name the singer
// chose (it would look saved); the take is kept.
TEST(TakeSafetyTest, AKillDuringTheConversionLeavesNoMp3UnderTheChosenName) {
  QTemporaryDir out;
  const QString mp3 = out.filePath(QStringLiteral("evening.mp3"));
  TakeProcess probe(
      {QStringLiteral("--ask-after"), QStringLiteral("1500"), QStringLiteral("--save-as"), mp3});
  ASSERT_FALSE(probe.Take().isEmpty());
  EXPECT_EQ(probe.ReadLine().trimmed(), "asking");
  ASSERT_EQ(probe.ReadLine().trimmed(), "converting");
  event_wait::Pump(300);
  EXPECT_EQ(probe.End(SIGKILL), -1);
  EXPECT_FALSE(QFile::exists(mp3));
  for (const QString& name : QDir(out.path()).entryList(QDir::Files | QDir::Hidden)) {
    EXPECT_TRUE(name.startsWith(QLatin1Char('.'))) << name.toStdString();
  }
  EXPECT_TRUE(ReadWave(probe.Take()).final);
}

TEST(TakeSafetyTest, LogoutSignalsFinishTheTakeAndKeepIt) {
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    TakeProcess probe;
    ASSERT_FALSE(probe.Take().isEmpty());
    event_wait::Pump(1500);
    EXPECT_EQ(probe.End(signal), 128 + signal);
    const WaveContents take = ReadWave(probe.Take());
    EXPECT_TRUE(take.final) << "finished like Stop recording";
    EXPECT_GE(Seconds(take), 1.0);
    ExpectContinuousTone(take);
  }
  // While the save dialog asks, the take was stopped already: it stays.
  TakeProcess asking({QStringLiteral("--ask-after"), QStringLiteral("800")});
  ASSERT_FALSE(asking.Take().isEmpty());
  EXPECT_EQ(asking.ReadLine().trimmed(), "asking");
  EXPECT_EQ(asking.End(SIGHUP), 128 + SIGHUP);
  const WaveContents take = ReadWave(asking.Take());
  EXPECT_TRUE(take.final);
  EXPECT_GE(Seconds(take), 0.8);
}

// Stands in for the desktop's file manager: the folders it was asked to show.
class FolderOpener : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void Open(const QUrl& url) { opened << url; }
};

// Takes that cannot be read are never rewritten at start: listed as damaged, with Discard
// and Show in folder but no Save.
TEST(TakeSafetyTest, ATakeThatCannotBeReadIsListedAsDamagedAndLeftAsItWas) {
  // A state folder of its own: the other tests leave takes of theirs.
  QTemporaryDir state;
  const QByteArray stateBefore = qgetenv("XDG_STATE_HOME");
  qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
  const QString folder = TakeFolder();
  const std::vector<QByteArray> files = wavebytes::UnplayableTakes();
  QStringList paths;
  for (std::size_t i = 0; i < files.size(); ++i) {
    paths << folder + QStringLiteral("SWtemp%1.wav").arg(i + 1);
    ASSERT_TRUE(wavebytes::Put(paths.back(), files[i]));
  }
  FolderOpener fileManager;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &fileManager, "Open");
  {
    TProgramWindows windows;
    windows.FrmMain->show();
    TFrmTakes& takes = *windows.FrmTakes;
    ASSERT_TRUE(WaitUntil([&] { return takes.isVisible(); }, 5000));
    ASSERT_EQ(takes.Takes().size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
      EXPECT_EQ(wavebytes::Get(paths[static_cast<qsizetype>(i)]), files[i]) << "take " << i + 1;
      takes.ListTakes->setCurrentRow(static_cast<int>(i));
      EXPECT_TRUE(takes.ListTakes->currentItem()->text().contains("damaged")) << "take " << i + 1;
      EXPECT_FALSE(takes.BtnSave->isEnabled());
      EXPECT_TRUE(takes.BtnShowFolder->isEnabled());
    }
    takes.ListTakes->setCurrentRow(0);
    takes.BtnShowFolder->click();
    ASSERT_EQ(fileManager.opened.size(), 1);
    EXPECT_EQ(fileManager.opened.front(), QUrl::fromLocalFile(QDir(folder).absolutePath()));
    const QString discarded = takes.Takes().front()->Path();
    takes.BtnDiscard->click();
    EXPECT_FALSE(QFile::exists(discarded));
    EXPECT_EQ(takes.Takes().size(), files.size() - 1);
    takes.BtnLater->click();
  }
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  TProgramWindows again;
  again.FrmMain->show();
  ASSERT_TRUE(WaitUntil([&] { return again.FrmTakes->isVisible(); }, 5000));
  EXPECT_EQ(again.FrmTakes->Takes().size(), files.size() - 1) << "kept for the next start";
  qputenv("XDG_STATE_HOME", stateBefore);
}

// The media service's parser loops for ever on a MIDI file with a system status byte: a
// logout while such a file opens still finishes the take and ends the program. Named .mid
// the program's reader refuses it; named .mp3 it reaches the parser.
TEST(TakeSafetyTest, ALogoutWhileADamagedSongOpensFinishesTheTake) {
  QTemporaryDir dir;
  for (const char* name : {"damaged.mid", "damaged.mp3"}) {
    SCOPED_TRACE(name);
    const QString song = dir.filePath(QString::fromLatin1(name));
    media_fixtures::WriteIllegalStatusMidi(song, 0xF4);
    TakeProcess probe({QStringLiteral("--play"), song});
    ASSERT_FALSE(probe.Take().isEmpty());
    EXPECT_EQ(probe.ReadLine().trimmed(), "opening");
    event_wait::Pump(1500);
    EXPECT_EQ(probe.End(SIGTERM), 128 + SIGTERM) << "the program did not end";
    const WaveContents take = ReadWave(probe.Take());
    EXPECT_TRUE(take.final) << "finished like Stop recording";
    EXPECT_GE(Seconds(take), 1.0);
    ExpectContinuousTone(take);
  }
}

}  // namespace
}  // namespace sonarelle

#include "TakeSafetyTest.moc"
