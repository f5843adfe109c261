#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "audio/chain/ChainComponents.h"
#include "audio/pump/MMTrigger.h"
#include "support/ModalBoxWatcher.h"

using namespace sonarelle;
using sonarelle::test::ByteSource;

namespace {

template <class Pred>
bool SpinUntil(Pred done, int timeoutMs = 10000) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < timeoutMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return done();
}

int ThreadCount() {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    (void)entry;
    ++count;
  }
  return count;
}

// Back to `baseline` threads, allowing the kernel a moment to reap a joined one.
bool ThreadsBackTo(int baseline) {
  return SpinUntil([&] { return ThreadCount() <= baseline; }, 2000);
}

// The tail of the chain: keeps every byte pushed into it and the size of each push.
class Sink : public TMMDSPComponent {
 public:
  void BufferReady(PWaveHdr lpWaveHdr) override {
    if (++attempts_ == failOnPush) throw std::runtime_error("encoder failed");
    {
      std::lock_guard guard(lock_);
      sizes_.push_back(lpWaveHdr->dwBytesRecorded);
      bytes_.insert(bytes_.end(), lpWaveHdr->lpData,
                    lpWaveHdr->lpData + lpWaveHdr->dwBytesRecorded);
      onMain_ = onMain_ || QThread::currentThread() == QCoreApplication::instance()->thread();
    }
    if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    TMMDSPComponent::BufferReady(lpWaveHdr);
  }

  std::vector<std::uint32_t> Sizes() const {
    std::lock_guard guard(lock_);
    return sizes_;
  }
  std::size_t Pushes() const {
    std::lock_guard guard(lock_);
    return sizes_.size();
  }
  bool PushedOnMain() const {
    std::lock_guard guard(lock_);
    return onMain_;
  }
  bool BytesMatchSource() const {
    std::lock_guard guard(lock_);
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
      if (static_cast<unsigned char>(bytes_[i]) != i % 251) return false;
    }
    return true;
  }
  std::size_t ByteCount() const {
    std::lock_guard guard(lock_);
    return bytes_.size();
  }

  std::atomic<int> delayMs{0};
  std::atomic<int> failOnPush{0};  // this push attempt raises instead of taking the data

 private:
  std::atomic<int> attempts_{0};
  mutable std::mutex lock_;
  std::vector<std::uint32_t> sizes_;
  std::vector<char> bytes_;
  bool onMain_ = false;
};

// A source that promises more but then has nothing: the pump's "filling" error.
class BrokenSource : public ByteSource {
 public:
  BrokenSource() : ByteSource(1 << 20) {}
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override {
    if (pulls >= 2) {
      ++pulls;
      lpWaveHdr->dwBytesRecorded = 0;
      MoreBuffers = true;
      return;
    }
    ByteSource::BufferLoad(lpWaveHdr, MoreBuffers);
  }
};

// reader -> trigger -> sink, with the callbacks counted and their threads noted.
struct Conversion {
  explicit Conversion(ByteSource* source) : source(source) {
    trigger.SetInput(source);
    trigger.SetOutput(&sink);
    const WAVEFORMATEX format = MakePCMFormat(16, 2, 44100);
    source->SetFormat(&format);
    trigger.OnStart = [this](TMMComponent* sender) {
      EXPECT_EQ(sender, &trigger);
      ++starts;
    };
    trigger.OnStop = [this](TMMComponent*) {
      ++stops;
      stopOnMain = QThread::currentThread() == QCoreApplication::instance()->thread();
      if (closeInOnStop) trigger.ClosePump();
    };
    trigger.OnClose = [this](TMMComponent*) { ++closes; };
    trigger.OnError = [this](TMMComponent*) { ++errors; };
  }

  ByteSource* source;
  Sink sink;
  std::atomic<int> starts{0};
  std::atomic<int> stops{0};
  std::atomic<int> closes{0};
  std::atomic<int> errors{0};
  std::atomic<bool> stopOnMain{false};
  bool closeInOnStop = false;
  TMMTrigger trigger;  // destroyed first, before the components it drives and the counters
};

TEST(MMTriggerTest, PumpsTheWholeInputAndStopsOnceOnTheMainThread) {
  const int baseline = ThreadCount();
  for (std::size_t total : {std::size_t{5000}, std::size_t{2048}, std::size_t{1}}) {
    SCOPED_TRACE(total);
    ByteSource source(total);
    Conversion t(&source);
    t.closeInOnStop = true;  // as the main window does: close from OnStop
    std::atomic<int> filled{0};
    t.trigger.OnBufferFilled = [&](TMMDSPComponent*, PWaveHdr hdr) {
      EXPECT_GT(hdr->dwBytesRecorded, 0u);
      ++filled;
    };
    t.trigger.StartPump();
    EXPECT_EQ(t.starts, 1);
    ASSERT_TRUE(SpinUntil([&] { return t.closes.load() == 1; }));
    // Give a stray second stop a chance to show itself.
    SpinUntil([] { return false; }, 50);
    EXPECT_EQ(t.stops, 1);
    EXPECT_TRUE(t.stopOnMain);
    EXPECT_EQ(t.trigger.State(), TMMTrigger::tsClosed);
    EXPECT_EQ(t.errors, 0);
    EXPECT_FALSE(t.sink.PushedOnMain());
    EXPECT_EQ(t.sink.ByteCount(), total);
    EXPECT_TRUE(t.sink.BytesMatchSource());
    EXPECT_EQ(filled, static_cast<int>((total + 2047) / 2048));
    EXPECT_FALSE(source.Opened());
    EXPECT_FALSE(t.sink.Opened());
    if (total == 5000) {
      EXPECT_EQ((std::vector<std::uint32_t>{2048, 2048, 904}), t.sink.Sizes());
    } else if (total == 2048) {
      EXPECT_EQ((std::vector<std::uint32_t>{2048}), t.sink.Sizes());
    }
  }
  EXPECT_TRUE(ThreadsBackTo(baseline));
}

TEST(MMTriggerTest, AnEmptyInputFailsAtStartAndEndsClosed) {
  const int baseline = ThreadCount();
  ByteSource source(0);
  Conversion t(&source);
  try {
    t.trigger.StartPump();
    FAIL() << "no error";
  } catch (const EMMTriggerError& error) {
    EXPECT_EQ(error.Message(), "TriggerStart:\n\rUnable to start device");
  }
  EXPECT_GE(t.errors, 1);
  EXPECT_EQ(t.starts, 0);
  EXPECT_EQ(t.stops, 0);
  EXPECT_EQ(t.trigger.State(), TMMTrigger::tsClosed);
  EXPECT_FALSE(source.Opened());
  EXPECT_EQ(t.sink.Pushes(), 0u);
  EXPECT_TRUE(ThreadsBackTo(baseline));
}

TEST(MMTriggerTest, OpeningWithoutAFormatFails) {
  TMMTrigger trigger;
  int errors = 0;
  trigger.OnError = [&](TMMComponent*) { ++errors; };
  try {
    trigger.OpenPump();
    FAIL() << "no error";
  } catch (const EMMTriggerError& error) {
    EXPECT_EQ(error.Message(), "TriggerOpen:\n\rInvalid wave format");
  }
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(trigger.State(), TMMTrigger::tsClosed);
}

TEST(MMTriggerTest, SettingsClampAndRefuseChangesWhileOpen) {
  ByteSource source(1 << 20);
  Conversion t(&source);
  t.trigger.SetInterval(-5);
  EXPECT_EQ(t.trigger.Interval(), 0);
  t.trigger.SetBufferSize(10);
  EXPECT_EQ(t.trigger.BufferSize(), 32);
  t.trigger.SetBufferSize(2048);

  t.sink.delayMs = 1;
  t.trigger.StartPump();
  try {
    t.trigger.SetBufferSize(4096);
    FAIL() << "no error";
  } catch (const EMMTriggerError& error) {
    EXPECT_EQ(error.Message(), "Change to property while device was open");
  }
  EXPECT_EQ(t.trigger.BufferSize(), 2048);
  const std::size_t before = t.sink.Pushes();
  ASSERT_TRUE(SpinUntil([&] { return t.sink.Pushes() > before + 3; }));  // it goes on
  t.trigger.ClosePump();
}

TEST(MMTriggerTest, StopPauseAndRestartFromTheMainThreadWhileRunning) {
  const int baseline = ThreadCount();
  ByteSource source(std::size_t{1} << 30);  // far more than the test lets it pump
  Conversion t(&source);
  t.sink.delayMs = 1;
  t.trigger.StartPump();
  ASSERT_TRUE(SpinUntil([&] { return t.sink.Pushes() >= 3; }));

  t.trigger.PausePump();
  EXPECT_NE(t.trigger.State() & TMMTrigger::tsPaused, 0u);
  SpinUntil([] { return false; }, 30);
  const std::size_t paused = t.sink.Pushes();
  SpinUntil([] { return false; }, 50);
  EXPECT_LE(t.sink.Pushes(), paused + 1);  // at most the cycle it was in
  t.trigger.RestartPump();
  ASSERT_TRUE(SpinUntil([&] { return t.sink.Pushes() > paused + 3; }));

  t.trigger.StopPump();
  ASSERT_TRUE(SpinUntil([&] { return t.stops.load() == 1; }));
  EXPECT_EQ(t.trigger.State(), TMMTrigger::tsOpen);
  EXPECT_FALSE(source.Started());
  const std::size_t stopped = t.sink.Pushes();
  SpinUntil([] { return false; }, 50);
  EXPECT_EQ(t.sink.Pushes(), stopped);
  EXPECT_EQ(t.stops, 1);

  // Started again, it goes on from the reader's start position.
  t.trigger.StartPump();
  ASSERT_TRUE(SpinUntil([&] { return t.sink.Pushes() > stopped + 3; }));
  // With a cycle running the close waits for it and completes with the deferred stop.
  t.trigger.ClosePump();
  ASSERT_TRUE(SpinUntil([&] { return t.closes.load() == 1; }));
  EXPECT_EQ(t.stops, 2);
  EXPECT_EQ(t.closes, 1);
  EXPECT_EQ(t.trigger.State(), TMMTrigger::tsClosed);
  EXPECT_TRUE(ThreadsBackTo(baseline));
}

TEST(MMTriggerTest, DestroyingARunningTriggerLeavesNoThread) {
  const int baseline = ThreadCount();
  {
    ByteSource source(std::size_t{1} << 30);
    Conversion t(&source);
    t.sink.delayMs = 2;
    t.trigger.StartPump();
    ASSERT_TRUE(SpinUntil([&] { return t.sink.Pushes() >= 2; }));
  }
  EXPECT_TRUE(ThreadsBackTo(baseline));
}

TEST(MMTriggerTest, APositiveIntervalStillPausesBetweenCycles) {
  ByteSource source(std::size_t{5} * 2048);
  Conversion t(&source);
  t.trigger.SetInterval(25);
  QElapsedTimer clock;
  clock.start();
  t.trigger.StartPump();
  ASSERT_TRUE(SpinUntil([&] { return t.stops.load() == 1; }));
  // The last two pushes follow each other at once (the last data goes straight on), so
  // three pauses at the least; only a lower bound, never an upper one.
  EXPECT_GE(clock.elapsed(), 3 * 25);
  EXPECT_EQ(t.sink.Pushes(), 5u);
  t.trigger.ClosePump();
}

TEST(MMTriggerTest, AHandledCycleErrorLetsThePumpGoOn) {
  ByteSource source(std::size_t{10} * 2048);
  Conversion t(&source);
  t.sink.failOnPush = 3;
  std::atomic<int> handledErrors{0};
  t.trigger.OnErrorEx = [&](TMMComponent*, bool& handled) {
    ++handledErrors;
    handled = true;
  };
  t.trigger.StartPump();
  ASSERT_TRUE(SpinUntil([&] { return t.stops.load() == 1; }));
  EXPECT_EQ(handledErrors, 1);
  EXPECT_EQ(t.errors, 1);
  // The failed push is made again by the next cycle: nothing is lost or doubled.
  EXPECT_EQ(t.sink.ByteCount(), 10u * 2048);
  EXPECT_TRUE(t.sink.BytesMatchSource());
  t.trigger.ClosePump();
}

TEST(MMTriggerTest, AnUnhandledCycleErrorIsShownAndClosesOnTheMainThread) {
  const int baseline = ThreadCount();
  ModalBoxWatcher boxes;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    BrokenSource broken;
    ByteSource endless(std::size_t{1} << 30);
    Conversion t(round == 0 ? static_cast<ByteSource*>(&broken) : &endless);
    if (round == 1) t.sink.failOnPush = 2;
    std::atomic<bool> closeOnMain{false};
    t.trigger.OnClose = [&](TMMComponent*) {
      closeOnMain = QThread::currentThread() == QCoreApplication::instance()->thread();
      ++t.closes;
    };
    t.trigger.StartPump();
    ASSERT_TRUE(SpinUntil([&] { return t.closes.load() == 1; }));
    EXPECT_TRUE(closeOnMain);
    EXPECT_EQ(t.trigger.State(), TMMTrigger::tsClosed);
    EXPECT_LE(t.stops, 1);
    ASSERT_TRUE(
        SpinUntil([&] { return boxes.Boxes().size() == static_cast<qsizetype>(round + 1); }));
    EXPECT_EQ(boxes.Boxes().back().text,
              round == 0 ? "Error filling wave buffer" : "encoder failed");
  }
  EXPECT_TRUE(ThreadsBackTo(baseline));
}

}  // namespace
