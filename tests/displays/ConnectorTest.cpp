#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "ChainDriver.h"
#include "ScopePixels.h"
#include "displays/MMConnector.h"
#include "displays/MMOscope.h"

namespace sonarelle {
namespace {

using test::LitTrace;
using test::Range;
using test::SummariseRows;

constexpr QRgb kLime = 0x00FF00;
constexpr std::int64_t kStart = 1'000'000;  // µs on the test clock

// Handles events until `done` holds; fails after five seconds.
template <class Predicate>
bool ProcessUntil(Predicate done) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > 5000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

// Recorder chain of the main window: a driver feeding the connector, which feeds the 89 x 25
// oscilloscope. Every frame block k of the buffers it pushes carries the value 100 (k + 1),
// so the sample row tells which frame was drawn.
class ConnectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    now_ = kStart;
    TMMConnector::SetTimeSource([this] { return now_.load(); });
    scope_ = std::make_unique<TMMOscope>();
    scope_->SetBounds(0, 0, 89, 25);
    scope_->SetKind(TMMOscopeKind::okMirLines);
    scope_->SetForegroundColor(clLime);
    scope_->SetShowInfo(false);
    scope_->show();
    scope_->OnPostPaint = [this](TMMOscope*) { ++frames_; };
    connector_ = std::make_unique<TMMConnector>();
    connector_->OnTrigger = [this](TMMConnector*) { ++passes_; };
    const WAVEFORMATEX format = MakePCMFormat(16, 2, 44100);
    driver_.SetFormat(&format);
    driver_.SetOutput(connector_.get());
    connector_->SetOscope1(scope_.get());
  }

  void TearDown() override {
    driver_.Stop();
    driver_.Close();
    connector_.reset();
    TMMConnector::SetTimeSource(nullptr);
  }

  void StartChain(int bufferSize) {
    driver_.SetBufferSize(bufferSize);
    driver_.Open();
    driver_.Start();
    ASSERT_TRUE(ProcessUntil([this] { return connector_->Running(); }));
  }

  static std::vector<char> Buffer(int bytes, int base = 100) {
    std::vector<char> data(static_cast<std::size_t>(bytes));
    for (int i = 0; i + 4 <= bytes; i += 4) {
      const auto v = static_cast<std::int16_t>(base * (i / 348 + 1));
      std::memcpy(&data[i], &v, 2);
      std::memcpy(&data[i + 2], &v, 2);
    }
    return data;
  }

  // Lets the drawing loop run a few passes at the current clock reading.
  void RunPasses(int count = 3) {
    const int target = passes_ + count;
    ASSERT_TRUE(ProcessUntil([&] { return passes_ >= target; }));
  }

  // The value of the frame drawn last.
  int Shown() const { return scope_->SampleRow()[0]; }

  // Frames drawn over one buffer while the clock moves to each frame's due time.
  std::vector<int> DrawBuffer(int bytes) {
    std::vector<int> shown;
    driver_.Push(Buffer(bytes));
    for (int step = 0; step < 20 && connector_->OscopePending(); ++step) {
      const int before = Shown();
      const std::int64_t due = kStart + std::int64_t{connector_->OscopeOffset()} * 1000000 / 176400;
      now_ = due - 1;
      RunPasses();
      EXPECT_EQ(Shown(), before) << "drawn early at offset " << connector_->OscopeOffset();
      now_ = due;
      RunPasses();
      if (Shown() != before) shown.push_back(Shown());
    }
    return shown;
  }

  std::atomic<std::int64_t> now_{kStart};
  test::ChainDriver driver_;
  std::unique_ptr<TMMOscope> scope_;
  std::unique_ptr<TMMConnector> connector_;
  int frames_ = 0;
  int passes_ = 0;
};

TEST_F(ConnectorTest, PacesFiveFramesPerSmallBufferAndElevenPerDefaultBuffer) {
  StartChain(2048);
  EXPECT_EQ(scope_->RefreshBytes(), 348);  // the format reached the scope at start
  EXPECT_EQ(DrawBuffer(2048), (std::vector<int>{100, 200, 300, 400, 500}));
  EXPECT_FALSE(connector_->OscopePending());
  EXPECT_EQ(connector_->OscopeOffset(), 2088);  // the sixth frame found no room

  driver_.Stop();
  driver_.Close();
  now_ = kStart;
  StartChain(4096);
  const std::vector<int> shown = DrawBuffer(4096);
  ASSERT_EQ(shown.size(), 11U);
  EXPECT_EQ(shown.back(), 1100);
  EXPECT_FALSE(connector_->OscopePending());
}

TEST_F(ConnectorTest, DueTimesFollowThePlayTime) {
  StartChain(4096);
  driver_.Push(Buffer(4096));
  RunPasses();
  EXPECT_EQ(Shown(), 100);  // frame 0 is due at once
  now_ = kStart + 1971;
  RunPasses();
  EXPECT_EQ(Shown(), 100);
  now_ = kStart + 1972;  // 348 bytes at 176400 bytes a second
  RunPasses();
  EXPECT_EQ(Shown(), 200);
  // A late clock catches up frame by frame, and the last one is the buffer's eleventh.
  now_ = kStart + 19727;
  RunPasses(20);
  EXPECT_EQ(Shown(), 1100);
  EXPECT_TRUE(connector_->OscopePending());
  // The twelfth frame (3828 + 348 > 4096) ends the buffer without drawing.
  now_ = kStart + 21700;
  RunPasses();
  EXPECT_FALSE(connector_->OscopePending());
  EXPECT_EQ(Shown(), 1100);
}

TEST_F(ConnectorTest, NewBufferRestartsTheOffsets) {
  StartChain(4096);
  driver_.Push(Buffer(4096));
  now_ = kStart + 6000;
  RunPasses(6);
  EXPECT_EQ(connector_->OscopeOffset(), 4 * 348);
  now_ = kStart + 7000;
  driver_.Push(Buffer(4096, 7));
  EXPECT_EQ(connector_->OscopeOffset(), 0);
  EXPECT_TRUE(connector_->OscopePending());
  RunPasses();
  EXPECT_EQ(Shown(), 7);
  EXPECT_EQ(connector_->OscopeOffset(), 348);
}

TEST_F(ConnectorTest, PauseShowsAFlatTraceRefreshedByTheSharedTimer) {
  TMMConnector::SetTimeSource(nullptr);  // the pause timer runs in real time
  StartChain(4096);
  driver_.Push(Buffer(4096, 800));
  ASSERT_TRUE(ProcessUntil([this] { return !connector_->OscopePending(); }));
  EXPECT_EQ(Shown(), 8800);
  driver_.Pause();
  EXPECT_TRUE(connector_->ConnectorPaused());
  const int before = frames_;
  ASSERT_TRUE(ProcessUntil([&] { return frames_ >= before + 3; }));
  EXPECT_EQ(Shown(), 0);
  EXPECT_EQ(SummariseRows(LitTrace(*scope_, kLime)).full, (std::vector<int>{10, 11}));
  // Data arriving while paused is not shown.
  driver_.Push(Buffer(4096, 9000));
  const int afterPush = frames_;
  ASSERT_TRUE(ProcessUntil([&] { return frames_ >= afterPush + 2; }));
  EXPECT_EQ(Shown(), 0);

  driver_.Restart();
  EXPECT_FALSE(connector_->ConnectorPaused());
  driver_.Push(Buffer(4096, 900));
  ASSERT_TRUE(ProcessUntil([this] { return Shown() == 9900; }));
}

TEST_F(ConnectorTest, StopClearsTheTraceAndEndsTheLoop) {
  StartChain(4096);
  driver_.Push(Buffer(4096, 16000));
  RunPasses();
  EXPECT_EQ(Shown(), 16000);
  EXPECT_EQ(TMMConnector::ActiveCount(), 1);
  driver_.Stop();
  EXPECT_EQ(Shown(), 0);
  EXPECT_EQ(SummariseRows(LitTrace(*scope_, kLime)).full, (std::vector<int>{10, 11}));
  EXPECT_EQ(TMMConnector::ActiveCount(), 0);
  // Nothing left to draw: the loop ends and queues nothing more.
  ASSERT_TRUE(ProcessUntil([] { return !TMMConnector::LoopRunning(); }));
  const int passes = passes_;
  QCoreApplication::processEvents();
  EXPECT_EQ(passes_, passes);

  // Without RefreshOnStop the last frame stays.
  connector_->SetRefreshOnStop(false);
  driver_.Close();
  StartChain(4096);
  driver_.Push(Buffer(4096, 16000));
  RunPasses();
  driver_.Stop();
  EXPECT_EQ(Shown(), 16000);

  // Disabling clears even then.
  driver_.Close();
  StartChain(4096);
  driver_.Push(Buffer(4096, 12000));
  RunPasses();
  EXPECT_EQ(Shown(), 12000);
  connector_->SetEnabled(false);
  EXPECT_EQ(Shown(), 0);
  EXPECT_FALSE(connector_->Running());
  driver_.Push(Buffer(4096, 5000));  // ignored while disabled
  connector_->SetEnabled(true);
  ASSERT_TRUE(ProcessUntil([this] { return connector_->Running(); }));
  RunPasses();
  EXPECT_EQ(Shown(), 0);
}

TEST_F(ConnectorTest, SettingsAndSlots) {
  connector_->SetSpeed(0);
  EXPECT_EQ(connector_->Speed(), 1);
  connector_->SetSpeed(9000);
  EXPECT_EQ(connector_->Speed(), 5000);

  connector_->SetOscope2(scope_.get());  // already in Oscope1
  EXPECT_EQ(connector_->Oscope2(), nullptr);
  {
    TMMOscope second;
    second.SetBitLength(TMMBits::b8Bit);
    connector_->SetOscope2(&second);
    EXPECT_EQ(connector_->Oscope2(), &second);
    EXPECT_EQ(second.BitLength(), TMMBits::b16Bit);  // took the chain's format
  }
  EXPECT_EQ(connector_->Oscope2(), nullptr);  // gone with the display

  driver_.SetBufferSize(4096);
  driver_.Open();
  try {
    connector_->SetRealTime(false);
    ADD_FAILURE() << "changed while open";
  } catch (const EMMConnectorError& e) {
    EXPECT_STREQ(e.what(), "Change to property while device was open");
  }
  EXPECT_TRUE(connector_->RealTime());

  // A chain format the scope cannot show reaches whoever set it.
  driver_.Close();
  const WAVEFORMATEX wide = MakePCMFormat(24, 2, 44100);
  EXPECT_THROW(driver_.SetFormat(&wide), EMMOscopeError);
}

TEST_F(ConnectorTest, TriggerOnDemandAndTriggerSearch) {
  connector_->SetAutoTrigger(false);
  connector_->SetSynchronize(false);
  StartChain(4096);
  EXPECT_EQ(TMMConnector::ActiveCount(), 0);
  driver_.Push(Buffer(4096));
  QCoreApplication::processEvents();
  EXPECT_EQ(Shown(), 0);  // nothing without a request
  connector_->Trigger();  // on the main thread: at once
  EXPECT_EQ(Shown(), 100);
  std::thread other([this] { connector_->Trigger(); });
  other.join();
  ASSERT_TRUE(ProcessUntil([this] { return Shown() == 200; }));

  // An up flank through 0 after 100 quiet frames: the frame starts there.
  connector_->SetTriggerMode(TMMTriggerMode::tmUpFlank);
  std::vector<char> data(4096);
  for (int i = 0; i < 1024; ++i) {
    const auto v = static_cast<std::int16_t>(i < 100 ? -1000 : 1000 + i);
    std::memcpy(&data[static_cast<std::size_t>(i) * 4], &v, 2);
    std::memcpy(&data[static_cast<std::size_t>(i) * 4 + 2], &v, 2);
  }
  driver_.Push(data);
  connector_->Trigger();
  EXPECT_EQ(Shown(), 1100);
  EXPECT_EQ(connector_->OscopeOffset(), 400 + 348);
}

// Requests from several threads at the same moment, while the user-interface thread handles
// nothing: only one of them is posted, so one refresh pass answers the whole burst, and the
// next burst is answered again.
TEST_F(ConnectorTest, ConcurrentTriggersPostOneRequest) {
  connector_->SetAutoTrigger(false);
  connector_->SetSynchronize(false);
  StartChain(4096);
  constexpr int kThreads = 4;
  int extraPasses = 0;
  for (int round = 0; round < 1000; ++round) {
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    threads.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&] {
        ++ready;
        while (!go) std::this_thread::yield();
        connector_->Trigger();
      });
    }
    while (ready < kThreads) std::this_thread::yield();
    const int before = passes_;
    go = true;
    for (std::thread& t : threads) t.join();
    ASSERT_TRUE(ProcessUntil([&] { return passes_ > before; })) << "round " << round;
    QCoreApplication::processEvents();
    extraPasses += passes_ - before - 1;
  }
  EXPECT_EQ(extraPasses, 0);
}

}  // namespace
}  // namespace sonarelle

namespace sonarelle {
namespace {

TEST_F(ConnectorTest, AcceleratedChartAdvancesByAQuarterOfItsLength) {
  scope_->SetScroll(true);
  scope_->SetFFTLength(128);
  connector_->SetSynchronize(false);
  StartChain(4096);
  EXPECT_EQ(scope_->RefreshBytes(), 512);
  driver_.Push(Buffer(4096));
  ASSERT_TRUE(ProcessUntil([this] { return !connector_->OscopePending(); }));
  // Frames at 0, 128, ... 3584; the one at 3712 would run past the end.
  EXPECT_EQ(connector_->OscopeOffset(), 3840);
}

TEST_F(ConnectorTest, TwoConnectorsDrawSideBySide) {
  TMMOscope otherScope;
  otherScope.SetBounds(0, 0, 89, 25);
  otherScope.show();
  test::ChainDriver otherDriver;
  TMMConnector other;
  const WAVEFORMATEX format = MakePCMFormat(16, 2, 44100);
  otherDriver.SetFormat(&format);
  otherDriver.SetOutput(&other);
  other.SetOscope1(&otherScope);
  StartChain(4096);
  otherDriver.SetBufferSize(4096);
  otherDriver.Open();
  otherDriver.Start();
  ASSERT_TRUE(ProcessUntil([&] { return other.Running(); }));
  EXPECT_EQ(TMMConnector::ActiveCount(), 2);

  driver_.Push(Buffer(4096, 300));
  otherDriver.Push(Buffer(4096, 400));
  RunPasses();
  EXPECT_EQ(Shown(), 300);
  EXPECT_EQ(otherScope.SampleRow()[0], 400);

  // One stops; the other goes on drawing in the same loop.
  driver_.Stop();
  EXPECT_EQ(TMMConnector::ActiveCount(), 1);
  otherDriver.Push(Buffer(4096, 500));
  ASSERT_TRUE(ProcessUntil([&] { return otherScope.SampleRow()[0] == 500; }));
  EXPECT_TRUE(TMMConnector::LoopRunning());
  otherDriver.Stop();
  otherDriver.Close();
  ASSERT_TRUE(ProcessUntil([] { return !TMMConnector::LoopRunning(); }));
}

}  // namespace
}  // namespace sonarelle
