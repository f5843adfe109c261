#include "audio/chain/MMDSPThread.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QThread>

namespace sonarelle {

namespace {

struct ThreadRegistry {
  std::mutex lock;
  std::vector<TMMDSPThread*> threads;
};

ThreadRegistry& Threads() {
  static ThreadRegistry registry;
  return registry;
}

// The object on the main thread that workers' RunSynchronized calls are queued to. Its own
// object rather than the application, so that a waiting main thread serves exactly those.
std::mutex syncTargetLock;
QPointer<QObject> syncTarget;

QObject* SyncTarget() {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return nullptr;
  std::lock_guard guard(syncTargetLock);
  if (syncTarget.isNull() && IsMainThread()) {
    syncTarget = new QObject(app);  // owned by the application object
  }
  if (syncTarget.isNull()) return app;
  return syncTarget.data();
}

TMMDSPThread* FindThread(std::thread::id id) {
  auto& registry = Threads();
  std::lock_guard guard(registry.lock);
  for (TMMDSPThread* thread : registry.threads) {
    if (thread->ThreadID() == id) return thread;
  }
  return nullptr;
}

}  // namespace

int ThreadPriorityLevel(TThreadPriority priority) {
  switch (priority) {
    case TThreadPriority::tpIdle:
      return -15;
    case TThreadPriority::tpLowest:
      return -2;
    case TThreadPriority::tpLower:
      return -1;
    case TThreadPriority::tpNormal:
      return 0;
    case TThreadPriority::tpHigher:
      return 1;
    case TThreadPriority::tpHighest:
      return 2;
    case TThreadPriority::tpTimeCritical:
      return 15;
  }
  return 0;
}

int ThreadNiceValue(TThreadPriority priority) {
  switch (priority) {
    case TThreadPriority::tpIdle:
      return 19;
    case TThreadPriority::tpLowest:
      return 10;
    case TThreadPriority::tpLower:
      return 5;
    case TThreadPriority::tpNormal:
      return 0;
    case TThreadPriority::tpHigher:
      return -5;
    case TThreadPriority::tpHighest:
      return -10;
    case TThreadPriority::tpTimeCritical:
      return -20;
  }
  return 0;
}

bool IsMainThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app == nullptr || QThread::currentThread() == app->thread();
}

TMMThreadEx::~TMMThreadEx() {
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();  // destroyed by its own body: nothing to wait for
    return;
  }
  EndThread();
}

void TMMThreadEx::Resume() {
  std::lock_guard guard(lock_);
  if (suspendCount_ > 0) --suspendCount_;
  if (suspendCount_ > 0) return;
  if (!started_) {
    thread_ = std::thread(&TMMThreadEx::Run, this);
    started_ = true;
  }
  changed_.notify_all();
}

void TMMThreadEx::Suspend() {
  std::lock_guard guard(lock_);
  ++suspendCount_;
}

bool TMMThreadEx::Suspended() const {
  std::lock_guard guard(lock_);
  return suspendCount_ > 0;
}

void TMMThreadEx::Terminate() {
  std::lock_guard guard(lock_);
  terminated_ = true;
  changed_.notify_all();
}

void TMMThreadEx::CheckSuspended() {
  std::unique_lock lock(lock_);
  changed_.wait(lock, [this] { return suspendCount_ == 0 || terminated_.load(); });
}

void TMMThreadEx::EndThread() {
  {
    std::lock_guard guard(lock_);
    terminated_ = true;
    if (!started_) return;
    suspendCount_ = 0;
    changed_.notify_all();
  }
  WaitFor(-1);
}

bool TMMThreadEx::WaitFor(int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  const bool serve = IsMainThread();
  {
    std::unique_lock lock(lock_);
    if (!started_) return true;
    if (id_ == std::this_thread::get_id()) return false;  // a thread cannot outwait itself
    while (!finished_) {
      if (timeoutMs >= 0 && Clock::now() >= deadline) return false;
      changed_.wait_for(lock, std::chrono::milliseconds(serve ? 2 : 50));
      if (serve && !finished_) {
        lock.unlock();
        CheckSynchronize();
        lock.lock();
      }
    }
  }
  std::lock_guard guard(lock_);
  if (thread_.joinable()) thread_.join();  // the body has returned: this is quick
  return true;
}

bool TMMThreadEx::Finished() const {
  std::lock_guard guard(lock_);
  return finished_;
}

std::thread::id TMMThreadEx::ThreadID() const {
  std::lock_guard guard(lock_);
  return id_;
}

TThreadPriority TMMThreadEx::Priority() const {
  std::lock_guard guard(lock_);
  return priority_;
}

void TMMThreadEx::SetPriority(TThreadPriority value) {
  std::lock_guard guard(lock_);
  priority_ = value;
  if (started_ && !finished_ && tid_ != 0) ApplyPriority(tid_, value);
}

std::exception_ptr TMMThreadEx::FatalException() const {
  std::lock_guard guard(lock_);
  return fatal_;
}

void TMMThreadEx::ApplyPriority(pid_t tid, TThreadPriority priority) {
  // Fails without privilege for negative values; the thread then keeps its level.
  (void)setpriority(PRIO_PROCESS, static_cast<id_t>(tid), ThreadNiceValue(priority));
}

void TMMThreadEx::Run() {
  {
    std::lock_guard guard(lock_);
    id_ = std::this_thread::get_id();
    tid_ = gettid();
    if (priority_ != TThreadPriority::tpNormal) ApplyPriority(tid_, priority_);
  }
  try {
    Execute();
  } catch (...) {
    std::lock_guard guard(lock_);
    fatal_ = std::current_exception();
  }
  std::lock_guard guard(lock_);
  finished_ = true;
  changed_.notify_all();
}

TMMDSPThread::TMMDSPThread(TMMCustomSoundComponent* driver) : driver_(driver) {
  SyncTarget();  // made here, on the creating (main) thread, while it can be
  auto& registry = Threads();
  std::lock_guard guard(registry.lock);
  registry.threads.push_back(this);
}

TMMDSPThread::~TMMDSPThread() {
  auto& registry = Threads();
  std::lock_guard guard(registry.lock);
  auto& list = registry.threads;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TMMDSPThread::Synchronize(const std::function<void()>& callback) {
  QObject* target = SyncTarget();
  if (target == nullptr || IsMainThread()) {
    callback();
    return;
  }
  std::exception_ptr error;
  const bool delivered = QMetaObject::invokeMethod(
      target,
      [&] {
        try {
          callback();
        } catch (...) {
          error = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  if (!delivered) {
    callback();
    return;
  }
  if (error) std::rethrow_exception(error);
}

void RunSynchronized(const std::function<void()>& callback) {
  if (TMMDSPThread* thread = FindThread(std::this_thread::get_id()); thread != nullptr) {
    thread->Synchronize(callback);
    return;
  }
  callback();
}

void CheckSynchronize() {
  if (QCoreApplication::instance() == nullptr || !IsMainThread()) return;
  QObject* target = SyncTarget();
  if (target != nullptr) QCoreApplication::sendPostedEvents(target, QEvent::MetaCall);
}

}  // namespace sonarelle
