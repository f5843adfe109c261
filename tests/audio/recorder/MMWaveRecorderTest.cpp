// The wave recorder against the rig's sound server: takes into WAVE files, their tones, and
// the ways a take ends early (limit, lost source, full disk, failing device).
#include <gtest/gtest.h>

#include "support/ErrorText.h"

#include <chrono>
#include <thread>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include "FailingWaveInDriver.h"
#include "RigAudio.h"
#include "audio/chain/DiskSpace.h"
#include "audio/recorder/MMWaveRecorder.h"
#include "support/ModalBoxWatcher.h"
#include "support/Tone.h"

using namespace sonarelle;

namespace {

template <class Pred>
bool WaitUntil(Pred pred, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!pred() && timer.elapsed() < timeoutMs) {
    QTest::qWait(5);
  }
  return pred();
}

// A recorder set up the way the main window sets up a take.
struct Take {
  explicit Take(std::unique_ptr<TMMCustomWaveIn> device = nullptr)
      : recorder(device ? std::make_unique<TMMWaveRecorder>(std::move(device))
                        : std::make_unique<TMMWaveRecorder>()) {
    recorder->SetNumBuffers(200);
    recorder->SetBufferSize(2048);
    recorder->OnStart = [this](TMMComponent*) { ++starts; };
    recorder->OnStop = [this](TMMComponent*) { ++stops; };
    recorder->OnError = [this](TMMComponent*) { ++errors; };
    recorder->OnData = [this](TMMDSPComponent*, PWaveHdr header) {
      bytes += header->dwBytesRecorded;
      if (stopAt > 0 && bytes >= stopAt) {
        recorder->StopRecording();
      }
    };
    file = dir.filePath(QStringLiteral("take.wav"));
  }
  void Quality(int rate, TMMBitLength bits, TMMMode mode) {
    recorder->SetSampleRate(rate);
    recorder->SetBitLength(bits);
    recorder->SetMode(mode);
  }
  void Start(const QString& source) {
    recorder->SetDeviceID(RigDevice(source));
    recorder->SetFileName(file);
    recorder->Open();
    recorder->StartRecording();
  }

  QTemporaryDir dir;
  QString file;
  std::unique_ptr<TMMWaveRecorder> recorder;
  std::int64_t stopAt = 0;
  std::int64_t bytes = 0;
  int starts = 0;
  int stops = 0;
  int errors = 0;
};

}  // namespace

// Two seconds measured in bytes: the file is final, holds two seconds within one buffer,
// and the tone's phase runs on across every buffer boundary.
TEST(WaveRecorder, TwoSecondsOfMicAreContinuous) {
  Take take;
  take.Quality(44100, b16Bit, mStereo);
  take.stopAt = 2 * 176400;
  take.Start(QStringLiteral("mic"));
  EXPECT_EQ(take.starts, 1);
  ASSERT_TRUE(WaitUntil([&] { return take.stops > 0; }, 30000));
  take.recorder->Close();
  EXPECT_FALSE(take.recorder->Recording());

  const WaveContents wave = ReadWave(take.file);
  ASSERT_TRUE(wave.final);
  EXPECT_EQ(wave.rate, 44100);
  EXPECT_EQ(wave.bits, 16);
  EXPECT_EQ(wave.channels, 2);
  EXPECT_GE(wave.data.size(), 2 * 176400);
  EXPECT_LT(wave.data.size(), 2 * 176400 + 2048);
  EXPECT_EQ(wave.data.size(), take.bytes);
  ExpectUnbrokenTone(wave.data, 2, 440);
}

// The main thread stalls right before Stop is pressed, long enough for every buffer to come
// back filled and more audio to wait in the driver. Stop still keeps all of it: the file
// covers the time up to the press and the tone runs on without a break. The rig's sine
// sources hand out two-second blocks, so the tone comes from a sine played into a sink of
// its own, whose monitor delivers in time like a sound card.
TEST(WaveRecorder, StopAfterAStallKeepsEverythingUpToThePress) {
  const QString sink = Pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                              QStringLiteral("sink_name=tone")});
  ASSERT_FALSE(sink.isEmpty());
  const QString sine = Pactl({QStringLiteral("load-module"), QStringLiteral("module-sine"),
                              QStringLiteral("sink=tone"), QStringLiteral("frequency=440")});
  const auto unload = qScopeGuard([&] {
    Pactl({QStringLiteral("unload-module"), sine});
    Pactl({QStringLiteral("unload-module"), sink});
  });
  ASSERT_FALSE(sine.isEmpty());
  Take take;                         // counts the devices after the new source came
  take.recorder->SetNumBuffers(50);  // 0.58 s: the stall outlasts them
  take.Quality(44100, b16Bit, mStereo);
  take.Start(QStringLiteral("tone.monitor"));
  // The sink may take a while to wake up; time runs from the first buffer on.
  ASSERT_TRUE(WaitUntil([&] { return take.bytes > 0; }, 10000));
  QElapsedTimer clock;
  clock.start();
  const std::int64_t first = take.bytes;
  ASSERT_TRUE(WaitUntil([&] { return take.bytes > first + 44100; }, 10000));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // dispatches nothing
  const double pressed = static_cast<double>(clock.elapsed()) / 1000;
  take.recorder->StopRecording();
  EXPECT_EQ(take.stops, 1);
  take.recorder->Close();

  const WaveContents wave = ReadWave(take.file);
  ASSERT_TRUE(wave.final);
  EXPECT_EQ(wave.data.size(), take.bytes);
  // Not yet sent at the press: the 20 ms fragment the driver asks for and as much again
  // of the sink's latency; 60 ms leaves room for a late wake-up of the server.
  const double seconds = static_cast<double>(wave.data.size() - first) / 176400;
  EXPECT_GT(seconds, pressed - 0.06) << "pressed " << pressed << " s after the first buffer";
  // The take begins at the press with silence until the sink woke up.
  qsizetype sound = 0;
  while (sound < wave.data.size() && wave.data[sound] == 0) ++sound;
  ExpectUnbrokenTone(wave.data.mid(sound - sound % 4), 2, 440);
}

TEST(WaveRecorder, EightBitMonoFromLineCarries880Hz) {
  Take take;
  take.Quality(11025, b8Bit, mMono);
  take.stopAt = 11025;
  take.Start(QStringLiteral("line"));
  ASSERT_TRUE(WaitUntil([&] { return take.stops > 0; }, 30000));
  const WaveContents wave = ReadWave(take.file);
  ASSERT_TRUE(wave.final);
  EXPECT_EQ(wave.bits, 8);
  EXPECT_EQ(wave.channels, 1);
  const std::vector<double> samples = Channel(wave.data, 8, 1, 0);
  EXPECT_TRUE(HasTone(samples, 11025, 880));
  EXPECT_FALSE(HasTone(samples, 11025, 440));
}

TEST(WaveRecorder, LimitStopsTheTakeByItself) {
  Take take;
  take.Quality(44100, b16Bit, mStereo);
  take.recorder->SetTimeFormat(tfMillisecond);
  take.recorder->SetMaxRecordTime(1000);
  take.Start(QStringLiteral("mic"));
  ASSERT_TRUE(WaitUntil([&] { return take.stops > 0; }, 30000));
  EXPECT_EQ(take.stops, 1);
  EXPECT_FALSE(take.recorder->Recording());
  EXPECT_EQ(take.recorder->WaveIn().State(), TMMCustomWaveIn::wsClosed);
  const WaveContents wave = ReadWave(take.file);
  ASSERT_TRUE(wave.final);
  EXPECT_EQ(wave.data.size(), 176400);
}

TEST(WaveRecorder, RefusedChangesAndRepeatedStartsLeaveTheTakeRunning) {
  Take take;
  // Without a file name nothing happens.
  take.recorder->SetDeviceID(RigDevice(QStringLiteral("mic")));
  take.recorder->StartRecording();
  EXPECT_FALSE(take.recorder->Recording());
  EXPECT_EQ(take.starts, 0);

  take.Quality(22050, b16Bit, mMono);
  take.Start(QStringLiteral("mic"));
  ASSERT_TRUE(take.recorder->Recording());
  EXPECT_NE(take.recorder->ProductName(), QStringLiteral("No wave audio recording device found"));
  EXPECT_EQ(take.recorder->InputFormat(), QStringLiteral("PCM 22.050 kHz, 16 Bit, Mono"));
  take.recorder->StartRecording();
  EXPECT_EQ(take.starts, 1);
  EXPECT_EQ(ErrorOf<Exception>([&] { take.recorder->SetSampleRate(44100); }),
            QStringLiteral("Change to property while device was open"));
  EXPECT_EQ(ErrorOf<Exception>([&] { take.recorder->SetMode(mStereo); }),
            QStringLiteral("Change to property while device was open"));
  EXPECT_EQ(take.recorder->SampleRate(), 22050);
  EXPECT_TRUE(take.recorder->Recording());
  const std::int64_t before = take.bytes;
  ASSERT_TRUE(WaitUntil([&] { return take.bytes > before + 8192; }, 10000));

  // A new file name ends the take; the old file is final.
  const QString second = take.dir.filePath(QStringLiteral("second.wav"));
  take.recorder->SetFileName(second);
  EXPECT_FALSE(take.recorder->Recording());
  EXPECT_EQ(take.stops, 1);
  const WaveContents first = ReadWave(take.file);
  EXPECT_TRUE(first.final);
  EXPECT_EQ(first.data.size(), take.bytes);
}

namespace {
// Counts the formats handed to it.
class FormatSink : public TMMDSPComponent {
 public:
  void SetFormat(const WAVEFORMATEX* format) override {
    ++formats;
    TMMDSPComponent::SetFormat(format);
  }
  int formats = 0;
};
}  // namespace

TEST(WaveRecorder, OutputAlwaysGetsTheDeviceFormat) {
  Take take;
  FormatSink sink;
  take.recorder->SetOutput(&sink);
  ASSERT_NE(sink.GetFormat(), nullptr);
  const int before = sink.formats;

  // Equal to the device's: only handed on; the device keeps its own record.
  const WAVEFORMATEX* own = take.recorder->WaveIn().GetFormat();
  const WAVEFORMATEX equal = *own;
  take.recorder->SetFormat(&equal);
  EXPECT_EQ(take.recorder->WaveIn().GetFormat(), own);
  EXPECT_EQ(sink.formats, before + 1);

  // A different one goes to the device, which adopts it and hands it down to the Output.
  const WAVEFORMATEX other = MakePCMFormat(16, 2, 32000);
  take.recorder->SetFormat(&other);
  EXPECT_EQ(take.recorder->SampleRate(), 32000);
  EXPECT_EQ(take.recorder->Mode(), mStereo);
  ASSERT_NE(sink.GetFormat(), nullptr);
  EXPECT_EQ(sink.GetFormat()->nSamplesPerSec, 32000U);
  EXPECT_EQ(sink.GetFormat()->nChannels, 2);
  take.recorder->SetOutput(nullptr);
}

// The rig's source goes away while recording: the take stops with a message and what was
// recorded stays in a final file.
TEST(WaveRecorderFaults, LostSourceEndsTheTakeWithAFinalFile) {
  ModalBoxWatcher boxes;
  const QString module =
      Pactl({QStringLiteral("load-module"), QStringLiteral("module-sine-source"),
             QStringLiteral("source_name=vanishing"), QStringLiteral("frequency=440")});
  ASSERT_FALSE(module.isEmpty());
  Take take;  // counts the devices after the new source came
  take.Quality(44100, b16Bit, mStereo);
  take.Start(QStringLiteral("vanishing"));
  ASSERT_TRUE(WaitUntil([&] { return take.bytes > 44100; }, 10000));
  Pactl({QStringLiteral("unload-module"), module});
  ASSERT_TRUE(WaitUntil([&] { return take.stops > 0; }, 10000));
  EXPECT_GE(take.errors, 1);
  EXPECT_FALSE(take.recorder->Recording());
  ASSERT_TRUE(WaitUntil([&] { return !boxes.Boxes().isEmpty(); }, 5000));
  // Read as a lost device, not as a server failure.
  EXPECT_EQ(boxes.Boxes()[0].text.toStdString(),
            "WaveIn:\n\rThere is no recording input any more: it was unplugged or removed from "
            "the sound server.");
  const WaveContents wave = ReadWave(take.file);
  ASSERT_TRUE(wave.final);
  EXPECT_EQ(wave.data.size(), take.bytes);
}

namespace {
std::uint64_t NoSpace(const QString&) {
  return 0;
}
}  // namespace

TEST(WaveRecorderFaults, FullDiskEndsTheTakeWithWhatFitted) {
  Take take;
  take.Quality(44100, b16Bit, mStereo);
  take.recorder->OnData = [&](TMMDSPComponent*, PWaveHdr header) {
    take.bytes += header->dwBytesRecorded;
    if (take.bytes >= 44100) {
      SetFreeSpaceQuery(&NoSpace);
    }
  };
  take.Start(QStringLiteral("mic"));
  const bool stopped = WaitUntil([&] { return take.stops > 0; }, 10000);
  SetFreeSpaceQuery(nullptr);
  ASSERT_TRUE(stopped);
  EXPECT_FALSE(take.recorder->Recording());
  const WaveContents wave = ReadWave(take.file);
  ASSERT_TRUE(wave.final);
  EXPECT_GE(wave.data.size(), 40000);
  EXPECT_LT(wave.data.size(), take.bytes);
}

TEST(WaveRecorderFaults, FailingDeviceEndsTheTakeWithAFinalFile) {
  ModalBoxWatcher boxes;
  FailingWaveInDriver driver(PulseWaveInDriver());
  // The first 200 buffers queue; re-queueing a filled one fails.
  driver.FailOn(FailingWaveInDriver::Op::Add, MMSYSERR_NOMEM, 230);
  Take take(std::make_unique<TTestWaveIn>(driver));
  take.Quality(44100, b16Bit, mStereo);
  take.Start(QStringLiteral("mic"));
  ASSERT_TRUE(WaitUntil([&] { return !take.recorder->Recording(); }, 10000));
  ASSERT_TRUE(WaitUntil([&] { return !boxes.Boxes().isEmpty(); }, 5000));
  EXPECT_EQ(boxes.Boxes()[0].text,
            QStringLiteral("WaveInAddBuffer:\n\r") + driver.GetErrorText(MMSYSERR_NOMEM));
  EXPECT_GE(take.errors, 1);
  EXPECT_EQ(take.recorder->WaveIn().State(), TMMCustomWaveIn::wsClosed);
  const WaveContents wave = ReadWave(take.file);
  ASSERT_TRUE(wave.final);
  EXPECT_GE(wave.data.size(), 30 * 2048);
}

namespace {

// The index of this process's record stream on the rig.
QString OwnSourceOutput() {
  const QString pid = QString::number(QCoreApplication::applicationPid());
  QString index;
  for (const QString& line :
       Pactl({QStringLiteral("list"), QStringLiteral("source-outputs")}).split(QLatin1Char('\n'))) {
    const QString text = line.trimmed();
    if (text.startsWith(QStringLiteral("Source Output #"))) {
      index = text.mid(15);
    } else if (text == QStringLiteral("application.process.id = \"%1\"").arg(pid)) {
      return index;
    }
  }
  return {};
}

// Seconds from the take's start to the first and past the last 50 ms window in which the
// left channel carries `frequency` louder than `other`; -1 when none does.
std::pair<double, double> Stretch(const WaveContents& wave, double frequency, double other) {
  const std::vector<double> left = Channel(wave.data, wave.bits, wave.channels, 0);
  const std::size_t window = std::size_t(wave.rate) / 20;
  double first = -1;
  double last = -1;
  for (std::size_t at = 0; at + window <= left.size(); at += window) {
    const std::vector<double> part(left.begin() + std::ptrdiff_t(at),
                                   left.begin() + std::ptrdiff_t(at + window));
    if (FitSine(part, wave.rate, frequency).amplitude > FitSine(part, wave.rate, other).amplitude) {
      if (first < 0) first = double(at) / wave.rate;
      last = double(at + window) / wave.rate;
    }
  }
  return {first, last};
}

}  // namespace

// A recorder on the rig's default source, telling the input changes it sees.
struct DefaultSourceTake : Take {
  DefaultSourceTake() {
    Quality(44100, b16Bit, mStereo);
    recorder->SetNumBuffers(20);
    recorder->SetBufferSize(4096);
    recorder->SetDeviceID(-1);
    recorder->OnInputChange = [this](TMMComponent*, const WaveInInputChange& change) {
      changes << change;
    };
    recorder->SetFileName(file);
    recorder->Open();
    clock.start();
    recorder->StartRecording();
    started = Now();
  }
  double Now() const { return double(clock.nsecsElapsed()) / 1e9; }
  // Stops and gives the take's seconds, checked against the time from the press of Record
  // to the press of Stop: within one buffer and the time the start itself took.
  double Stop() {
    const double pressed = Now();
    recorder->StopRecording();
    recorder->Close();
    wave = ReadWave(file);
    EXPECT_TRUE(wave.final);
    const double seconds = double(wave.data.size()) / 176400;
    EXPECT_NEAR(seconds, pressed, 4096.0 / 176400 + started + 0.01) << "pressed for " << pressed;
    return seconds;
  }

  QElapsedTimer clock;
  double started = 0;
  WaveContents wave;
  QList<WaveInInputChange> changes;
};

// The rig's sine sources hand out two seconds of sound at once, which the server reports as
// captured before the press: none of it goes into the take, and the take ends with what was
// captured up to the press of Stop, though the source hands that out late.
TEST(WaveRecorder, ATakeFromASourceThatDeliversLateHoldsTheTimeFromRecordToStop) {
  ASSERT_EQ(Pactl({QStringLiteral("get-default-source")}), QStringLiteral("mic"));
  DefaultSourceTake take;
  QTest::qWait(3000);
  take.Stop();
  ExpectUnbrokenTone(take.wave.data, 2, 440);
}

// Two inputs that deliver in time like sound cards (sines played into sinks of their own):
// the server moves the take's stream from one to the other and back, and the other tone
// sits in the take where the moves happened, each move told once with where it begins.
TEST(WaveRecorder, AnInputChangeDuringATakeSitsWhereItHappenedAndIsTold) {
  QStringList modules;
  for (const char* tone : {"440", "880"}) {
    modules << Pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                      QStringLiteral("sink_name=tone%1").arg(tone),
                      QStringLiteral("sink_properties=device.description=Tone%1").arg(tone)});
    modules << Pactl({QStringLiteral("load-module"), QStringLiteral("module-sine"),
                      QStringLiteral("sink=tone%1").arg(tone),
                      QStringLiteral("frequency=%1").arg(tone)});
  }
  // A null sink wakes up slowly: listeners keep both running at a short latency.
  std::vector<std::unique_ptr<QProcess>> listeners;
  for (const char* tone : {"440", "880"}) {
    auto& listener = listeners.emplace_back(std::make_unique<QProcess>());
    listener->setStandardOutputFile(QProcess::nullDevice());
    listener->start(QStringLiteral("parec"),
                    {QStringLiteral("--latency-msec=20"), QStringLiteral("-d"),
                     QStringLiteral("tone%1.monitor").arg(tone)});
  }
  QTest::qWait(1500);
  Pactl({QStringLiteral("set-default-source"), QStringLiteral("tone440.monitor")});
  const auto restore = qScopeGuard([&] {
    listeners.clear();
    Pactl({QStringLiteral("set-default-source"), QStringLiteral("mic")});
    for (auto it = modules.crbegin(); it != modules.crend(); ++it) {
      Pactl({QStringLiteral("unload-module"), *it});
    }
  });
  DefaultSourceTake take;
  const QString output = OwnSourceOutput();
  ASSERT_FALSE(output.isEmpty());
  QTest::qWait(1500);
  const double awayFrom = take.Now();
  Pactl({QStringLiteral("move-source-output"), output, QStringLiteral("tone880.monitor")});
  const double away = take.Now();
  QTest::qWait(1500);
  const double backFrom = take.Now();
  Pactl({QStringLiteral("move-source-output"), output, QStringLiteral("tone440.monitor")});
  const double back = take.Now();
  QTest::qWait(1500);
  take.Stop();

  // The pactl calls take their own time, hence the windows; a read is 20 ms.
  const auto [from, to] = Stretch(take.wave, 880, 440);
  EXPECT_GT(from, awayFrom - 0.06);
  EXPECT_LT(from, away + 0.06);
  EXPECT_GT(to, backFrom - 0.06);
  EXPECT_LT(to, back + 0.06);
  ASSERT_EQ(take.changes.size(), 2);
  EXPECT_EQ(take.changes[0].from, QStringLiteral("Monitor of Tone440"));
  EXPECT_EQ(take.changes[0].to, QStringLiteral("Monitor of Tone880"));
  EXPECT_EQ(take.changes[1].to, QStringLiteral("Monitor of Tone440"));
  EXPECT_FALSE(take.changes[0].lost || take.changes[1].lost);
  EXPECT_NEAR(double(take.changes[0].frame) / 44100, from, 0.06);
  EXPECT_NEAR(double(take.changes[1].frame) / 44100, to, 0.06);
}
