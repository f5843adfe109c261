#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include <sys/types.h>

namespace sonarelle {

class TMMCustomSoundComponent;

enum class TThreadPriority {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

// The system's priority level of each setting: idle -15, lowest -2, lower -1, normal 0,
// higher 1, highest 2, time critical 15.
int ThreadPriorityLevel(TThreadPriority priority);

// The nice value a thread of that priority gets on Linux: 19, 10, 5, 0, -5, -10, -20. An
// ordinary user may only raise a thread's nice value, so higher settings (and going back
// down after a lower one) quietly keep what the thread has; priority is only a hint here.
int ThreadNiceValue(TThreadPriority priority);

// A worker thread with a priority setting. It is created suspended: the body (Execute)
// starts with the first Resume. Suspending is cooperative: the body parks at its next
// CheckSuspended call, never in the middle of its work.
class TMMThreadEx {
 public:
  TMMThreadEx() = default;
  // Ends the thread if a subclass has not: marks it terminated, lifts any suspension and
  // joins. A subclass whose Execute uses its own members ends it in its own destructor.
  virtual ~TMMThreadEx();
  TMMThreadEx(const TMMThreadEx&) = delete;
  TMMThreadEx& operator=(const TMMThreadEx&) = delete;

  // Lifts one Suspend; the first Resume starts the thread. Raises std::system_error when
  // the thread cannot be created.
  void Resume();
  void Suspend();
  bool Suspended() const;

  // Asks the body to end; it checks Terminated() in its loop.
  void Terminate();
  bool Terminated() const { return terminated_.load(); }

  // Waits up to `timeoutMs` (-1: without limit) for the body to return, then joins. On the
  // main thread, callbacks that workers hand over with RunSynchronized are run meanwhile, so
  // a worker waiting for the main thread cannot deadlock the wait. False on time out.
  bool WaitFor(int timeoutMs = -1);
  bool Finished() const;

  // The running thread's identifier; a default id before it started.
  std::thread::id ThreadID() const;

  TThreadPriority Priority() const;
  void SetPriority(TThreadPriority value);

  // What escaped Execute, if anything.
  std::exception_ptr FatalException() const;

 protected:
  // The body, on the worker thread.
  virtual void Execute() = 0;
  // Parks the calling worker while the thread is suspended (or until it is terminated).
  void CheckSuspended();
  // Terminate, lift suspension, WaitFor without limit.
  void EndThread();

 private:
  void Run();
  static void ApplyPriority(pid_t tid, TThreadPriority priority);

  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::thread thread_;
  std::atomic<bool> terminated_{false};
  bool started_ = false;
  bool finished_ = false;
  int suspendCount_ = 1;
  std::thread::id id_;
  pid_t tid_ = 0;
  TThreadPriority priority_ = TThreadPriority::tpNormal;
  std::exception_ptr fatal_;
};

// The worker thread of a chain driver. Registered while it exists, so that RunSynchronized
// recognises calls made on it.
class TMMDSPThread : public TMMThreadEx {
 public:
  explicit TMMDSPThread(TMMCustomSoundComponent* driver);
  ~TMMDSPThread() override;

  TMMCustomSoundComponent* Driver() const { return driver_; }

  // Runs `callback` on the main thread and waits until it has run; an error it raises is
  // raised again here. Called on this thread.
  void Synchronize(const std::function<void()>& callback);

 private:
  TMMCustomSoundComponent* driver_;  // not owned
};

// Runs `callback` on the main thread when called on a registered TMMDSPThread, waiting
// until it has run (its error is raised again in the caller); in every other case at once
// on the calling thread.
void RunSynchronized(const std::function<void()>& callback);

// Runs the callbacks that workers are waiting to have run on the main thread. For waits on
// the main thread that must not block a worker's RunSynchronized; a no-op elsewhere.
void CheckSynchronize();

// True when called on the application's main thread (or when there is no application).
bool IsMainThread();

}  // namespace sonarelle
