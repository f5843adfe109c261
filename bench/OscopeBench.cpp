// What the oscilloscope costs while recording and while idle:
//   - CPU share while a connector paces 44.1 kHz stereo 16-bit buffers (4096 bytes, pushed in
//     real time from a generated 440 Hz tone by a timer) into an 89 x 25 oscilloscope
//     (target < 10 % of one core),
//   - CPU share with the window open and nothing recording (target < 1 %),
//   - how late a posted event is handled while recording (target: within 20 ms).
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise. Prints figures only.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <vector>

#include "CpuTime.h"
#include "audio/chain/MMCustomSoundComponent.h"
#include "displays/MMConnector.h"
#include "displays/MMOscope.h"

namespace {

using namespace sonarelle;

constexpr int kRate = 44100;
constexpr int kBufferBytes = 4096;

// Head of the chain: hands out one buffer of a 440 Hz tone each time it is asked.
class ToneDriver : public TMMCustomSoundComponent {
 public:
  void SetNumBuffers(int) override {}
  int NumBuffers() const override { return 4; }
  void SetDeviceID(int) override {}
  int DeviceID() const override { return 0; }
  void SetProductName(const QString&) override {}
  QString ProductName() const override { return {}; }
  void SetCallBackMode(TMMCBMode) override {}
  TMMCBMode CallBackMode() const override { return TMMCBMode::cmWindow; }

  void PushNext() {
    block_.assign(kWaveHdrSize + kBufferBytes, 0);
    auto* header = reinterpret_cast<PWaveHdr>(block_.data());
    header->lpData = block_.data() + kWaveHdrSize;
    header->dwBufferLength = kBufferBytes;
    header->dwBytesRecorded = kBufferBytes;
    for (int i = 0; i < kBufferBytes / 4; ++i, ++frame_) {
      const auto v = static_cast<std::int16_t>(
          12000 * std::sin(2 * std::numbers::pi * 440 * static_cast<double>(frame_) / kRate));
      std::memcpy(header->lpData + std::ptrdiff_t{4} * i, &v, 2);
      std::memcpy(header->lpData + std::ptrdiff_t{4} * i + 2, &v, 2);
    }
    BufferReady(header);
  }

 private:
  std::vector<char> block_;
  long long frame_ = 0;
};

// Runs the event loop for `ms` and returns the CPU share of one core it took, in percent.
double CpuShare(int ms) {
  const double cpu = CpuSeconds();
  QElapsedTimer wall;
  wall.start();
  // A local loop: quitting the application would close its windows.
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
  return 100.0 * (CpuSeconds() - cpu) / (static_cast<double>(wall.elapsed()) / 1000.0);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  QWidget window;
  window.resize(400, 120);
  TMMOscope scope(&window);
  scope.SetBounds(300, 60, 89, 25);
  scope.SetKind(TMMOscopeKind::okMirLines);
  scope.SetForegroundColor(clLime);
  scope.SetBitLength(TMMBits::b16Bit);
  scope.SetSampleRate(kRate);
  scope.SetMode(TMMMode::mStereo);
  scope.SetShowInfo(false);
  window.show();

  int frames = 0;
  scope.OnPostPaint = [&frames](TMMOscope*) { ++frames; };

  // Settle, then measure the idle window.
  CpuShare(500);
  const double idle = CpuShare(3000);

  ToneDriver driver;
  TMMConnector connector;
  const WAVEFORMATEX format = MakePCMFormat(16, 2, kRate);
  driver.SetFormat(&format);
  driver.SetOutput(&connector);
  connector.SetOscope1(&scope);
  driver.SetBufferSize(kBufferBytes);
  driver.Open();
  driver.Start();

  // One buffer per 4096 bytes of play time, as the capture device would deliver them.
  QElapsedTimer clock;
  clock.start();
  long long pushed = 0;
  QTimer feeder;
  feeder.setTimerType(Qt::PreciseTimer);
  QObject::connect(&feeder, &QTimer::timeout, [&] {
    const long long due = clock.nsecsElapsed() * kRate * 4 / 1000000000LL / kBufferBytes;
    while (pushed < due) {
      driver.PushNext();
      ++pushed;
    }
  });
  feeder.start(5);

  // Posted events while recording: how long each waits before it is handled.
  std::vector<double> waits;
  QTimer prober;
  QObject::connect(&prober, &QTimer::timeout, [&] {
    const qint64 posted = clock.nsecsElapsed();
    QMetaObject::invokeMethod(
        qApp, [&waits, &clock, posted] { waits.push_back((clock.nsecsElapsed() - posted) / 1e6); },
        Qt::QueuedConnection);
  });
  prober.start(50);

  frames = 0;
  CpuShare(500);
  frames = 0;
  const double seconds = 5.0;
  const double recording = CpuShare(static_cast<int>(seconds * 1000));
  const int drawn = frames;
  prober.stop();
  feeder.stop();
  driver.Stop();
  driver.Close();

  std::sort(waits.begin(), waits.end());
  const double worst = waits.empty() ? -1 : waits.back();
  const double median = waits.empty() ? -1 : waits[waits.size() / 2];
  const double after = CpuShare(2000);

  std::printf("oscilloscope idle, window open:   %6.2f %% of one core (target < 1 %%)\n", idle);
  std::printf("oscilloscope while recording:     %6.2f %% of one core (target < 10 %%)\n",
              recording);
  std::printf("frames drawn per second:          %6.1f (about %d expected)\n", drawn / seconds,
              kRate * 4 / kBufferBytes * 11);
  std::printf("posted event wait while recording: median %.2f ms, worst %.2f ms (target < 20 ms)\n",
              median, worst);
  std::printf("idle again after stop:            %6.2f %% of one core\n", after);
  return 0;
}
