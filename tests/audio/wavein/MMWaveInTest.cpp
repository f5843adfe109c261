// The wave-in device against the rig's sound server, and its failure paths through a driver
// table that fails on demand.
#include <gtest/gtest.h>

#include "support/ErrorText.h"

#include <chrono>
#include <thread>

#include <QElapsedTimer>
#include <QTest>

#include "FailingWaveInDriver.h"
#include "RigAudio.h"
#include "audio/wavein/MMWaveIn.h"
#include "support/ModalBoxWatcher.h"

using namespace sonarelle;
using Op = FailingWaveInDriver::Op;

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

// A device on the real server whose pushed buffers are kept.
struct Recording {
  explicit Recording(WaveInDriver& driver) : device(driver) {
    device.OnBufferReady = [this](TMMDSPComponent*, PWaveHdr header) {
      data.append(header->lpData, header->dwBytesRecorded);
      ++buffers;
    };
    device.OnStop = [this](TMMComponent*) { ++stops; };
    device.OnError = [this](TMMComponent*) { ++errors; };
  }
  TTestWaveIn device;
  QByteArray data;
  int buffers = 0;
  int stops = 0;
  int errors = 0;
};

}  // namespace

TEST(WaveInSettings, ClampsAndFormatAdoption) {
  TTestWaveIn device(PulseWaveInDriver());
  ASSERT_NE(device.GetFormat(), nullptr);
  EXPECT_EQ(device.GetFormat()->wBitsPerSample, 8);
  EXPECT_EQ(device.GetFormat()->nChannels, 1);
  EXPECT_EQ(device.GetFormat()->nSamplesPerSec, 11025U);

  device.SetNumBuffers(1);
  EXPECT_EQ(device.NumBuffers(), 10);
  device.SetNumBuffers(600);
  EXPECT_EQ(device.NumBuffers(), 500);
  device.SetBufferSize(10);
  EXPECT_EQ(device.BufferSize(), 32);
  device.SetSampleRate(200000);
  EXPECT_EQ(device.SampleRate(), 100000);
  device.SetSampleRate(5000);
  EXPECT_EQ(device.SampleRate(), 8000);
  EXPECT_EQ(device.GetFormat()->nSamplesPerSec, 8000U);
  device.SetMode(static_cast<TMMMode>(5));
  EXPECT_EQ(device.Mode(), mMono);

  // A PCM record the device can record is adopted; 24 bits is only passed on.
  WAVEFORMATEX stereo16 = MakePCMFormat(16, 2, 22050);
  device.SetFormat(&stereo16);
  EXPECT_EQ(device.Mode(), mStereo);
  EXPECT_EQ(device.BitLength(), b16Bit);
  EXPECT_EQ(device.SampleRate(), 22050);
  WAVEFORMATEX deep = MakePCMFormat(24, 2, 48000);
  device.SetFormat(&deep);
  EXPECT_EQ(device.BitLength(), b16Bit);
  EXPECT_EQ(device.SampleRate(), 22050);
  EXPECT_EQ(device.GetFormat()->wBitsPerSample, 24);

  // The limit follows the unit: 1000 ms of 16-bit stereo at 44100 Hz are 176400 bytes.
  device.SetSampleRate(44100);
  device.SetTimeFormat(tfMillisecond);
  device.SetMaxRecordTime(1000);
  device.SetTimeFormat(tfByte);
  EXPECT_EQ(device.MaxRecordTime(), 176400);
  device.SetTimeFormat(tfSample);
  EXPECT_EQ(device.MaxRecordTime(), 44100);
}

TEST(WaveInDevices, RigSourcesAreTheDevices) {
  const QStringList sources = RigSources();
  TTestWaveIn device(PulseWaveInDriver());
  ASSERT_EQ(device.NumDevs(), sources.size()) << sources.join(QLatin1Char(' ')).toStdString();
  EXPECT_TRUE(sources.contains(QStringLiteral("speakers.monitor")));

  device.SetDeviceID(RigDevice(QStringLiteral("mic")));
  const QString mic = device.ProductName();
  device.SetDeviceID(RigDevice(QStringLiteral("line")));
  EXPECT_NE(device.ProductName(), mic);
  EXPECT_NE(device.ProductName(), QStringLiteral("No wave audio recording device found"));
  device.SetDeviceID(-1);
  EXPECT_EQ(device.DeviceID(), -1);
  EXPECT_NE(device.ProductName(), QStringLiteral("No wave audio recording device found"));
  device.SetDeviceID(static_cast<int>(sources.size()));
  EXPECT_EQ(device.DeviceID(), -2);
  EXPECT_EQ(device.ProductName(), QStringLiteral("No wave audio recording device found"));
}

TEST(WaveInDevices, DeviceBeyondTheCountIsInvalid) {
  FailingWaveInDriver driver(PulseWaveInDriver());
  driver.SetDeviceCount(2);
  Recording rec(driver);
  rec.device.SetDeviceID(7);
  EXPECT_EQ(rec.device.DeviceID(), -2);
  EXPECT_EQ(rec.device.ProductName(), QStringLiteral("No wave audio recording device found"));
  EXPECT_EQ(ErrorOf<EMMWaveInError>([&] { rec.device.StartDevice(); }),
            QStringLiteral("Invalid DeviceID"));
  EXPECT_EQ(rec.errors, 1);
  EXPECT_EQ(rec.device.State(), TMMCustomWaveIn::wsClosed);

  driver.SetDeviceCount(0);
  TTestWaveIn none(driver);
  EXPECT_EQ(none.DeviceID(), -2);
  EXPECT_EQ(ErrorOf<EMMWaveInError>([&] { none.StartDevice(); }),
            QStringLiteral("No wave audio recording device found"));
}

// Stops itself exactly at the limit, and the tone runs on across every buffer boundary.
TEST(WaveInRecording, LimitInMillisecondsStopsAtExactlyThatManyBytes) {
  Recording rec(PulseWaveInDriver());
  rec.device.SetDeviceID(RigDevice(QStringLiteral("mic")));
  rec.device.SetSampleRate(44100);
  rec.device.SetBitLength(b16Bit);
  rec.device.SetMode(mStereo);
  rec.device.SetTimeFormat(tfMillisecond);
  rec.device.SetMaxRecordTime(1000);
  // Enough room for the second the rig's source hands out at once.
  rec.device.SetNumBuffers(200);
  rec.device.StartDevice();
  ASSERT_TRUE(WaitUntil([&] { return rec.stops > 0; }, 20000));
  EXPECT_EQ(rec.stops, 1);
  EXPECT_EQ(rec.data.size(), 176400);
  EXPECT_EQ(rec.device.BytesRecorded(), 176400);
  EXPECT_EQ(rec.device.State() & TMMCustomWaveIn::wsStarted, 0U);

  ExpectUnbrokenTone(rec.data, 2, 440);
  rec.device.CloseDevice();
  EXPECT_EQ(rec.device.State(), TMMCustomWaveIn::wsClosed);
  // Not restarted by buffers that were still on their way.
  QTest::qWait(100);
  EXPECT_EQ(rec.data.size(), 176400);
}

TEST(WaveInRecording, WorkerThreadModeWithALimitInSamples) {
  Recording rec(PulseWaveInDriver());
  rec.device.SetCallBackMode(TMMCBMode::cmThread);
  rec.device.SetDeviceID(RigDevice(QStringLiteral("line")));
  rec.device.SetTimeFormat(tfSample);
  rec.device.SetMaxRecordTime(5000);
  rec.device.SetBufferSize(700);
  rec.device.SetNumBuffers(100);
  rec.device.StartDevice();
  ASSERT_TRUE(WaitUntil([&] { return rec.stops > 0; }, 20000));
  EXPECT_EQ(rec.data.size(), 5000);
  const std::vector<double> samples = Channel(rec.data, 8, 1, 0);
  EXPECT_LT(FitSine(samples, 11025, 880).residue, 0.1);
  rec.device.CloseDevice();
}

TEST(WaveInRecording, SettingsRefusedWhileOpenAndPauseHoldsTheData) {
  Recording rec(PulseWaveInDriver());
  rec.device.SetDeviceID(RigDevice(QStringLiteral("mic")));
  rec.device.StartDevice();
  ASSERT_TRUE(WaitUntil([&] { return rec.buffers > 2; }, 10000));
  for (const auto& change : std::vector<std::function<void()>>{
           [&] { rec.device.SetMode(mStereo); }, [&] { rec.device.SetSampleRate(22050); },
           [&] { rec.device.SetBitLength(b16Bit); }, [&] { rec.device.SetNumBuffers(4); },
           [&] { rec.device.SetBufferSize(4096); }, [&] { rec.device.SetDeviceID(-1); },
           [&] { rec.device.SetCallBackMode(TMMCBMode::cmThread); }}) {
    EXPECT_EQ(ErrorOf<EMMWaveInError>(change),
              QStringLiteral("Change to property while device was open"));
  }
  EXPECT_EQ(rec.device.Mode(), mMono);
  EXPECT_EQ(rec.device.SampleRate(), 11025);
  const int before = rec.buffers;
  ASSERT_TRUE(WaitUntil([&] { return rec.buffers > before + 2; }, 10000)) << "recording stopped";

  rec.device.PauseDevice();
  QTest::qWait(50);
  const qsizetype paused = rec.data.size();
  QTest::qWait(300);
  EXPECT_EQ(rec.data.size(), paused);
  rec.device.RestartDevice();
  ASSERT_TRUE(WaitUntil([&] { return rec.data.size() > paused + 4096; }, 10000));
  rec.device.StopDevice();
  EXPECT_EQ(rec.stops, 1);
  rec.device.CloseDevice();
  EXPECT_EQ(rec.device.State(), TMMCustomWaveIn::wsClosed);
}

// Each failing device operation gives its message, fires OnError and leaves the device
// closed; the device records again once the fault is gone.
TEST(WaveInFailures, EveryOperationReportsAndCloses) {
  FailingWaveInDriver driver(PulseWaveInDriver());
  const int mic = RigDevice(QStringLiteral("mic"));
  const QString busy = driver.GetErrorText(WAVERR_STILLPLAYING);
  struct Case {
    Op op;
    QString message;
  };
  const std::vector<Case> cases = {
      {Op::Query, QStringLiteral("WaveInOpen:\n\rThe actual device can't record this format")},
      {Op::Open, QStringLiteral("WaveInOpen:\n\r") + busy},
      {Op::Prepare, QStringLiteral("WaveInPrepareHeader:\n\r") + busy},
      {Op::Add, QStringLiteral("WaveInAddBuffer:\n\r") + busy},
      {Op::Start, QStringLiteral("WaveInStart:\n\r") + busy},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message.toStdString());
    Recording rec(driver);
    rec.device.SetDeviceID(mic);
    driver.FailOn(c.op, WAVERR_STILLPLAYING);
    EXPECT_EQ(ErrorOf<EMMWaveInError>([&] { rec.device.StartDevice(); }), c.message);
    EXPECT_GE(rec.errors, 1);
    EXPECT_EQ(rec.device.State(), TMMCustomWaveIn::wsClosed);
    driver.Heal();
    rec.device.StartDevice();
    EXPECT_TRUE(WaitUntil([&] { return rec.buffers > 0; }, 10000));
    rec.device.StopDevice();
    rec.device.CloseDevice();
  }

  Recording unknown(driver);
  unknown.device.SetDeviceID(mic);
  driver.FailOn(Op::Open, 999);
  EXPECT_EQ(
      ErrorOf<EMMWaveInError>([&] { unknown.device.StartDevice(); }),
      QStringLiteral("WaveInOpen:\n\rSpecified error number is out of range (unknown error)"));
  driver.Heal();
  driver.DropOpenNotification(true);
  EXPECT_EQ(ErrorOf<EMMWaveInError>([&] { unknown.device.StartDevice(); }),
            QStringLiteral("WaveInOpen:\n\rUnable to open device"));
  EXPECT_EQ(unknown.device.State(), TMMCustomWaveIn::wsClosed);
  driver.DropOpenNotification(false);

  // A failing stop still closes the device.
  unknown.device.StartDevice();
  driver.FailOn(Op::Stop, MMSYSERR_NODRIVER);
  EXPECT_EQ(ErrorOf<EMMWaveInError>([&] { unknown.device.StopDevice(); }),
            QStringLiteral("WaveInStop:\n\r") + driver.GetErrorText(MMSYSERR_NODRIVER));
  EXPECT_EQ(unknown.device.State(), TMMCustomWaveIn::wsClosed);
  driver.Heal();
}

TEST(WaveInFailures, CallbackModeIsRefusedWithItsMessage) {
  ModalBoxWatcher boxes;
  TTestWaveIn device(PulseWaveInDriver());
  device.SetCallBackMode(TMMCBMode::cmCallback);
  EXPECT_EQ(device.CallBackMode(), TMMCBMode::cmWindow);
  ASSERT_EQ(boxes.Boxes().size(), 1);
  EXPECT_EQ(boxes.Boxes()[0].caption, QStringLiteral("TMMWaveIn"));
  EXPECT_EQ(boxes.Boxes()[0].text,
            QStringLiteral("\"CallBacks\" are called at interrupt time !\n\r"
                           "This is currently only supported under Windows 95"));
}

// A driver that never gives the buffers back on a reset: the stop waits about a second,
// then finishes anyway.
TEST(WaveInFailures, StopDoesNotHangOnBuffersThatNeverReturn) {
  FailingWaveInDriver driver(PulseWaveInDriver());
  driver.KeepBuffersOnReset(true);
  Recording rec(driver);
  rec.device.SetDeviceID(RigDevice(QStringLiteral("mic")));
  rec.device.StartDevice();
  ASSERT_TRUE(WaitUntil([&] { return rec.buffers > 0; }, 10000));
  QElapsedTimer timer;
  timer.start();
  rec.device.StopDevice();
  EXPECT_LT(timer.elapsed(), 30000);
  EXPECT_EQ(rec.stops, 1);
  rec.device.CloseDevice();
  EXPECT_EQ(rec.device.State(), TMMCustomWaveIn::wsClosed);
}

// The driver holds audio when the stop comes (the rig's source hands out two seconds at once,
// every two seconds, and nothing is handled meanwhile), but no buffer comes back any more to
// carry it: the stop gives up after a while without progress and finishes.
TEST(WaveInFailures, StopDoesNotHangOnHeldAudioThatNeverComesBack) {
  FailingWaveInDriver driver(PulseWaveInDriver());
  driver.KeepBuffersOnStop(true);
  Recording rec(driver);
  rec.device.SetDeviceID(RigDevice(QStringLiteral("mic")));
  rec.device.SetNumBuffers(2);
  rec.device.StartDevice();
  // What it handed out before the start is not the take's; the next block is.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  ASSERT_GT(driver.HeldBytes(driver.LastHandle()), 4096U);
  rec.device.StopDevice();
  EXPECT_EQ(rec.stops, 1);
  EXPECT_EQ(rec.buffers, 2);  // the two that came back before the stop
  rec.device.CloseDevice();
  EXPECT_EQ(rec.device.State(), TMMCustomWaveIn::wsClosed);
}

// The buffer that crosses the limit is cut to end there; later ones pass on empty.
TEST(WaveInSettings, LimitCutsTheCrossingBufferAndEmptiesLaterOnes) {
  TTestWaveIn device(PulseWaveInDriver());
  std::vector<std::uint32_t> passed;
  device.OnBufferReady = [&](TMMDSPComponent*, PWaveHdr header) {
    passed.push_back(header->dwBytesRecorded);
  };
  device.SetTimeFormat(tfByte);
  device.SetMaxRecordTime(100);
  std::vector<char> data(80);
  TWaveHdr header{};
  header.lpData = data.data();
  header.dwBufferLength = 80;
  for (int i = 0; i < 3; ++i) {
    header.dwBytesRecorded = 80;
    device.BufferReady(&header);
  }
  EXPECT_EQ(passed, (std::vector<std::uint32_t>{80, 20, 0}));
  EXPECT_EQ(device.BytesRecorded(), 100);
}
