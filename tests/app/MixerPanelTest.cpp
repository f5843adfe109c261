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

TEST_F(MixerPanelTest, StartingLeavesABoostedOrMutedOutputAsItIsUntilTheUserMovesTheSlider) {
  // Above the scale: shown at the top, kept at 150 % and unmuted.
  SetSink("150%", false);
  QSlider* slider = Start()->suiTrackBar2;
  EXPECT_EQ(slider->value(), 0);
  EXPECT_EQ(SinkPercent(), "150%");
  EXPECT_FALSE(SinkMuted());
  QTest::keyClick(slider, Qt::Key_Down);
  EXPECT_EQ(SinkPercent(), "98%");

  // Muted at half: shown at half, kept muted until the user moves the slider.
  SetSink("50%", true);
  slider = Start()->suiTrackBar2;
  EXPECT_NEAR(slider->value(), 32767, 1);
  EXPECT_EQ(SinkPercent(), "50%");
  EXPECT_TRUE(SinkMuted());
  QTest::keyClick(slider, Qt::Key_Up);
  EXPECT_EQ(SinkPercent(), "52%");
  EXPECT_FALSE(SinkMuted());
}

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

// The panel's even sources stand in the left column, the odd ones in the right.
void ExpectRowsThatReadWell(const TFrmMain& main, int count) {
  const QGroupBox* box = main.findChild<QGroupBox*>("suiGroupBox4");
  for (int i = 0; i < count; ++i) {
    const auto* radio = main.findChild<QRadioButton*>("radioboxtemp" + QString::number(i));
    const auto* bar = main.findChild<QSlider*>("trackbartemp" + QString::number(i));
    ASSERT_TRUE(radio && bar) << i;
    const QRect name = radio->geometry();
    EXPECT_EQ(name.topLeft(), QPoint(i % 2 == 0 ? 29 : 242, 9 + 20 * (i / 2))) << i;
    EXPECT_EQ(bar->y(), name.y()) << i;
    EXPECT_LE(name.right(), bar->x()) << radio->text().toStdString();
    EXPECT_LE(bar->geometry().right(), i % 2 == 0 ? 242 : box->width()) << i;
    EXPECT_GE(bar->width(), 40) << i;
  }
}

// A caption shows the whole name, or its beginning cut with an ellipsis where it does not fit.
bool ReadsAs(const QString& caption, const QString& name) {
  return caption == name || (caption.size() > 10 && caption.endsWith(QChar(0x2026)) &&
                             name.startsWith(caption.chopped(1)));
}

TEST_F(MixerPanelTest, SourceNamesReadInFullWhereTheyFitAndTheServersShortNamesComeFirst) {
  const TFrmMain* main = Start();
  const auto radio = [&](int i) {
    return main->findChild<QRadioButton*>("radioboxtemp" + QString::number(i));
  };
  // Whole, so the microphone and the line input can be told apart.
  EXPECT_EQ(radio(0)->text(), "Sine source at 440 Hz");
  EXPECT_EQ(radio(1)->text(), "Sine source at 880 Hz");
  EXPECT_EQ(radio(2)->text(), "Monitor of Null Output");
  EXPECT_PRED2(ReadsAs, radio(3)->text(), "Voice and accompaniment");
  ExpectRowsThatReadWell(*main, 4);

  // A node's nick comes before a product name; a short name two sources share tells nothing
  // apart, so both keep their descriptions; a long name without one is cut at its end.
  AddSource("usb", R"(device.description="USB Microphone Analog Mono")"
                   R"( device.product.name="USB Microphone")");
  AddSource("laptop", R"(device.description="Built-in Audio Analog Stereo")"
                      R"( device.product.name="Cannon Point-LP High Definition Audio")"
                      R"( node.nick="ALC257 Analog")");
  AddSource("front",
            R"(device.description="Headset Front Microphone" device.product.name="Headset")");
  AddSource("rear",
            R"(device.description="Headset Rear Microphone" device.product.name="Headset")");
  const QString far = "Sine source at 440 Hz through a chain of remapping filters";
  AddSource("far", "device.description=\"" + far + "\"");
  main = Start();
  EXPECT_EQ(radio(0)->text(), "Sine source at 440 Hz");
  EXPECT_EQ(radio(2)->text(), "USB Microphone");
  EXPECT_EQ(radio(3)->text(), "ALC257 Analog");
  EXPECT_EQ(radio(3)->toolTip(), "Built-in Audio Analog Stereo");
  EXPECT_PRED2(ReadsAs, radio(4)->text(), "Headset Front Microphone");
  EXPECT_PRED2(ReadsAs, radio(5)->text(), "Headset Rear Microphone");
  EXPECT_NE(radio(4)->text(), radio(5)->text());
  EXPECT_NE(radio(6)->text(), far);
  EXPECT_PRED2(ReadsAs, radio(6)->text(), far);
  EXPECT_EQ(radio(6)->toolTip(), far);
  EXPECT_EQ(radio(8)->toolTip(), "Voice and accompaniment");
  ExpectRowsThatReadWell(*main, 9);
}

// The real driver, except that the rig's server is stopped (SIGSTOP) while the master's volume
// is read at start: the read really times out, then the server goes on. What a busy or stuck
// server does, at the one moment a test cannot otherwise choose.
class ServerStopsDuringTheMasterRead : public MixerDriver {
 public:
  explicit ServerStopsDuringTheMasterRead(pid_t server) : server_(server) {}

  MMRESULT readResult = MMSYSERR_NOERROR;  // what the stopped server's read gave

  int GetNumDevs() override { return real_.GetNumDevs(); }
  MMRESULT GetDevCaps(int id, MixerCaps& caps) override { return real_.GetDevCaps(id, caps); }
  MMRESULT Open(MixerHandle* handle, int id, const MixerNotify& notify) override {
    return real_.Open(handle, id, notify);
  }
  MMRESULT Close(MixerHandle handle) override { return real_.Close(handle); }
  MMRESULT GetDestinationLine(MixerHandle handle, std::uint32_t d, MixerLine& line) override {
    const MMRESULT result = real_.GetDestinationLine(handle, d, line);
    if (d == 0) sinkLine_ = line.lineId;
    return result;
  }
  MMRESULT GetSourceLine(MixerHandle handle, std::uint32_t d, std::uint32_t s,
                         MixerLine& line) override {
    return real_.GetSourceLine(handle, d, s, line);
  }
  MMRESULT GetLineControls(MixerHandle handle, std::uint32_t lineId,
                           std::vector<MixerControl>& controls) override {
    const MMRESULT result = real_.GetLineControls(handle, lineId, controls);
    for (const MixerControl& c : controls) {
      if (lineId == sinkLine_ && c.controlType == MIXERCONTROL_CONTROLTYPE_VOLUME) {
        sinkVolume_ = c.controlId;
      }
    }
    return result;
  }
  MMRESULT GetControlValues(MixerHandle handle, std::uint32_t id, std::uint32_t channels,
                            std::uint32_t items, std::vector<std::uint32_t>& values) override {
    if (id != sinkVolume_ || stopped_)
      return real_.GetControlValues(handle, id, channels, items, values);
    stopped_ = true;
    kill(server_, SIGSTOP);
    readResult = real_.GetControlValues(handle, id, channels, items, values);
    kill(server_, SIGCONT);
    return readResult;
  }
  MMRESULT GetControlListText(MixerHandle handle, std::uint32_t id, std::uint32_t channels,
                              std::uint32_t items, std::vector<MixerListText>& texts) override {
    return real_.GetControlListText(handle, id, channels, items, texts);
  }
  MMRESULT SetControlValues(MixerHandle handle, std::uint32_t id, std::uint32_t channels,
                            std::uint32_t items,
                            const std::vector<std::uint32_t>& values) override {
    return real_.SetControlValues(handle, id, channels, items, values);
  }

 private:
  MixerDriver& real_ = PulseMixerDriver();
  pid_t server_;
  std::uint32_t sinkLine_ = 0;
  std::uint32_t sinkVolume_ = 0;
  bool stopped_ = false;
};

TEST(MixerPanelStuckServer, AVolumeThatCannotBeReadIsLeftAloneUntilTheUserMovesTheSlider) {
  // A server of its own: the shared rig must not stop under the other tests.
  const QByteArray shared = qgetenv("PULSE_SERVER");
  QTemporaryDir rigDir, folder;
  const QString rig =
      QDir(qEnvironmentVariable("SONARELLE_SOURCE_DIR")).filePath("scripts/sound-rig.sh");
  ASSERT_EQ(QProcess::execute(rig, {"start", rigDir.path()}), 0);
  qputenv("PULSE_SERVER", ("unix:" + rigDir.filePath("native")).toLocal8Bit());
  QFile pidFile(rigDir.filePath("server.pid"));
  ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
  const pid_t server = pid_t(pidFile.readAll().trimmed().toInt());
  ASSERT_GT(server, 0);
  SetProgramFolder(folder.path());
  SetSink("70%", true);
  {
    ServerStopsDuringTheMasterRead driver(server);
    TFrmMain main(driver);
    main.show();
    event_wait::Pump(300);
    EXPECT_NE(driver.readResult, MMSYSERR_NOERROR);
    QSlider* slider = main.suiTrackBar2;
    EXPECT_EQ(slider->value(), 65535);  // nothing known: the bottom, as before
    EXPECT_EQ(SinkPercent(), "70%");
    EXPECT_TRUE(SinkMuted());
    // Towards the quiet end the slider cannot go further: nothing is written.
    for (const Qt::Key key : {Qt::Key_Down, Qt::Key_PageDown, Qt::Key_Home}) {
      QTest::keyClick(slider, key);
    }
    Wheel(slider, false);
    EXPECT_EQ(SinkPercent(), "70%");
    EXPECT_TRUE(SinkMuted());
    // The user asks for a volume: it is set and unmuted.
    QTest::keyClick(slider, Qt::Key_Up);
    EXPECT_EQ(SinkPercent(), "2%");
    EXPECT_FALSE(SinkMuted());
  }
  SetProgramFolder(QString());
  qputenv("PULSE_SERVER", shared);
  QProcess::execute(rig, {"stop", rigDir.path()});
}

}  // namespace
}  // namespace sonarelle
