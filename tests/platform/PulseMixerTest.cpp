// The mixer driver against the sound rig, with pactl as the witness of what the server holds.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include "platform/MixerDriver.h"
#include "platform/TakeMixChoice.h"
#include "support/SilentServer.h"

using namespace sonarelle;

namespace {

QString Pactl(const QStringList& arguments) {
  QProcess process;
  process.start(
      QStringLiteral("pactl"),
      QStringList{QStringLiteral("-s"), qEnvironmentVariable("PULSE_SERVER")} + arguments);
  process.waitForFinished(10000);
  return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// An open mixer that is closed at the end of the test.
struct Opened {
  explicit Opened(const MixerNotify& notify = {}) {
    EXPECT_EQ(PulseMixerDriver().Open(&handle, 0, notify), MMSYSERR_NOERROR);
  }
  ~Opened() { PulseMixerDriver().Close(handle); }
  Opened(const Opened&) = delete;
  Opened& operator=(const Opened&) = delete;
  MixerHandle handle = 0;
};

std::vector<MixerControl> Controls(MixerHandle handle, std::uint32_t lineId) {
  std::vector<MixerControl> controls;
  EXPECT_EQ(PulseMixerDriver().GetLineControls(handle, lineId, controls), MMSYSERR_NOERROR);
  return controls;
}

std::vector<std::uint32_t> Values(MixerHandle handle, const MixerControl& control,
                                  std::uint32_t channels) {
  std::vector<std::uint32_t> values;
  EXPECT_EQ(PulseMixerDriver().GetControlValues(handle, control.controlId, channels, control.items,
                                                values),
            MMSYSERR_NOERROR);
  return values;
}

MMRESULT Set(MixerHandle handle, const MixerControl& control,
             const std::vector<std::uint32_t>& values) {
  const auto channels =
      static_cast<std::uint32_t>(values.size()) / std::max<std::uint32_t>(control.items, 1);
  return PulseMixerDriver().SetControlValues(handle, control.controlId, channels, control.items,
                                             values);
}

QString Description(const char* kind, const QString& name) {
  const QStringList lines = Pactl({QStringLiteral("list"), QString::fromLatin1(kind)}).split('\n');
  bool ours = false;
  for (const QString& line : lines) {
    const QString trimmed = line.trimmed();
    if (trimmed.startsWith(QStringLiteral("Name: "))) {
      ours = trimmed.mid(6) == name;
    } else if (ours && trimmed.startsWith(QStringLiteral("Description: "))) {
      return trimmed.mid(13);
    }
  }
  return {};
}

TEST(PulseMixerTree, SinkAndRecordingSourcesAsTheRigHasThem) {
  ASSERT_EQ(PulseMixerDriver().GetNumDevs(), 1);
  MixerCaps caps;
  ASSERT_EQ(PulseMixerDriver().GetDevCaps(0, caps), MMSYSERR_NOERROR);
  EXPECT_TRUE(caps.productName.startsWith(QStringLiteral("pulseaudio ")))
      << caps.productName.toStdString();
  EXPECT_EQ(caps.destinations, 2U);
  EXPECT_NE(caps.driverVersion, 0U);
  Opened mixer;

  MixerLine sink;
  ASSERT_EQ(PulseMixerDriver().GetDestinationLine(mixer.handle, 0, sink), MMSYSERR_NOERROR);
  EXPECT_EQ(sink.name, Description("sinks", QStringLiteral("speakers")));
  EXPECT_EQ(sink.channels, 2U);
  const auto sinkControls = Controls(mixer.handle, sink.lineId);
  ASSERT_EQ(sinkControls.size(), 2U);
  EXPECT_EQ(sinkControls[0].controlType, MIXERCONTROL_CONTROLTYPE_VOLUME);
  EXPECT_EQ(sinkControls[1].controlType, MIXERCONTROL_CONTROLTYPE_MUTE);
  EXPECT_EQ(sinkControls[1].controlFlags, MIXERCONTROL_CONTROLF_UNIFORM);

  MixerLine recording;
  ASSERT_EQ(PulseMixerDriver().GetDestinationLine(mixer.handle, 1, recording), MMSYSERR_NOERROR);
  EXPECT_EQ(recording.name, QStringLiteral("Recording"));
  // The server's sources, then the program's own take mix.
  ASSERT_EQ(recording.connections, 4U);
  std::vector<MixerLine> sources(4);
  ASSERT_EQ(PulseMixerDriver().GetSourceLine(mixer.handle, 1, 3, sources[3]), MMSYSERR_NOERROR);
  EXPECT_EQ(sources[3].name, take_mix::kSourceName);
  const char* const order[] = {"mic", "line", "speakers.monitor"};
  for (std::uint32_t s = 0; s < 3; ++s) {
    ASSERT_EQ(PulseMixerDriver().GetSourceLine(mixer.handle, 1, s, sources[s]), MMSYSERR_NOERROR);
    EXPECT_EQ(sources[s].name, Description("sources", QString::fromLatin1(order[s]))) << s;
    const auto controls = Controls(mixer.handle, sources[s].lineId);
    ASSERT_EQ(controls.size(), 1U);
    EXPECT_EQ(controls[0].controlType, MIXERCONTROL_CONTROLTYPE_VOLUME);
  }
  const auto mux = Controls(mixer.handle, recording.lineId);
  ASSERT_EQ(mux.size(), 1U);
  EXPECT_EQ(mux[0].controlType, MIXERCONTROL_CONTROLTYPE_MUX);
  EXPECT_EQ(mux[0].controlFlags, MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE);
  ASSERT_EQ(mux[0].items, 4U);
  std::vector<MixerListText> texts;
  ASSERT_EQ(PulseMixerDriver().GetControlListText(mixer.handle, mux[0].controlId, 1, 4, texts),
            MMSYSERR_NOERROR);
  ASSERT_EQ(texts.size(), 4U);
  const QString defaultSource = Pactl({QStringLiteral("get-default-source")});
  const auto selected = Values(mixer.handle, mux[0], 1);
  for (std::size_t s = 0; s < 3; ++s) {
    EXPECT_EQ(texts[s].param1, sources[s].lineId);
    EXPECT_EQ(texts[s].name, sources[s].name);
    EXPECT_EQ(selected[s], defaultSource == QString::fromLatin1(order[s]) ? 1U : 0U) << s;
  }
}

// Restores the rig's default source and the volumes the tests change.
class PulseMixerWrites : public ::testing::Test {
 protected:
  void TearDown() override {
    Pactl({QStringLiteral("set-default-source"), defaultSource_});
    Pactl({QStringLiteral("set-sink-volume"), QStringLiteral("speakers"), QStringLiteral("100%")});
    Pactl({QStringLiteral("set-sink-mute"), QStringLiteral("speakers"), QStringLiteral("0")});
    Pactl({QStringLiteral("set-source-volume"), QStringLiteral("mic"), QStringLiteral("100%")});
  }
  QString defaultSource_ = Pactl({QStringLiteral("get-default-source")});
};

TEST_F(PulseMixerWrites, SinkVolumeMuteAndSourceVolumeReachTheServer) {
  Opened mixer;
  const auto sink = Controls(mixer.handle, 0xFFFF0000);
  const auto volume = [] {
    return Pactl({QStringLiteral("get-sink-volume"), QStringLiteral("speakers")});
  };
  ASSERT_EQ(Set(mixer.handle, sink[0], {0, 0}), MMSYSERR_NOERROR);
  EXPECT_TRUE(volume().contains(QStringLiteral("front-left: 0 /"))) << volume().toStdString();
  ASSERT_EQ(Set(mixer.handle, sink[0], {65535}), MMSYSERR_NOERROR);
  EXPECT_TRUE(volume().contains(QStringLiteral("front-right: 65536 /"))) << volume().toStdString();
  ASSERT_EQ(Set(mixer.handle, sink[1], {1}), MMSYSERR_NOERROR);
  EXPECT_EQ(Pactl({QStringLiteral("get-sink-mute"), QStringLiteral("speakers")}),
            QStringLiteral("Mute: yes"));

  Pactl({QStringLiteral("set-sink-volume"), QStringLiteral("speakers"), QStringLiteral("16384"),
         QStringLiteral("32768")});
  EXPECT_EQ(Values(mixer.handle, sink[0], 2), (std::vector<std::uint32_t>{16384, 32768}));
  EXPECT_EQ(Values(mixer.handle, sink[1], 1), std::vector<std::uint32_t>{1});

  MixerLine mic;
  ASSERT_EQ(PulseMixerDriver().GetSourceLine(mixer.handle, 1, 0, mic), MMSYSERR_NOERROR);
  ASSERT_EQ(Set(mixer.handle, Controls(mixer.handle, mic.lineId)[0], {32768}), MMSYSERR_NOERROR);
  const QString micVolume = Pactl({QStringLiteral("get-source-volume"), QStringLiteral("mic")});
  EXPECT_TRUE(micVolume.contains(QStringLiteral(" 50% "))) << micVolume.toStdString();
}

TEST_F(PulseMixerWrites, MuxItemChoosesTheDefaultSourceAndAllZeroKeepsIt) {
  Opened mixer;
  MixerLine recording;
  ASSERT_EQ(PulseMixerDriver().GetDestinationLine(mixer.handle, 1, recording), MMSYSERR_NOERROR);
  const MixerControl mux = Controls(mixer.handle, recording.lineId)[0];
  ASSERT_EQ(Set(mixer.handle, mux, {0, 1, 0, 0}), MMSYSERR_NOERROR);
  EXPECT_EQ(Pactl({QStringLiteral("get-default-source")}), QStringLiteral("line"));
  ASSERT_EQ(Set(mixer.handle, mux, {0, 0, 0, 0}), MMSYSERR_NOERROR);
  EXPECT_EQ(Pactl({QStringLiteral("get-default-source")}), QStringLiteral("line"));
  ASSERT_EQ(Set(mixer.handle, mux, {1, 0, 0, 0}), MMSYSERR_NOERROR);
  EXPECT_EQ(Pactl({QStringLiteral("get-default-source")}), QStringLiteral("mic"));
}

TEST_F(PulseMixerWrites, TheTakeMixIsChosenBesideAMicrophoneAndKeepsTheVoiceLevel) {
  Opened mixer;
  MixerLine recording;
  ASSERT_EQ(PulseMixerDriver().GetDestinationLine(mixer.handle, 1, recording), MMSYSERR_NOERROR);
  const MixerControl mux = Controls(mixer.handle, recording.lineId)[0];
  // From a monitor, the voice moves to the first input; a chosen input stays.
  ASSERT_EQ(Set(mixer.handle, mux, {0, 0, 1, 0}), MMSYSERR_NOERROR);
  ASSERT_EQ(Set(mixer.handle, mux, {0, 0, 0, 1}), MMSYSERR_NOERROR);
  EXPECT_TRUE(take_mix::Chosen());
  EXPECT_EQ(Pactl({QStringLiteral("get-default-source")}), QStringLiteral("mic"));
  EXPECT_EQ(Values(mixer.handle, mux, 1), (std::vector<std::uint32_t>{0, 0, 0, 1}));
  ASSERT_EQ(Set(mixer.handle, mux, {0, 1, 0, 0}), MMSYSERR_NOERROR);
  ASSERT_EQ(Set(mixer.handle, mux, {0, 0, 0, 1}), MMSYSERR_NOERROR);
  EXPECT_EQ(Pactl({QStringLiteral("get-default-source")}), QStringLiteral("line"));

  MixerLine takeMix;
  ASSERT_EQ(PulseMixerDriver().GetSourceLine(mixer.handle, 1, 3, takeMix), MMSYSERR_NOERROR);
  const MixerControl level = Controls(mixer.handle, takeMix.lineId)[0];
  ASSERT_EQ(Set(mixer.handle, level, {20000}), MMSYSERR_NOERROR);
  EXPECT_EQ(take_mix::VoiceLevel(), 20000U);
  EXPECT_EQ(Values(mixer.handle, level, 1), std::vector<std::uint32_t>{20000});

  // A plain source again: the take mix is no longer chosen.
  ASSERT_EQ(Set(mixer.handle, mux, {1, 0, 0, 0}), MMSYSERR_NOERROR);
  EXPECT_FALSE(take_mix::Chosen());
  EXPECT_EQ(Values(mixer.handle, mux, 1), (std::vector<std::uint32_t>{1, 0, 0, 0}));
  take_mix::SetVoiceLevel(65535);
}

TEST_F(PulseMixerWrites, ChangesMadeElsewhereArriveAsNotifications) {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<std::pair<unsigned, std::uint32_t>> seen;
  const auto has = [&](unsigned msg, std::uint32_t id) {
    std::unique_lock<std::mutex> lock(mutex);
    return arrived.wait_for(lock, std::chrono::seconds(5), [&] {
      return std::find(seen.begin(), seen.end(), std::make_pair(msg, id)) != seen.end();
    });
  };
  Opened mixer([&](unsigned msg, MixerHandle, std::uint32_t id) {
    const std::lock_guard<std::mutex> lock(mutex);
    seen.emplace_back(msg, id);
    arrived.notify_all();
  });
  const auto sink = Controls(mixer.handle, 0xFFFF0000);
  Pactl({QStringLiteral("set-sink-volume"), QStringLiteral("speakers"), QStringLiteral("30%")});
  EXPECT_TRUE(has(MM_MIXM_CONTROL_CHANGE, sink[0].controlId));
  Pactl({QStringLiteral("set-sink-mute"), QStringLiteral("speakers"), QStringLiteral("1")});
  EXPECT_TRUE(has(MM_MIXM_CONTROL_CHANGE, sink[1].controlId));
  Pactl({QStringLiteral("set-default-source"), defaultSource_ == QStringLiteral("line")
                                                   ? QStringLiteral("mic")
                                                   : QStringLiteral("line")});
  EXPECT_TRUE(has(MM_MIXM_LINE_CHANGE, 0xFFFF0001));
}

TEST(PulseMixerNoServer, AbsentOrSilentServerGivesNoDeviceAndOpenFails) {
  const QByteArray server = qgetenv("PULSE_SERVER");
  QTemporaryDir dir;
  const QString socket = dir.filePath(QStringLiteral("native"));
  SilentServer silent(socket);
  ASSERT_TRUE(silent.Listening());
  for (const QString& address :
       {QStringLiteral("unix:/nonexistent/pulse/native"), QStringLiteral("unix:") + socket}) {
    qputenv("PULSE_SERVER", address.toLocal8Bit());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(PulseMixerDriver().GetNumDevs(), 0) << address.toStdString();
    MixerHandle handle = 0;
    EXPECT_NE(PulseMixerDriver().Open(&handle, 0, {}), MMSYSERR_NOERROR);
    // Not a speed target: a wait that is not bounded would never come back at all.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  }
  qputenv("PULSE_SERVER", server);
}

TEST(PulseMixerLostServer, CallsFailOnceTheServerIsKilled) {
  const QByteArray server = qgetenv("PULSE_SERVER");
  QTemporaryDir dir;
  const QString rig = QDir(qEnvironmentVariable("SONARELLE_SOURCE_DIR"))
                          .filePath(QStringLiteral("scripts/sound-rig.sh"));
  ASSERT_EQ(QProcess::execute(rig, {QStringLiteral("start"), dir.path()}), 0);
  qputenv("PULSE_SERVER", ("unix:" + dir.filePath(QStringLiteral("native"))).toLocal8Bit());
  MixerHandle handle = 0;
  const MMRESULT opened =
      PulseMixerDriver().Open(&handle, 0, [](unsigned, MixerHandle, std::uint32_t) {});
  QProcess::execute(rig, {QStringLiteral("stop"), dir.path()});
  qputenv("PULSE_SERVER", server);
  ASSERT_EQ(opened, MMSYSERR_NOERROR);
  std::vector<std::uint32_t> values;
  EXPECT_NE(PulseMixerDriver().GetControlValues(handle, 1, 2, 0, values), MMSYSERR_NOERROR);
  EXPECT_NE(PulseMixerDriver().SetControlValues(handle, 1, 1, 0, {100}), MMSYSERR_NOERROR);
  MixerLine line;
  EXPECT_NE(PulseMixerDriver().GetDestinationLine(handle, 1, line), MMSYSERR_NOERROR);
  EXPECT_EQ(PulseMixerDriver().Close(handle), MMSYSERR_NOERROR);
}

}  // namespace
