#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include <QString>

#include "audio/chain/MMAllocator.h"
#include "audio/chain/MMCustomSoundComponent.h"
#include "platform/Exception.h"

namespace sonarelle {

class AutoResetEvents;
class MessageWindow;
class TMMTriggerThread;

// Raised by the trigger pump, after its OnError callback.
class EMMTriggerError : public Exception {
 public:
  using Exception::Exception;
};

// Called with the sender and a Handled flag, false at first; setting it lets the pump go on
// after an error in a cycle.
using TMMErrorEvent = std::function<void(TMMComponent* Sender, bool& Handled)>;

// A chain driver whose time base is a worker thread: on each cycle it pushes its one buffer
// down to its Output, then pulls the next data from its Input, until the Input has no more.
// Then it stops the chain on the main thread and fires OnStop.
//
// Threads: the control operations and OnOpen, OnStart, OnStop, OnClose, OnPause, OnRestart
// run on the main thread. Pulls and pushes after the first, and so OnBufferLoad,
// OnBufferFilled, OnBufferReady, OnErrorEx and the Input's and Output's buffer work, run on
// the worker thread; the first pull is made by StartPump on the main thread.
class TMMTrigger : public TMMCustomSoundComponent {
 public:
  // Bits of State().
  static constexpr unsigned tsClosed = 1;
  static constexpr unsigned tsOpen = 2;
  static constexpr unsigned tsStarted = 4;
  static constexpr unsigned tsPaused = 8;

  static constexpr std::int32_t kMinBufferSize = 32;
  // The message that carries the stop at the end of the input to the main thread.
  static constexpr unsigned kDeferredStopMessage = 0x8001;
  // The message that closes the trigger on the main thread after a cycle's error ended the
  // worker.
  static constexpr unsigned kCloseAfterErrorMessage = 0x8002;

  enum TTimeFormat { tfMillisecond, tfByte, tfSample };

  TMMTrigger();
  // Closes the trigger, finishing a close that waits for a running cycle. Destroy (or
  // close) the trigger before the components it drives: their own parts are gone before
  // the removal notification reaches it.
  ~TMMTrigger() override;

  // A partner that is removed closes the trigger first, waiting for a running cycle.
  void Notification(TMMComponent* component, TOperation operation) override;

  // The driver settings have no meaning for a trigger: stored only.
  void SetNumBuffers(int value) override { numBuffers_ = value; }
  int NumBuffers() const override { return numBuffers_; }
  void SetDeviceID(int value) override { deviceId_ = value; }
  int DeviceID() const override { return deviceId_; }
  void SetProductName(const QString& value) override { productName_ = value; }
  QString ProductName() const override { return productName_; }
  void SetCallBackMode(TMMCBMode value) override { callBackMode_ = value; }
  TMMCBMode CallBackMode() const override { return callBackMode_; }

  // At least 32; changing it while open raises "Change to property while device was open".
  void SetBufferSize(std::int32_t value) override;
  // Milliseconds of pause between cycles, at least 0. With 0 the cycles follow each other
  // at once.
  int Interval() const { return interval_.load(); }
  void SetInterval(int value) { interval_ = value < 0 ? 0 : value; }
  // Stored only.
  TTimeFormat TimeFormat() const { return timeFormat_; }
  void SetTimeFormat(TTimeFormat value) { timeFormat_ = value; }

  // Closes the trigger, then takes and hands on the format.
  void SetFormat(const WAVEFORMATEX* format) override;
  // Nothing is pushed into a trigger.
  void BufferReady(PWaveHdr lpWaveHdr) override;
  // Asks the Input to fill the header up to the buffer size; dwBufferLength ends as the
  // bytes filled.
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  // The chain operations are the pump operations.
  void Open() override { OpenPump(); }
  void Close() override { ClosePump(); }
  void Start() override { StartPump(); }
  void Pause() override { PausePump(); }
  void Restart() override { RestartPump(); }
  void Stop() override { StopPump(); }

  // Fires OnError, then raises EMMTriggerError with the message.
  virtual void Error(const QString& message);
  // Opens the chain, starts the worker and takes the buffer.
  virtual void OpenPump();
  // Stops if needed, closes the chain, ends the worker and returns the buffer. Never raises.
  virtual void ClosePump();
  // Opens if closed, starts the chain, pulls the first buffer and sets the worker going.
  virtual void StartPump();
  virtual void PausePump();
  virtual void RestartPump();
  // Stops the chain and fires OnStop; while a cycle runs, the stop is left to its end.
  virtual void StopPump();

  unsigned State() const { return state_.load(); }
  // The message of the error that ended the worker since the last open, or empty; the
  // owner's OnStop tells a finished run from one an error cut short with it.
  QString ErrorText() const;

  TNotifyEvent OnError;
  TMMErrorEvent OnErrorEx;
  TNotifyEvent OnOpen;
  TNotifyEvent OnStart;
  TNotifyEvent OnPause;
  TNotifyEvent OnRestart;
  TNotifyEvent OnStop;
  TNotifyEvent OnClose;
  // After each successful pull, with the filled header.
  TMMBufferEvent OnBufferFilled;

 private:
  friend class TMMTriggerThread;

  // One pull into the own buffer; the bytes it brought.
  std::int64_t Pull();
  // One push of the own buffer down the chain.
  void Push();
  // One push-and-pull step, on the worker thread.
  void Cycle();
  // ClosePump, and when that is left pending behind a running cycle, the stop and close
  // as soon as the cycle has ended.
  void CloseNow();
  void StartWorker();
  void EndWorker();
  // Joins a worker that ended by itself after an error.
  void ReapWorker();
  void HandleMessage(unsigned msg);
  static void Fire(const TNotifyEvent& callback, TMMComponent* sender);

  std::atomic<unsigned> state_{tsClosed};
  PWaveHdr buffer_ = nullptr;  // from allocator_
  TMMAllocator allocator_;
  std::atomic<bool> moreBuffers_{false};
  std::atomic<int> inCallback_{0};
  std::atomic<bool> stopPending_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> closing_{false};
  std::atomic<bool> closePending_{false};
  std::atomic<bool> threadError_{false};
  std::atomic<int> interval_{0};
  TTimeFormat timeFormat_ = tfByte;
  int numBuffers_ = 1;
  int deviceId_ = 0;
  QString productName_;
  TMMCBMode callBackMode_ = TMMCBMode::cmThread;

  // Guards the step from "running" to "stopping" against the worker's start of a cycle.
  std::mutex lock_;
  mutable std::mutex errorLock_;
  QString errorText_;
  std::unique_ptr<MessageWindow> window_;
  std::unique_ptr<AutoResetEvents> events_;
  std::unique_ptr<TMMTriggerThread> thread_;
};

}  // namespace sonarelle
