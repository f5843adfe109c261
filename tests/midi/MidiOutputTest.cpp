// The MIDI output device on the system's driver: the built-in synthesizer heard on the sound
// rig's "speakers" monitor, long messages completing on the owner's thread, the device
// without a sound server, and the messages it raises.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "EventWait.h"
#include "MonitorRecorder.h"
#include "midi/MidiOutput.h"
#include "support/ErrorText.h"
#include "support/SilentServer.h"
#include "support/Tone.h"

namespace sonarelle {
namespace {

using event_wait::Pump;
using event_wait::WaitUntil;
using monitor_recorder::kRate;
using monitor_recorder::Recording;

// A steady, nearly pure tone: the fundamental stands far above its overtones.
constexpr std::uint8_t kRecorder = 74;
constexpr std::array<std::uint8_t, 6> kGmReset = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
// Below this the monitor counts as silent (about -60 dBFS).
constexpr double kSilence = 0.001;

double MidiHz(int key) {
  return 440.0 * std::pow(2.0, (key - 69) / 12.0);
}

// The left channel of the first half second the speakers play in which `heard` holds, or of
// the last one within three seconds.
std::vector<double> ListenFor(const std::function<bool(const std::vector<double>&)>& heard) {
  return monitor_recorder::RecordUntil(
             "speakers.monitor", kRate / 2, std::chrono::seconds(3),
             [&](const Recording& recording) { return heard(recording.left); })
      .left;
}

// Whether a note already sounds in the first 50 ms of the window: then the whole window
// holds it, and its pitch can be read to the hertz.
bool SoundsFromTheStart(const std::vector<double>& heard) {
  return heard.size() >= std::size_t(kRate / 20) &&
         monitor_recorder::Rms({heard.begin(), heard.begin() + std::ptrdiff_t(kRate / 20)}) > 0.01;
}

// The left channel of what the speakers play next, for `ms`.
std::vector<double> Listen(int ms) {
  Recording recording;
  const std::string error =
      monitor_recorder::Record("speakers.monitor", static_cast<std::size_t>(kRate) * ms / 1000,
                               std::chrono::seconds(5), &recording);
  EXPECT_EQ(error, "");
  return recording.left;
}

// The strongest frequency between 200 and 2000 Hz, to the hertz.
double PeakHz(const std::vector<double>& samples) {
  double best = 0.0;
  double bestPower = 0.0;
  for (double hz = 200.0; hz <= 2000.0; hz += 1.0) {
    const double power = TonePower(samples, kRate, hz);
    if (power > bestPower) {
      bestPower = power;
      best = hz;
    }
  }
  return best;
}

void AllNotesOff(TMidiOutput& out) {
  for (std::uint8_t channel = 0; channel < 16; ++channel) {
    out.SendShort(0xB0 | channel, 0x7B, 0);
  }
}

// Sets an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const QByteArray& value) : name_(name), old_(qgetenv(name)) {
    qputenv(name, value);
  }
  ~ScopedEnv() { qputenv(name_, old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  QByteArray old_;
};

TEST(MidiOutputSound, NoteSilenceAndChordOnTheSpeakers) {
  TMidiOutput out;
  out.SetDeviceID(0);
  ASSERT_TRUE(out.OpenDevice());
  out.SendShort(0xC0, kRecorder, 0);
  out.SendShort(0x90, 69, 100);
  Pump(300);
  const std::vector<double> a4 = ListenFor(SoundsFromTheStart);
  EXPECT_GT(monitor_recorder::Rms(a4), 0.01);
  EXPECT_NEAR(PeakHz(a4), 440.0, 4.0);  // a semitone is 25 Hz away

  AllNotesOff(out);
  Pump(300);
  EXPECT_LT(monitor_recorder::Rms(Listen(200)), kSilence) << "still sounding after 300 ms";

  // Three notes at once: the channel plays chords again after the all-notes-off.
  for (int key : {60, 64, 67}) {
    out.SendShort(0x90, static_cast<std::uint8_t>(key), 100);
  }
  Pump(300);
  const auto sounds = [](const std::vector<double>& heard, int key) {
    return NoteSounds(heard, kRate, MidiHz(key));
  };
  const std::vector<double> chord = ListenFor([&](const std::vector<double>& heard) {
    return sounds(heard, 60) && sounds(heard, 64) && sounds(heard, 67);
  });
  for (int key : {60, 64, 67}) {
    EXPECT_TRUE(NoteSounds(chord, kRate, MidiHz(key))) << "key " << key << " missing";
  }
  AllNotesOff(out);
  EXPECT_TRUE(out.CloseDevice());
}

TEST(MidiOutputSound, TheSynthesizerTellsWhenItsSoundFontIsReadAndThenSounds) {
  TMidiOutput out;
  int readies = 0;
  QThread* calledOn = nullptr;
  out.OnReady = [&](TMidiOutput* sender) {
    EXPECT_EQ(sender, &out);
    calledOn = QThread::currentThread();
    ++readies;
  };
  EXPECT_FALSE(out.Ready()) << "ready while closed";
  ASSERT_TRUE(out.OpenDevice());
  // The SoundFont is read beside the owner's thread, whose event loop hears when it is done.
  EXPECT_FALSE(out.Ready()) << "ready before the owner heard of it";
  ASSERT_TRUE(WaitUntil([&] { return out.Ready(); }, 10000));
  EXPECT_EQ(readies, 1);
  EXPECT_EQ(calledOn, QThread::currentThread());
  out.SendShort(0xC0, kRecorder, 0);
  out.SendShort(0x90, 69, 100);
  Pump(300);
  EXPECT_NEAR(PeakHz(ListenFor(SoundsFromTheStart)), 440.0, 4.0);
  AllNotesOff(out);
  EXPECT_TRUE(out.CloseDevice());
  EXPECT_FALSE(out.Ready()) << "ready once closed";

  // Closing at once delivers the word of that open; it does not make the next open ready.
  ASSERT_TRUE(out.OpenDevice());
  EXPECT_TRUE(out.CloseDevice());
  ASSERT_TRUE(out.OpenDevice());
  QCoreApplication::processEvents();
  EXPECT_FALSE(out.Ready()) << "ready by the word of a device closed since";
  ASSERT_TRUE(WaitUntil([&] { return out.Ready(); }, 10000));
  EXPECT_EQ(readies, 2);
  EXPECT_TRUE(out.CloseDevice());

  // A SoundFont cut short opens, fails to be read, and the device is ready all the same: a
  // song waiting for it goes on, silent.
  QTemporaryDir dir;
  QFile whole(QString::fromLocal8Bit(qgetenv("SONARELLE_SOUNDFONT")));
  QFile cut(dir.filePath("cut.sf2"));
  ASSERT_TRUE(whole.open(QIODevice::ReadOnly) && cut.open(QIODevice::WriteOnly));
  cut.write(whole.read(65536));
  cut.close();
  const ScopedEnv broken("SONARELLE_SOUNDFONT", cut.fileName().toLocal8Bit());
  ASSERT_TRUE(out.OpenDevice());
  EXPECT_FALSE(out.Ready());
  EXPECT_TRUE(WaitUntil([&] { return out.Ready(); }, 10000)) << "waits for ever";
  EXPECT_EQ(readies, 3);
  EXPECT_TRUE(out.CloseDevice());
}

// The fullest SoundFont installed, the program's own choice, reads for most of a second: a
// song chooses its instruments meanwhile, and its window must not stand still for it.
TEST(MidiOutputSound, WhatTheSynthesizerIsSentWhileItReadsIsPlayedThenAndTheCallerGoesOn) {
  const ScopedEnv fullest("SONARELLE_SOUNDFONT", QByteArray());
  TMidiOutput out;
  ASSERT_TRUE(out.OpenDevice());
  out.SendShort(0xC0, kRecorder, 0);
  out.SendShort(0x90, 69, 100);
  // A send that waited for the SoundFont would return with the device about ready.
  EXPECT_FALSE(WaitUntil([&] { return out.Ready(); }, 100)) << "the send waited for the reading";
  ASSERT_TRUE(WaitUntil([&] { return out.Ready(); }, 15000));
  const std::vector<double> a4 = ListenFor(SoundsFromTheStart);
  EXPECT_NEAR(PeakHz(a4), 440.0, 4.0) << "the note sent before it was ready was lost";
  AllNotesOff(out);
  EXPECT_TRUE(out.CloseDevice());
}

// The sound server's playback streams of this process; other tests may play beside it.
int OurStreams() {
  QProcess pactl;
  pactl.start("pactl", {"list", "sink-inputs"});
  pactl.waitForFinished();
  const QByteArray ours =
      "application.process.id = \"" + QByteArray::number(QCoreApplication::applicationPid()) + '"';
  return int(pactl.readAllStandardOutput().count(ours));
}

TEST(MidiOutputSound, AnIdleSynthesizerClosesItsStreamAndStillPlaysTheNextNote) {
  TMidiOutput out;
  ASSERT_TRUE(out.OpenDevice());
  ASSERT_EQ(OurStreams(), 1);
  Pump(5500);
  EXPECT_EQ(OurStreams(), 0) << "silence is still rendered";
  out.SendShort(0xC0, kRecorder, 0);
  out.SendShort(0x90, 69, 100);
  Pump(300);
  // The reopened stream may start late.
  const std::vector<double> a4 = ListenFor(SoundsFromTheStart);
  EXPECT_NEAR(PeakHz(a4), 440.0, 4.0);
  AllNotesOff(out);
}

TEST(MidiOutputSound, GmResetCompletesOnTheOwnersThreadAndReachesTheSynthesizer) {
  TMidiOutput out;
  ASSERT_TRUE(out.OpenDevice());
  int completions = 0;
  QThread* calledOn = nullptr;
  out.Onmidioutput = [&](TMidiOutput* sender) {
    EXPECT_EQ(sender, &out);
    calledOn = QThread::currentThread();
    ++completions;
  };
  out.SendShort(0xC0, kRecorder, 0);
  out.SendShort(0x90, 69, 100);
  Pump(300);
  ASSERT_GT(monitor_recorder::Rms(ListenFor(SoundsFromTheStart)), 0.01);

  // Opening again keeps the device as it is, completions included.
  EXPECT_TRUE(out.OpenDevice());
  TMyMidiEvent reset;
  reset.SysexSize = kGmReset.size();
  reset.SysexData = std::make_unique<std::uint8_t[]>(kGmReset.size());
  std::memcpy(reset.SysexData.get(), kGmReset.data(), kGmReset.size());
  out.SendEvent(reset);
  EXPECT_EQ(completions, 0) << "completion reported inside the send";
  ASSERT_TRUE(WaitUntil([&] { return completions == 1; }, 2000));
  EXPECT_EQ(calledOn, QThread::currentThread());
  // The reset silenced the held note.
  Pump(300);
  EXPECT_LT(monitor_recorder::Rms(Listen(200)), kSilence);

  // Bytes that are no system-exclusive message are refused and never completed.
  const std::uint8_t notSysex[] = {0x90, 69, 100};
  EXPECT_EQ(ErrorOf<EmidioutputError>([&] { out.SendLong(notSysex, 3); }),
            "An invalid parameter was passed.");
  Pump(100);
  EXPECT_EQ(completions, 1);
  EXPECT_TRUE(out.CloseDevice());
}

TEST(MidiOutputErrors, MessagesOfTheTable) {
  TMidiOutput out;
  ASSERT_GE(out.NumDevs(), 1);
  EXPECT_EQ(ErrorOf<EmidioutputError>([&] { out.SetDeviceID(out.NumDevs()); }),
            "Invalid device ID");
  EXPECT_EQ(out.DeviceID(), 0);

  // The mapper is tried first and has a name of its own.
  out.SetProductName("Sonarelle MIDI Mapper");
  EXPECT_EQ(out.DeviceID(), kMidiMapper);
  EXPECT_EQ(ErrorOf<EmidioutputError>([&] { out.SetProductName("Sonarelle GM synthesizer"); }),
            "MIDI output Device Sonarelle GM synthesizer not installed");
  EXPECT_EQ(out.DeviceID(), kMidiMapper);
  out.SetProductName("Sonarelle GM Synthesizer");
  EXPECT_EQ(out.DeviceID(), 0);
  EXPECT_EQ(out.Technology(), MOD_SWSYNTH);

  TMyMidiEvent noteOn;
  noteOn.StatusByte = 0x90;
  noteOn.DataByte1 = 69;
  noteOn.DataByte2 = 100;
  EXPECT_EQ(ErrorOf<EmidioutputError>([&] { out.SendEvent(noteOn); }),
            "MIDI Output device not open");

  ASSERT_TRUE(out.OpenDevice());
  EXPECT_EQ(ErrorOf<EmidioutputError>([&] { out.SetDeviceID(0); }),
            "Change to DeviceID while device was open");
  EXPECT_EQ(ErrorOf<EmidioutputError>([&] { out.SetProductName("Sonarelle GM Synthesizer"); }),
            "Change to ProductName while device was open");
  // The synthesizer plays for one device at a time; the mapper leads to it too.
  TMidiOutput other;
  other.SetDeviceID(kMidiMapper);
  EXPECT_FALSE(other.OpenDevice());
  EXPECT_FALSE(other.IsOpen());
  EXPECT_EQ(other.LastResult(), MMSYSERR_ALLOCATED);

  EXPECT_TRUE(out.CloseDevice());
  EXPECT_FALSE(out.CloseDevice());
  EXPECT_EQ(ErrorOf<EmidioutputError>([&] { out.SendEvent(noteOn); }),
            "MIDI Output device not open");
  EXPECT_TRUE(other.OpenDevice());
}

TEST(MidiOutputErrors, WithoutAServerOpenFailsInBoundedTimeWithoutRaising) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  TMidiOutput out;
  {
    ScopedEnv server("PULSE_SERVER", "unix:" + dir.filePath("missing").toLocal8Bit());
    EXPECT_FALSE(out.OpenDevice());
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(SystemMidiOutDriver().GetErrorText(out.LastResult()),
              "Sound server: Connection refused.");
  }
  {
    SilentServer silent(dir.filePath("silent"));
    ASSERT_TRUE(silent.Listening());
    ScopedEnv server("PULSE_SERVER", "unix:" + dir.filePath("silent").toLocal8Bit());
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(out.OpenDevice());
    EXPECT_LT(timer.elapsed(), 15000) << "the open waited for the server's own time-out";
    EXPECT_EQ(SystemMidiOutDriver().GetErrorText(out.LastResult()), "Sound server: Timeout.");
  }
  EXPECT_TRUE(out.OpenDevice());
}

// The rig script, for a server of this test's own.
QString RigScript() {
  return qEnvironmentVariable("SONARELLE_SOURCE_DIR") + "/scripts/sound-rig.sh";
}

TEST(MidiOutputErrors, ServerLostWhileOpenLeavesTheDeviceUsable) {
  QTemporaryDir dir(QStringLiteral("/tmp/sonarelle-midi-XXXXXX"));
  ASSERT_TRUE(dir.isValid());
  const QString rig = dir.filePath("rig");
  ASSERT_EQ(QProcess::execute(RigScript(), {"start", rig}), 0);
  ScopedEnv server("PULSE_SERVER", "unix:" + (rig + "/native").toLocal8Bit());
  TMidiOutput out;
  int completions = 0;
  out.Onmidioutput = [&](TMidiOutput*) { ++completions; };
  const bool opened = out.OpenDevice();
  out.SendShort(0x90, 69, 100);
  ASSERT_EQ(QProcess::execute(RigScript(), {"stop", rig}), 0);
  ASSERT_TRUE(opened);
  Pump(200);
  // The synthesizer goes on taking messages; only nobody hears them.
  out.SendShort(0x80, 69, 0);
  out.SendLong(kGmReset.data(), kGmReset.size());
  EXPECT_TRUE(WaitUntil([&] { return completions == 1; }, 2000));
  EXPECT_TRUE(out.CloseDevice());
  EXPECT_FALSE(out.OpenDevice());
}

// A driver table whose capabilities fail with a code it has no text for.
class TextlessDriver : public MidiOutDriver {
 public:
  int GetNumDevs() override { return 1; }
  MMRESULT GetDevCaps(int, MidiOutCaps&) override { return 4711; }
  QString GetErrorText(MMRESULT) override { return {}; }
  MMRESULT Open(MidiOutHandle*, int, const MidiOutNotify&) override { return 4711; }
  MMRESULT Close(MidiOutHandle) override { return 4711; }
  MMRESULT ShortMsg(MidiOutHandle, std::uint32_t) override { return 4711; }
  MMRESULT PrepareHeader(MidiOutHandle, MidiOutHeader*) override { return 4711; }
  MMRESULT UnprepareHeader(MidiOutHandle, MidiOutHeader*) override { return 4711; }
  MMRESULT LongMsg(MidiOutHandle, MidiOutHeader*) override { return 4711; }
};

TEST(MidiOutputErrors, CodeWithoutTextIsOutOfRange) {
  TextlessDriver driver;
  TMidiOutput out(driver);
  EXPECT_EQ(ErrorOf<EmidioutputError>([&] { out.SetDeviceID(0); }),
            "Specified error number is out of range");
  EXPECT_EQ(out.DeviceID(), 0);
  EXPECT_FALSE(out.OpenDevice());
}

}  // namespace
}  // namespace sonarelle
