// Record on a sound server whose inputs all went away (every source unplugged): the singer
// is told that there is no recording input, and no empty take is left behind.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include "EventWait.h"
#include "app/FrmMain.h"
#include "app/FrmTakes.h"
#include "app/ProgramWindows.h"
#include "platform/ProgramFolder.h"
#include "platform/TakeFolder.h"
#include "support/ModalBoxWatcher.h"

namespace sonarelle {
namespace {

// A sound rig of the test's own (scripts/sound-rig.sh), stopped at the end.
class OwnRig {
 public:
  OwnRig() : dir_(QStringLiteral("/tmp/sonarelle-rig-XXXXXX")) {
    started_ = Run({QStringLiteral("start"), Folder()});
  }
  ~OwnRig() { Run({QStringLiteral("stop"), Folder()}); }
  bool Started() const { return started_; }
  QString Server() const { return QStringLiteral("unix:") + Folder() + QStringLiteral("/native"); }
  QString Pactl(const QStringList& arguments) const {
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), QStringList{QStringLiteral("-s"), Server()} + arguments);
    pactl.waitForFinished(10000);
    return QString::fromUtf8(pactl.readAllStandardOutput()).trimmed();
  }

 private:
  QString Folder() const { return dir_.filePath(QStringLiteral("rig")); }
  static bool Run(const QStringList& arguments) {
    QProcess rig;
    rig.setProcessChannelMode(QProcess::ForwardedChannels);
    rig.start(
        qEnvironmentVariable("SONARELLE_SOURCE_DIR") + QStringLiteral("/scripts/sound-rig.sh"),
        arguments);
    return rig.waitForFinished(30000) && rig.exitCode() == 0;
  }

  QTemporaryDir dir_;
  bool started_ = false;
};

// Every module of the rig but the protocol: no sink, so no monitor either.
void UnplugEverything(const OwnRig& rig) {
  for (const QString& line : rig.Pactl({"list", "short", "modules"}).split('\n')) {
    const QStringList fields = line.split('\t');
    if (fields.size() > 1 && fields[1] != "module-native-protocol-unix") {
      rig.Pactl({"unload-module", fields[0]});
    }
  }
}

// The inputs were there when the program started, and went away before Record.
TEST(NoInputTest, RecordAfterEveryInputWentAwaySaysSoAndLeavesNoTake) {
  OwnRig rig;
  ASSERT_TRUE(rig.Started());
  qputenv("PULSE_SERVER", rig.Server().toUtf8());
  QTemporaryDir folder;
  SetProgramFolder(folder.path());
  ModalBoxWatcher boxes;
  {
    TProgramWindows windows;
    TFrmMain& main = *windows.FrmMain;
    main.show();
    event_wait::Pump(200);
    UnplugEverything(rig);
    ASSERT_TRUE(rig.Pactl({"list", "short", "sources"}).isEmpty());
    event_wait::Pump(200);
    const int before = int(boxes.Boxes().size());
    main.Item("N31")->trigger();
    EXPECT_FALSE(main.FRecording);
    EXPECT_TRUE(main.Item("N31")->isEnabled());
    ASSERT_EQ(boxes.Boxes().size(), before + 1);
    EXPECT_EQ(boxes.Boxes().last().text.toStdString(),
              "WaveInOpen:\n\rThere is no recording input any more: it was unplugged or "
              "removed from the sound server.");
    EXPECT_TRUE(QDir(TakeFolder()).entryList(QDir::Files).isEmpty())
        << QDir(TakeFolder()).entryList(QDir::Files).join(' ').toStdString();
  }
  SetProgramFolder(QString());
}

// Every input goes away while recording: the take stops with the lost device's message, and
// what was recorded until then is offered (here kept for later, the save dialog cancelled).
TEST(NoInputTest, ATakeWhoseEveryInputWentAwayStopsAndIsOffered) {
  OwnRig rig;
  ASSERT_TRUE(rig.Started());
  qputenv("PULSE_SERVER", rig.Server().toUtf8());
  QTemporaryDir folder;
  SetProgramFolder(folder.path());
  ModalBoxWatcher boxes;
  {
    TProgramWindows windows;
    TFrmMain& main = *windows.FrmMain;
    main.show();
    main.Item("N31")->trigger();
    ASSERT_TRUE(main.FRecording);
    const QString take = main.FTempWave;
    event_wait::Pump(3000);
    UnplugEverything(rig);
    ASSERT_TRUE(event_wait::WaitUntil([&] { return windows.FrmTakes->isVisible(); }, 10000));
    EXPECT_FALSE(main.FRecording);
    EXPECT_TRUE(main.Item("N31")->isEnabled());
    EXPECT_TRUE(boxes.Texts().contains(
        "WaveIn:\n\rThere is no recording input any more: it was unplugged or removed from the "
        "sound server."))
        << boxes.Texts().join('|').toStdString();
    ASSERT_EQ(windows.FrmTakes->Takes().size(), 1u);
    EXPECT_EQ(windows.FrmTakes->Takes().front()->Path(), take);
    EXPECT_GT(windows.FrmTakes->Takes().front()->LengthMs(), 900);
  }
  SetProgramFolder(QString());
}

}  // namespace
}  // namespace sonarelle
