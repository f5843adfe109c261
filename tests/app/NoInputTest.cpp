// Record on a sound server whose inputs all went away (every source unplugged): the singer
// is told that there is no recording input, and no empty take is left behind.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include "BenchRig.h"
#include "EventWait.h"
#include "app/FrmMain.h"
#include "app/FrmTakes.h"
#include "app/ProgramWindows.h"
#include "platform/ProgramFolder.h"
#include "platform/TakeFolder.h"
#include "support/ModalBoxWatcher.h"

namespace sonarelle {
namespace {

QString Pactl(const BenchRig& rig, const QStringList& arguments) {
  QProcess pactl;
  pactl.start(QStringLiteral("pactl"), QStringList{QStringLiteral("-s"), rig.Server()} + arguments);
  pactl.waitForFinished(10000);
  return QString::fromUtf8(pactl.readAllStandardOutput()).trimmed();
}

// A program on a rig of its own (its inputs are unplugged), in a program folder of its own.
class NoInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig_.Started());
    qputenv("PULSE_SERVER", rig_.Server().toUtf8());
    SetProgramFolder(folder_.path());
    windows_ = std::make_unique<TProgramWindows>();
    windows_->FrmMain->show();
  }
  void TearDown() override {
    windows_.reset();
    SetProgramFolder(QString());
  }

  BenchRig rig_;
  QTemporaryDir folder_;
  ModalBoxWatcher boxes_;
  std::unique_ptr<TProgramWindows> windows_;
};

// Every module of the rig but the protocol: no sink, so no monitor either.
void UnplugEverything(const BenchRig& rig) {
  for (const QString& line : Pactl(rig, {"list", "short", "modules"}).split('\n')) {
    const QStringList fields = line.split('\t');
    if (fields.size() > 1 && fields[1] != "module-native-protocol-unix") {
      Pactl(rig, {"unload-module", fields[0]});
    }
  }
}

// The inputs were there when the program started, and went away before Record.
TEST_F(NoInputTest, RecordAfterEveryInputWentAwaySaysSoAndLeavesNoTake) {
  TFrmMain& main = *windows_->FrmMain;
  event_wait::Pump(200);
  UnplugEverything(rig_);
  ASSERT_TRUE(Pactl(rig_, {"list", "short", "sources"}).isEmpty());
  event_wait::Pump(200);
  const int before = int(boxes_.Boxes().size());
  main.Item("N31")->trigger();
  EXPECT_FALSE(main.FRecording);
  EXPECT_TRUE(main.Item("N31")->isEnabled());
  ASSERT_EQ(boxes_.Boxes().size(), before + 1);
  EXPECT_EQ(boxes_.Boxes().last().text.toStdString(),
            "WaveInOpen:\n\rThere is no recording input any more: it was unplugged or "
            "removed from the sound server.");
  EXPECT_TRUE(QDir(TakeFolder()).entryList(QDir::Files).isEmpty())
      << QDir(TakeFolder()).entryList(QDir::Files).join(' ').toStdString();
}

// Every input goes away while recording: the take stops with the lost device's message, and
// what was recorded until then is offered (here kept for later, the save dialog cancelled).
TEST_F(NoInputTest, ATakeWhoseEveryInputWentAwayStopsAndIsOffered) {
  TFrmMain& main = *windows_->FrmMain;
  main.Item("N31")->trigger();
  ASSERT_TRUE(main.FRecording);
  const QString take = main.FTempWave;
  event_wait::Pump(3000);
  UnplugEverything(rig_);
  ASSERT_TRUE(event_wait::WaitUntil([&] { return windows_->FrmTakes->isVisible(); }, 10000));
  EXPECT_FALSE(main.FRecording);
  EXPECT_TRUE(main.Item("N31")->isEnabled());
  // Told once, the lost input only (no full disk), then asked before the take goes.
  EXPECT_EQ(boxes_.Texts(),
            QStringList({"WaveIn:\n\rThere is no recording input any more: it was unplugged or "
                         "removed from the sound server.",
                         "Discard this take?"}))
      << boxes_.Texts().join('|').toStdString();
  ASSERT_EQ(windows_->FrmTakes->Takes().size(), 1u);
  EXPECT_EQ(windows_->FrmTakes->Takes().front()->Path(), take);
  EXPECT_GT(windows_->FrmTakes->Takes().front()->LengthMs(), 900);
}

}  // namespace
}  // namespace sonarelle
