#include "audio/pump/MMTrigger.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

#include <QCoreApplication>

#include "audio/chain/MMDSPThread.h"
#include "audio/pump/AutoResetEvents.h"
#include "platform/MessageBoxes.h"
#include "platform/MessageWindow.h"

namespace sonarelle {

namespace {

constexpr int kStartedEvent = 0;
constexpr int kDataEvent = 1;
constexpr int kStopEvent = 2;
constexpr int kWorkerWaitMs = 5000;

const char* const kChangeWhileOpen = "Change to property while device was open";

}  // namespace

// The pump's worker: waits for the data event, runs a cycle, and schedules the next one.
class TMMTriggerThread : public TMMDSPThread {
 public:
  TMMTriggerThread(TMMTrigger* trigger, AutoResetEvents* events)
      : TMMDSPThread(trigger), trigger_(trigger), events_(events) {}
  ~TMMTriggerThread() override { EndThread(); }

 protected:
  void Execute() override {
    SetPriority(TThreadPriority::tpNormal);
    events_->Set(kStartedEvent);
    try {
      while (!Terminated()) {
        if (events_->WaitAny({kStopEvent, kDataEvent}) == kStopEvent) break;
        CheckSuspended();  // a paused pump parks here
        if (Terminated()) break;
        if (trigger_->stopping_) continue;
        trigger_->Cycle();
        if (trigger_->stopping_) continue;
        // A conversion runs as fast as the reader and the encoder allow: without an
        // Interval the next cycle follows at once (a 1 ms sleep per 2048 bytes would cap
        // CD-quality audio near 11 times real time). The pause ends early on a stop.
        if (const int interval = trigger_->Interval(); interval > 0) {
          if (events_->Wait(kStopEvent, std::chrono::milliseconds(interval))) break;
        } else {
          std::this_thread::yield();
        }
        events_->Set(kDataEvent);
      }
    } catch (const std::exception& error) {
      Fail(QString::fromUtf8(error.what()));
      return;
    } catch (...) {
      Fail(QStringLiteral("Unknown error"));
      return;
    }
    events_->Set(kStartedEvent);
  }

 private:
  // The error ends the worker. Its report and the close of the trigger go to the main
  // thread, where the owner's callbacks may touch windows.
  void Fail(const QString& text) {
    {
      const std::lock_guard guard(trigger_->errorLock_);
      trigger_->errorText_ = text;
    }
    trigger_->threadError_ = true;
    MessageWindow* window = trigger_->window_.get();
    QMetaObject::invokeMethod(
        window, [text] { ShowErrorBox(text); }, Qt::QueuedConnection);
    window->PostMessage(TMMTrigger::kCloseAfterErrorMessage);
  }

  TMMTrigger* trigger_;
  AutoResetEvents* events_;
};

TMMTrigger::TMMTrigger() = default;

TMMTrigger::~TMMTrigger() {
  CloseNow();
  ReapWorker();
  window_.reset();
}

void TMMTrigger::CloseNow() {
  ClosePump();
  // A close left pending behind a running cycle completes with the deferred stop; that
  // message is not waited for here, the stop is made as soon as the cycle has ended.
  while ((state_ & tsClosed) == 0) {
    if (inCallback_ > 0) {
      CheckSynchronize();  // the cycle may be waiting for the main thread
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    try {
      StopPump();
    } catch (...) {
    }
    if ((state_ & tsClosed) == 0) ClosePump();
  }
}

void TMMTrigger::Notification(TMMComponent* component, TOperation operation) {
  // The worker must not be left pushing into or pulling from a partner that goes away.
  if (operation == TOperation::opRemove && component != nullptr &&
      (component == Input() || component == Output())) {
    CloseNow();
  }
  TMMCustomSoundComponent::Notification(component, operation);
}

void TMMTrigger::Fire(const TNotifyEvent& callback, TMMComponent* sender) {
  if (callback) callback(sender);
}

void TMMTrigger::Error(const QString& message) {
  Fire(OnError, this);
  throw EMMTriggerError(message);
}

void TMMTrigger::SetBufferSize(std::int32_t value) {
  if (value == BufferSize()) return;
  if ((state_ & tsOpen) != 0) Error(kChangeWhileOpen);
  allocator_.FreeAll();
  buffer_ = nullptr;  // went back to the heap with the pool
  TMMCustomSoundComponent::SetBufferSize(std::max(value, kMinBufferSize));
}

void TMMTrigger::SetFormat(const WAVEFORMATEX* format) {
  ClosePump();
  TMMCustomSoundComponent::SetFormat(format);
}

void TMMTrigger::BufferReady(PWaveHdr lpWaveHdr) {
  (void)lpWaveHdr;
}

void TMMTrigger::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  const auto capacity = static_cast<std::uint32_t>(std::max(BufferSize(), 0));
  lpWaveHdr->dwBufferLength = capacity;
  lpWaveHdr->dwBytesRecorded = 0;
  lpWaveHdr->LoopFlag = 0;
  TMMCustomSoundComponent::BufferLoad(lpWaveHdr, MoreBuffers);
  // The push must not read past the buffer whatever the Input claims.
  lpWaveHdr->dwBytesRecorded = std::min(lpWaveHdr->dwBytesRecorded, capacity);
  lpWaveHdr->dwBufferLength = lpWaveHdr->dwBytesRecorded;
}

std::int64_t TMMTrigger::Pull() {
  moreBuffers_ = false;
  bool more = false;
  BufferLoad(buffer_, more);
  const std::int64_t bytes = buffer_->dwBytesRecorded;
  moreBuffers_ = more && bytes > 0;
  return bytes;
}

void TMMTrigger::Push() {
  TMMCustomSoundComponent::BufferReady(buffer_);
}

void TMMTrigger::Cycle() {
  {
    // Checked under the lock so that StopPump never sees no cycle while one is starting.
    std::lock_guard guard(lock_);
    if ((state_ & tsStarted) == 0 || stopping_) return;
    ++inCallback_;
  }
  auto leave = [this] {
    std::lock_guard guard(lock_);
    if (--inCallback_ == 0 && (stopPending_ || !moreBuffers_)) {
      stopping_ = true;
      window_->PostMessage(kDeferredStopMessage);
    }
  };
  try {
    Push();
    if (moreBuffers_ && !stopPending_) {
      if (Pull() <= 0) Error("Error filling wave buffer");
      if (!stopPending_ && OnBufferFilled) OnBufferFilled(this, buffer_);
      if (!moreBuffers_) Push();  // the last data goes at once
    }
  } catch (...) {
    bool handled = false;
    try {
      Fire(OnError, this);
      if (OnErrorEx) OnErrorEx(this, handled);
    } catch (...) {
      leave();
      throw;
    }
    leave();
    if (!handled) throw;
    return;
  }
  leave();
}

void TMMTrigger::HandleMessage(unsigned msg) {
  if (msg == kDeferredStopMessage) {
    try {
      StopPump();
    } catch (...) {
      ClosePump();
      throw;  // shown in the standard error box by the window
    }
  } else if (msg == kCloseAfterErrorMessage) {
    ClosePump();
  }
}

QString TMMTrigger::ErrorText() const {
  const std::lock_guard guard(errorLock_);
  return errorText_;
}

void TMMTrigger::StartWorker() {
  threadError_ = false;
  {
    const std::lock_guard guard(errorLock_);
    errorText_.clear();
  }
  ReapWorker();
  events_ = std::make_unique<AutoResetEvents>(3);
  thread_ = std::make_unique<TMMTriggerThread>(this, events_.get());
  bool running = true;
  try {
    thread_->Resume();
  } catch (const std::system_error&) {
    running = false;
  }
  if (running) {
    running = events_->Wait(kStartedEvent, std::chrono::milliseconds(kWorkerWaitMs));
  }
  if (!running) Error("Trigger:\n\rCould not create thread");
}

void TMMTrigger::EndWorker() {
  if (!thread_) return;
  if (thread_->ThreadID() == std::this_thread::get_id()) return;  // cannot outwait itself
  if (!threadError_) {
    while (thread_->Suspended()) thread_->Resume();
    thread_->Terminate();
    events_->Set(kStopEvent);
    // Freeing what the worker still uses would crash it, so after the usual five seconds
    // it is still waited for.
    if (!thread_->WaitFor(kWorkerWaitMs)) thread_->WaitFor(-1);
  }
  ReapWorker();
}

void TMMTrigger::ReapWorker() {
  if (!thread_) return;
  if (thread_->ThreadID() == std::this_thread::get_id()) return;
  thread_.reset();  // joins; a worker that failed has ended or is about to
  events_.reset();
}

void TMMTrigger::OpenPump() {
  if (GetFormat() == nullptr) Error("TriggerOpen:\n\rInvalid wave format");
  if ((state_ & tsOpen) != 0) ClosePump();
  if (state_ != tsClosed || closing_) return;
  closing_ = false;
  stopping_ = false;
  closePending_ = false;
  try {
    if (!window_) {
      window_ = std::make_unique<MessageWindow>(
          [this](unsigned msg, std::uintptr_t, std::intptr_t) { HandleMessage(msg); });
    }
    TMMCustomSoundComponent::Open();  // the chain walk
    StartWorker();
    if (buffer_ == nullptr) {
      // Sized by the opened buffer size, which is what dwBufferLength promises the Input.
      const auto size = static_cast<std::size_t>(std::max(BufferSize(), 0)) + kWaveHdrSize;
      buffer_ = static_cast<PWaveHdr>(allocator_.AllocBlock(GHND, size));
      if (buffer_ == nullptr) Error("Unable to allocate memory for wave header");
    }
    buffer_->lpData = reinterpret_cast<char*>(buffer_) + kWaveHdrSize;
    buffer_->dwBufferLength = static_cast<std::uint32_t>(std::max(BufferSize(), 0));
    buffer_->dwBytesRecorded = 0;
    buffer_->dwUser = 0;
    buffer_->dwFlags = 0;
    buffer_->dwLoops = 0;
    buffer_->lpNext = nullptr;
    state_ = tsOpen;
    Fire(OnOpen, this);
  } catch (...) {
    Fire(OnError, this);
    state_ = tsOpen;
    ClosePump();
    state_ = tsClosed;
    throw;
  }
}

void TMMTrigger::ClosePump() {
  {
    std::lock_guard guard(lock_);
    if ((state_ & tsClosed) != 0 || (closing_ && !closePending_)) return;
    closing_ = true;
  }
  try {
    if ((state_ & (tsStarted | tsPaused)) != 0) StopPump();
    if (stopPending_) {
      closePending_ = true;  // the pending stop completes the close
      return;
    }
    closePending_ = false;
    state_ = tsClosed;
    bool walked = true;
    try {
      TMMCustomSoundComponent::Close();  // the chain walk
    } catch (...) {
      walked = false;
    }
    // Whatever the chain did, the worker and the buffer must not outlive the open state.
    EndWorker();
    allocator_.FreeBlock(buffer_);
    closing_ = false;
    if (walked) Fire(OnClose, this);
  } catch (...) {
    closing_ = false;
  }
}

void TMMTrigger::StartPump() {
  try {
    if ((state_ & tsClosed) != 0) OpenPump();
    if ((state_ & tsOpen) == 0 || (state_ & tsStarted) != 0) return;
    inCallback_ = 0;
    stopPending_ = false;
    stopping_ = false;
    // A pump stopped while paused keeps no parked worker behind.
    if ((state_ & tsPaused) == 0 && thread_) {
      while (thread_->Suspended()) thread_->Resume();
    }
    TMMCustomSoundComponent::Start();  // the chain walk
    moreBuffers_ = true;
    state_ |= tsStarted;
    if (Pull() > 0 && OnBufferFilled) OnBufferFilled(this, buffer_);
    if (buffer_->dwBytesRecorded > 0) {
      if ((state_ & tsPaused) == 0) events_->Set(kDataEvent);
      Fire(OnStart, this);
    } else {
      // Never started as far as the owner is concerned: no OnStop on the way out.
      state_ &= ~tsStarted;
      TMMCustomSoundComponent::Stop();  // the chain walk
      Error("TriggerStart:\n\rUnable to start device");
    }
  } catch (...) {
    Fire(OnError, this);
    ClosePump();
    state_ = tsClosed;
    throw;
  }
}

void TMMTrigger::PausePump() {
  try {
    if ((state_ & tsClosed) != 0) OpenPump();
    if ((state_ & tsOpen) == 0 || (state_ & tsPaused) != 0) return;
    if ((state_ & tsStarted) != 0) {
      std::lock_guard guard(lock_);
      thread_->Suspend();
      state_ |= tsPaused;
    }
    state_ |= tsPaused;
    TMMCustomSoundComponent::Pause();  // the chain walk
    Fire(OnPause, this);
  } catch (...) {
    Fire(OnError, this);
    ClosePump();
    throw;
  }
}

void TMMTrigger::RestartPump() {
  try {
    if ((state_ & tsStarted) == 0 || (state_ & tsPaused) == 0) return;
    thread_->Resume();
    state_ &= ~tsPaused;
    // Paused before the start, the worker was never given its first cycle.
    events_->Set(kDataEvent);
    TMMCustomSoundComponent::Restart();  // the chain walk
    Fire(OnRestart, this);
  } catch (...) {
    Fire(OnError, this);
    ClosePump();
    throw;
  }
}

void TMMTrigger::StopPump() {
  {
    std::lock_guard guard(lock_);
    if ((state_ & (tsStarted | tsPaused)) == 0) return;
    stopping_ = true;
    if (inCallback_ > 0) {
      stopPending_ = true;  // the cycle posts the deferred stop when it ends
      return;
    }
    state_ &= ~(tsStarted | tsPaused);
    stopPending_ = false;
  }
  try {
    TMMCustomSoundComponent::Stop();  // the chain walk
    Fire(OnStop, this);
    if (closePending_) ClosePump();
  } catch (...) {
    Fire(OnError, this);
    ClosePump();
    throw;
  }
}

}  // namespace sonarelle
