#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <stdexcept>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include "audio/chain/DiskSpace.h"
#include "audio/chain/MMDSPThread.h"
#include "audio/chain/UIWait.h"

using namespace sonarelle;

namespace {

// A DSP thread whose body is a function, ended before its members go.
class FunctionThread : public TMMDSPThread {
 public:
  explicit FunctionThread(std::function<void(FunctionThread&)> body)
      : TMMDSPThread(nullptr), body_(std::move(body)) {}
  ~FunctionThread() override { EndThread(); }
  using TMMThreadEx::CheckSuspended;

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(FunctionThread&)> body_;
};

TEST(ChainServicesTest, RunSynchronizedFromAWorkerRunsOnTheMainThreadAndWaits) {
  QThread* mainThread = QThread::currentThread();
  std::atomic<bool> ranOnMain{false};
  std::atomic<bool> sawResult{false};
  std::atomic<bool> errorCameBack{false};
  FunctionThread worker([&](FunctionThread&) {
    int result = 0;
    RunSynchronized([&] {
      ranOnMain = QThread::currentThread() == mainThread;
      QThread::msleep(20);  // the worker must still be waiting after this
      result = 42;
    });
    sawResult = result == 42;
    try {
      RunSynchronized([] { throw std::runtime_error("from main"); });
    } catch (const std::runtime_error& error) {
      errorCameBack = std::string(error.what()) == "from main";
    }
  });
  worker.Resume();
  // The main thread only waits for the worker here; the wait serves its hand-overs.
  ASSERT_TRUE(worker.WaitFor(5000));
  EXPECT_TRUE(ranOnMain);
  EXPECT_TRUE(sawResult);
  EXPECT_TRUE(errorCameBack);
}

TEST(ChainServicesTest, RunSynchronizedElsewhereRunsAtOnce) {
  std::thread::id ranOn;
  RunSynchronized([&] { ranOn = std::this_thread::get_id(); });
  EXPECT_EQ(ranOn, std::this_thread::get_id());

  // An unregistered thread does not wait for the main thread, which is not serving events.
  std::thread::id caller;
  std::thread plain([&] {
    caller = std::this_thread::get_id();
    RunSynchronized([&] { ranOn = std::this_thread::get_id(); });
  });
  plain.join();
  EXPECT_EQ(ranOn, caller);
}

TEST(ChainServicesTest, ThreadStartsSuspendedAndParksWhileSuspended) {
  std::atomic<int> cycles{0};
  std::atomic<int> nice{-100};
  FunctionThread worker([&](FunctionThread& self) {
    nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    while (!self.Terminated()) {
      self.CheckSuspended();
      ++cycles;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  worker.SetPriority(TThreadPriority::tpLower);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(cycles.load(), 0);
  EXPECT_EQ(worker.ThreadID(), std::thread::id());

  worker.Resume();
  QElapsedTimer clock;
  clock.start();
  while (cycles.load() < 5 && clock.elapsed() < 5000) std::this_thread::yield();
  EXPECT_GE(cycles.load(), 5);
  EXPECT_NE(worker.ThreadID(), std::thread::id());
  EXPECT_EQ(nice.load(), ThreadNiceValue(TThreadPriority::tpLower));

  worker.Suspend();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const int parkedAt = cycles.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_LE(cycles.load(), parkedAt + 1);  // at most the cycle it was in
  worker.Resume();
  clock.restart();
  while (cycles.load() < parkedAt + 5 && clock.elapsed() < 5000) std::this_thread::yield();
  EXPECT_GE(cycles.load(), parkedAt + 5);

  worker.Terminate();
  EXPECT_TRUE(worker.WaitFor(5000));
  EXPECT_TRUE(worker.Finished());
}

TEST(ChainServicesTest, EnoughDiskSpaceAsksTheRealFileSystem) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::uint64_t free = QueryFreeSpace(dir.path());
  ASSERT_GT(free, 0u);
  const QString file = dir.filePath("take.wav");  // need not exist, only its folder
  EXPECT_TRUE(EnoughDiskSpace(file, 1));
  EXPECT_TRUE(EnoughDiskSpace(file, 10240));
  EXPECT_FALSE(EnoughDiskSpace(file, std::numeric_limits<std::int64_t>::max()));
  // A folder that does not exist cannot be asked: that counts as no space.
  EXPECT_EQ(QueryFreeSpace(dir.filePath("missing/deeper")), 0u);
  EXPECT_FALSE(EnoughDiskSpace(dir.filePath("missing/deeper/take.wav"), 1));
}

std::uint64_t ThousandBytesFree(const QString&) {
  return 1000;
}

TEST(ChainServicesTest, EnoughDiskSpaceComparesAgainstTheQueriedSpace) {
  const FreeSpaceQuery previous = SetFreeSpaceQuery(&ThousandBytesFree);
  EXPECT_TRUE(EnoughDiskSpace("/tmp/x.wav", 1000));
  EXPECT_FALSE(EnoughDiskSpace("/tmp/x.wav", 1001));
  SetFreeSpaceQuery(previous);
  EXPECT_TRUE(EnoughDiskSpace("/tmp/x.wav", 1001));
}

TEST(ChainServicesTest, TheWaitDispatchesEventsOnlyWhenAsked) {
  bool ran = false;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [&] { ran = true; }, Qt::QueuedConnection);
  WaitKeepingUIAlive(20, false);
  EXPECT_FALSE(ran);
  QElapsedTimer clock;
  clock.start();
  WaitKeepingUIAlive(50, true);
  EXPECT_TRUE(ran);
  EXPECT_GE(clock.elapsed(), 45);  // the event does not end the wait early
}

}  // namespace
