// The master volume slider and the recording-source panel of the real main window against
// the sound rig, with pactl as the witness of what the server holds.
#include <gtest/gtest.h>

#include <signal.h>

#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include "EventWait.h"
#include "RigAudio.h"
#include "app/FrmMain.h"
#include "app/ProgramWindows.h"
#include "platform/MixerDriver.h"
#include "platform/ProgramFolder.h"

// Readable failure messages.
void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace sonarelle {
namespace {

// The speakers' volume as pactl shows it ("150%"), and whether they are muted.
QString SinkPercent() {
  const QString text = Pactl({"get-sink-volume", "speakers"});
  return QRegularExpression(R"(/\s*(\d+%))").match(text).captured(1);
}
bool SinkMuted() {
  return Pactl({"get-sink-mute", "speakers"}).endsWith("yes");
}
void SetSink(const QString& percent, bool muted) {
  Pactl({"set-sink-volume", "speakers", percent});
  Pactl({"set-sink-mute", "speakers", muted ? "1" : "0"});
}

// One notch of the mouse wheel over the slider, up (away from the user) or down.
void Wheel(QSlider* slider, bool up) {
  const QPointF at(slider->width() / 2.0, slider->height() / 2.0);
  QWheelEvent event(at, slider->mapToGlobal(at), QPoint(), QPoint(0, up ? 120 : -120), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(slider, &event);
}

class MixerPanelTest : public ::testing::Test {
 protected:
  void SetUp() override { SetProgramFolder(folder_.path()); }
  void TearDown() override {
    windows_.reset();
    for (const QString& module : modules_) Pactl({"unload-module", module});
    SetSink("100%", false);
    SetProgramFolder(QString());
  }

  // Starts the program's windows, as the program does, and shows the main window.
  TFrmMain* Start() {
    windows_.reset();
    windows_ = std::make_unique<TProgramWindows>();
    windows_->FrmMain->show();
    event_wait::Pump(100);
    return windows_->FrmMain.get();
  }
  // A source of the rig's 440 Hz tone with the given server properties.
  void AddSource(const QString& name, const QString& properties) {
    modules_ << Pactl({"load-module", "module-remap-source", "master=mic", "source_name=" + name,
                       "source_properties='" + properties + "'"});
  }

  QTemporaryDir folder_;
  std::unique_ptr<TProgramWindows> windows_;
  QStringList modules_;
};

TEST_F(MixerPanelTest, KeysAndWheelGoUpLouderInStepsOfTwoAndTenPercentHomeQuietestEndLoudest) {
  SetSink("50%", true);
  QSlider* slider = Start()->suiTrackBar2;
  const struct {
    Qt::Key key;
    const char* percent;
  } presses[] = {{Qt::Key_Up, "52%"},       {Qt::Key_PageUp, "62%"}, {Qt::Key_Down, "60%"},
                 {Qt::Key_PageDown, "50%"}, {Qt::Key_End, "100%"},   {Qt::Key_Home, "0%"},
                 {Qt::Key_End, "100%"}};
  for (const auto& press : presses) {
    QTest::keyClick(slider, press.key);
    EXPECT_EQ(SinkPercent(), press.percent) << QTest::toString(press.key);
  }
  EXPECT_EQ(slider->value(), 0);  // the loudest is still the top
  EXPECT_FALSE(SinkMuted());

  // The wheel turns the way the arrows go: up louder, by the arrow's step per line.
  QTest::keyClick(slider, Qt::Key_PageDown);
  Wheel(slider, true);
  const int lines = QApplication::wheelScrollLines();
  EXPECT_EQ(SinkPercent(), QString::number(90 + 2 * lines) + "%");
  Wheel(slider, false);
  EXPECT_EQ(SinkPercent(), "90%");
}

}  // namespace
}  // namespace sonarelle
