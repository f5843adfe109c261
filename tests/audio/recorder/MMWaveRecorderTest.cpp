// The wave recorder against the rig's sound server: takes into WAVE files, their tones, and
// the ways a take ends early (limit, lost source, full disk, failing device).
#include <gtest/gtest.h>

#include "support/ErrorText.h"

#include <chrono>
#include <thread>

#include <QElapsedTimer>
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
  ExpectUnbrokenTone(wave.data, 2, 440);
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
  EXPECT_TRUE(boxes.Boxes()[0].text.startsWith(QStringLiteral("WaveIn:\n\r")))
      << boxes.Boxes()[0].text.toStdString();
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
