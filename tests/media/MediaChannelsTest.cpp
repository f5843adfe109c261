// What the media service plays, recorded from the sound rig's "speakers" monitor: the
// channel commands (Stereo, Left, Right) on a stereo file with 440 Hz on the left and
// 880 Hz on the right, silence after Stop, and a MIDI note through the synthesizer.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>

#include "EventWait.h"
#include "MediaFixtures.h"
#include "MonitorRecorder.h"
#include "media/MediaPlayer.h"
#include "platform/MciCommand.h"
#include "support/Tone.h"

namespace sonarelle {
namespace {

using event_wait::Pump;
using monitor_recorder::kRate;
using monitor_recorder::Recording;

// Long enough for the sound server's buffer to carry what was decoded after a change.
constexpr int kSettleMs = 500;
constexpr std::size_t kFrames = kRate * 3 / 10;

void SendStereo() {
  MciSendString(QStringLiteral("set all audio all on"));
}

void SendLeft() {
  MciSendString(QStringLiteral("set all  audio all off"));
  MciSendString(QStringLiteral("set all audio left on"));
}

void SendRight() {
  MciSendString(QStringLiteral("set all  audio all off"));
  MciSendString(QStringLiteral("set all  audio right on"));
}

void RecordSpeakers(Recording* recording) {
  const std::string error =
      monitor_recorder::Record("speakers.monitor", kFrames, std::chrono::seconds(5), recording);
  ASSERT_EQ(error, "");
}

// One output channel carries `present` and not `absent`.
void ExpectOnly(const std::vector<double>& samples, double present, double absent,
                const char* side) {
  EXPECT_GT(monitor_recorder::Rms(samples), 0.05) << side << " output is (nearly) silent";
  EXPECT_TRUE(HasTone(samples, kRate, present)) << side << " lacks " << present << " Hz";
  EXPECT_FALSE(HasTone(samples, kRate, absent)) << side << " carries " << absent << " Hz";
  EXPECT_LT(TonePower(samples, kRate, absent), TonePower(samples, kRate, present) / 100.0) << side;
}

class MediaChannelsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    qputenv("SONARELLE_SOUNDFONT", media_fixtures::kTestSoundFont);
    dir_ = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(dir_->isValid());
    media_fixtures::WriteToneWav(Path("split.wav"), 440, 880, 6.0);
    media_fixtures::WriteMidi(Path("note.mid"), 3000, media_fixtures::kDrawbarOrgan);
  }

  static void TearDownTestSuite() { dir_.reset(); }

  void TearDown() override { SendStereo(); }

  static QString Path(const char* name) { return dir_->filePath(QString::fromLatin1(name)); }

  void OpenAndPlay(const char* name) {
    player_.SetFileName(Path(name));
    player_.Open();
    player_.Play();
    Pump(kSettleMs);
  }

  static std::unique_ptr<QTemporaryDir> dir_;
  TMediaPlayer player_;
};

std::unique_ptr<QTemporaryDir> MediaChannelsTest::dir_;

TEST_F(MediaChannelsTest, ChannelCommandsSwitchWhilePlaying) {
  SendStereo();
  OpenAndPlay("split.wav");
  Recording stereo;
  ASSERT_NO_FATAL_FAILURE(RecordSpeakers(&stereo));
  ExpectOnly(stereo.left, 440, 880, "stereo, left");
  ExpectOnly(stereo.right, 880, 440, "stereo, right");

  SendLeft();
  Pump(kSettleMs);
  Recording left;
  ASSERT_NO_FATAL_FAILURE(RecordSpeakers(&left));
  ExpectOnly(left.left, 440, 880, "left channel, left");
  ExpectOnly(left.right, 440, 880, "left channel, right");

  SendRight();
  Pump(kSettleMs);
  Recording right;
  ASSERT_NO_FATAL_FAILURE(RecordSpeakers(&right));
  ExpectOnly(right.left, 880, 440, "right channel, left");
  ExpectOnly(right.right, 880, 440, "right channel, right");
}

// A karaoke disc's next track keeps the music-only channel the singer chose.
TEST_F(MediaChannelsTest, TheChannelChoiceHoldsForDevicesOpenedLater) {
  SendRight();
  OpenAndPlay("split.wav");
  player_.Close();
  OpenAndPlay("split.wav");
  Recording right;
  ASSERT_NO_FATAL_FAILURE(RecordSpeakers(&right));
  ExpectOnly(right.left, 880, 440, "left");
  ExpectOnly(right.right, 880, 440, "right");
}

TEST_F(MediaChannelsTest, StopSilencesThePlayback) {
  OpenAndPlay("split.wav");
  player_.Stop();
  Pump(kSettleMs);
  Recording silence;
  ASSERT_NO_FATAL_FAILURE(RecordSpeakers(&silence));
  EXPECT_LT(monitor_recorder::Rms(silence.left), 0.005);
  EXPECT_LT(monitor_recorder::Rms(silence.right), 0.005);
}

TEST_F(MediaChannelsTest, MidiSoundsThroughTheSynthesizer) {
  OpenAndPlay("note.mid");
  Recording note;
  ASSERT_NO_FATAL_FAILURE(RecordSpeakers(&note));
  EXPECT_GT(monitor_recorder::Rms(note.left), 0.005) << "the MIDI note is not heard";
  // The synthesizer plays at a fifth of full scale: the note is quieter than HasTone asks,
  // but A4 stands far above the frequencies between the organ's harmonics.
  const double a4 = TonePower(note.left, kRate, 440);
  EXPECT_GT(a4, 100 * TonePower(note.left, kRate, 440 * 0.7)) << "the note is not A4";
  EXPECT_GT(a4, 100 * TonePower(note.left, kRate, 440 * 1.4)) << "the note is not A4";
}

}  // namespace
}  // namespace sonarelle
