// The "Voice and accompaniment" recording source through the main window: the rig's
// speakers are looped back into a microphone with a known delay, the program plays clicks
// and tones, and the saved takes show where the voice sits against what was heard.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <functional>
#include <thread>

#include "EventWait.h"
#include "MediaFixtures.h"
#include "MonitorRecorder.h"
#include "RigAudio.h"
#include "app/FrmMain.h"
#include "app/ProgramWindows.h"
#include "platform/ProgramFolder.h"
#include "platform/TakeMixChoice.h"
#include "settings/ConfigKeys.h"
#include "settings/SettingsStore.h"
#include "support/BusyCores.h"
#include "support/ClickOnsets.h"
#include "support/ModalBoxWatcher.h"
#include "support/ToneWindows.h"

namespace sonarelle {
namespace {

using event_wait::WaitUntil;
constexpr int kRate = 44100;
constexpr int kLoopMs = 80;

// The level of a sine of `hz`, the median over quarter seconds: a stream clock that settles
// by a millisecond mid-take moves the tone's phase, which one fit over the whole take would
// count as a lower level.
double LevelOf(const std::vector<double>& samples, double hz) {
  std::vector<double> levels;
  for (std::size_t at = 0; at + kRate / 4 <= samples.size(); at += kRate / 4) {
    const auto from = samples.begin() + std::ptrdiff_t(at);
    levels.push_back(FitSine({from, from + kRate / 4}, kRate, hz).amplitude);
  }
  std::nth_element(levels.begin(), levels.begin() + std::ptrdiff_t(levels.size() / 2),
                   levels.end());
  return levels.empty() ? 0.0 : levels[levels.size() / 2];
}

class TakeMixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolder(folder_.path());
    windows_ = std::make_unique<TProgramWindows>();
    main_ = windows_->FrmMain.get();
    main_->show();
  }
  void TearDown() override {
    main_->Item("N32")->trigger();
    windows_.reset();
    for (const QString& module : modules_) Pactl({"unload-module", module});
    Pactl({"set-default-source", "mic"});
    Pactl({"set-default-sink", "speakers"});
    SetProgramFolder(QString());
  }

  // The program plays into "loopspeakers"; the microphone is the monitor of "loopmic", which
  // LoopSpeakersIntoTheMicrophone makes hear the speakers `kLoopMs` late: a singer who sings
  // exactly what was heard, that much behind. Neither sink rewinds: a loop reading the
  // monitor of a sink that rewinds also holds the sink's rewind window, 7-9 ms more.
  void MakeAMicrophone() {
    modules_ << Pactl({"load-module", "module-null-sink", "sink_name=loopspeakers", "norewinds=1"});
    modules_ << Pactl({"load-module", "module-null-sink", "sink_name=loopmic", "norewinds=1"});
    Pactl({"set-default-sink", "loopspeakers"});
  }
  // The loop fills its buffer once, from the latencies the server reports as it starts
  // (it never adjusts), so it starts only once the take's streams have set theirs.
  void LoopSpeakersIntoTheMicrophone() {
    modules_ << Pactl({"load-module", "module-loopback", "source=loopspeakers.monitor",
                       "sink=loopmic", QString("latency_msec=%1").arg(kLoopMs), "adjust_time=0",
                       "source_dont_move=true", "sink_dont_move=true"});
  }

  QRadioButton* Source(const QString& tip) const {
    for (auto* radio : main_->findChildren<QRadioButton*>()) {
      if (radio->toolTip() == tip) return radio;
    }
    return nullptr;
  }

  // Plays `song`, records `ms` of it and saves the take as `name`; its 16-bit samples.
  // `recording` runs once the take has started.
  WaveContents Take(const QString& song, int ms, const char* name,
                    const std::function<void()>& recording = {}) {
    main_->PlayFile(song);
    event_wait::Pump(1500);
    main_->Item("N31")->trigger();
    EXPECT_TRUE(main_->FRecording);
    if (recording) recording();
    event_wait::Pump(ms);
    const QString path = out_.filePath(QString::fromLatin1(name));
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, main_, [&] {
      auto* dialog = static_cast<QDialog*>(main_->SaveDialog1);
      if (dialog == nullptr || !dialog->isVisible()) return;
      for (auto* view : main_->SaveDialog1->findChildren<QAbstractItemView*>()) {
        view->clearSelection();
      }
      main_->SaveDialog1->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
      dialog->done(QDialog::Accepted);
      answer.stop();
    });
    answer.start(20);
    main_->Item("N32")->trigger();
    EXPECT_TRUE(WaitUntil([&] { return QFile::exists(path) && !main_->FRecording; }, 10000));
    main_->BtnStop->click();
    return ReadWave(path);
  }

  QTemporaryDir folder_;
  QTemporaryDir out_;
  QStringList modules_;
  std::unique_ptr<TProgramWindows> windows_;
  TFrmMain* main_ = nullptr;
};

TEST_F(TakeMixTest, TheVoiceSitsAsLateAgainstTheClicksAsTheSingerWasBehindWhatWasHeard) {
  ModalBoxWatcher boxes(false);
  MakeAMicrophone();
  // Clicks on the left only, every 400 ms: the loop brings them back on both channels at
  // half their height, so the take's right channel holds the voice alone.
  std::vector<double> left(std::size_t(kRate) * 12, 0.0);
  for (std::size_t click = kRate / 5; click + 100 < left.size(); click += kRate * 2 / 5) {
    std::fill_n(left.begin() + std::ptrdiff_t(click), 40, 0.8);
    std::fill_n(left.begin() + std::ptrdiff_t(click) + 40, 40, -0.8);
  }
  const QString clicks = out_.filePath("clicks.wav");
  media_fixtures::WriteStereoWav(clicks, left, {});

  QRadioButton* mix = Source("Voice and accompaniment");
  ASSERT_NE(mix, nullptr);
  mix->click();
  ASSERT_TRUE(take_mix::Chosen());
  Pactl({"set-default-source", "loopmic.monitor"});
  const WaveContents take =
      Take(clicks, 9000, "take.wav", [this] { LoopSpeakersIntoTheMicrophone(); });
  ASSERT_EQ(take.channels, 2);
  const std::vector<double> heard = Channel(take.data, 16, 2, 0);
  const std::vector<double> sung = Channel(take.data, 16, 2, 1);

  // Each click heard before its copy: the copy itself is on the left too.
  const std::vector<double> offsets = ClickDelaysMs(heard, sung, kRate);
  ASSERT_GE(offsets.size(), 15U);
  for (double offset : offsets) EXPECT_NEAR(offset, kLoopMs, 5.0);
  EXPECT_TRUE(boxes.Boxes().isEmpty()) << boxes.Texts().join("; ").toStdString();
}

TEST_F(TakeMixTest, VoiceAndToneMixAtTheirLevelsAndAPlainSourceRecordsTheVoiceAlone) {
  ModalBoxWatcher boxes(false);
  const QString tone = out_.filePath("tone.wav");
  media_fixtures::WriteToneWav(tone, 1000, 1000, 8);
  SettingsStore::WriteInteger(main_->FConfigFile, ConfigKeys::kRecorderSection,
                              ConfigKeys::kMixLevel, 50);

  QRadioButton* mix = Source("Voice and accompaniment");
  ASSERT_NE(mix, nullptr);
  mix->click();
  // The source's slider sets the voice: about half way.
  const QString row = mix->objectName().mid(QStringLiteral("radioboxtemp").size());
  auto* slider = main_->findChild<QSlider*>("trackbartemp" + row);
  ASSERT_NE(slider, nullptr);
  slider->setValue((slider->minimum() + slider->maximum()) / 2);
  const double voiceLevel = take_mix::VoiceLevel() / 65535.0;
  EXPECT_NEAR(voiceLevel, 0.5, 0.05);
  const WaveContents both = Take(tone, 3000, "both.wav");

  Source("Sine source at 440 Hz")->click();
  EXPECT_FALSE(take_mix::Chosen());
  const WaveContents alone = Take(tone, 3000, "alone.wav");

  const std::vector<double> voice = Channel(alone.data, 16, 2, 0);
  const double spoken = FitSine(voice, kRate, 440).amplitude;
  EXPECT_LT(FitSine(voice, kRate, 1000).amplitude, 0.01) << "only the voice";
  for (int channel : {0, 1}) {
    // The first half second goes: the player's volume may still be coming up.
    std::vector<double> mixed = Channel(both.data, 16, 2, channel);
    mixed.erase(mixed.begin(), mixed.begin() + kRate / 2);
    EXPECT_NEAR(LevelOf(mixed, 440), spoken * voiceLevel, spoken * 0.1);
    // The tone plays at half full scale; the accompaniment's level halves it again.
    EXPECT_NEAR(LevelOf(mixed, 1000), 0.25, 0.03);
    const double peak = std::abs(*std::max_element(
        mixed.begin(), mixed.end(), [](double a, double b) { return std::abs(a) < std::abs(b); }));
    EXPECT_LT(peak, 0.99) << "no clipping";
  }
  EXPECT_TRUE(boxes.Boxes().isEmpty()) << boxes.Texts().join("; ").toStdString();
}

TEST_F(TakeMixTest, TheAccompanimentOfASteadyToneRunsOnAsTheSpeakersPlayedItWhileEveryCoreIsBusy) {
  ModalBoxWatcher boxes(false);
  const QString song = out_.filePath("steady.mp3");
  ASSERT_EQ(media_fixtures::WriteToneMp3(song, 220, 20), "");
  QRadioButton* mix = Source("Voice and accompaniment");
  ASSERT_NE(mix, nullptr);
  mix->click();
  // The voice is the rig's microphone at 440 Hz; the song plays to its speakers, whose
  // monitor is recorded beside the take.
  constexpr int kTakeMs = 15000;
  monitor_recorder::Recording speakers;
  std::string heard = "not recorded";
  std::thread monitor;
  WaveContents take;
  {
    BusyCores busy;
    take = Take(song, kTakeMs, "steady.wav", [&] {
      monitor = std::thread([&] {
        heard = monitor_recorder::Record("speakers.monitor", std::size_t(kRate) * kTakeMs / 1000,
                                         std::chrono::milliseconds(3 * kTakeMs), &speakers);
      });
    });
    if (monitor.joinable()) monitor.join();
  }
  ASSERT_EQ(heard, "");
  ASSERT_EQ(take.channels, 2);
  const std::vector<double> left = Channel(take.data, 16, 2, 0);
  const tone_windows::Count inTake = tone_windows::Broken(left, 220, kRate);
  const tone_windows::Count played = tone_windows::Broken(speakers.left, 220, kRate);
  ASSERT_GE(inTake.windows, kTakeMs / 100 - 10);
  EXPECT_NEAR(LevelOf(left, 220), LevelOf(speakers.left, 220), 0.05);
  // A busy machine may break what the speakers play itself; the take may break only there
  // (the monitor's recording starts about when the take does).
  for (double at : inTake.at) {
    EXPECT_TRUE(std::any_of(played.at.begin(), played.at.end(),
                            [at](double p) { return std::abs(p - at) <= 0.5; }))
        << "the accompaniment breaks at " << at << " s of " << inTake.windows / 10.0
        << " s; the speakers broke " << played.broken << " times";
  }
  EXPECT_TRUE(boxes.Boxes().isEmpty()) << boxes.Texts().join("; ").toStdString();
}

}  // namespace
}  // namespace sonarelle
