#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include <QString>

#include "audio/chain/MMAllocator.h"
#include "audio/chain/MMCustomSoundComponent.h"
#include "audio/chain/MMDSPThread.h"
#include "audio/wavefile/MMWave.h"
#include "platform/Exception.h"
#include "platform/WaveInDriver.h"

namespace sonarelle {

class MessageWindow;
class TWaveInThread;

// Every error of a wave-in device.
class EMMWaveInError : public Exception {
 public:
  using Exception::Exception;
};

enum TMMBitLength { b8Bit, b16Bit };

// The input a device records from changed during a take: from which to which, whether the
// old one went away, and at which frame of the take.
using TInputChangeEvent =
    std::function<void(TMMComponent* Sender, const WaveInInputChange& change)>;

// A recording device at the head of a chain: it pushes each filled buffer down with
// BufferReady. Settings shape the device at the next open; those that shape an open device
// refuse changes until it is closed. All operations belong to the main thread.
class TMMCustomWaveIn : public TMMCustomSoundComponent {
 public:
  // Device state bits.
  static constexpr unsigned wsClosed = 1;
  static constexpr unsigned wsOpen = 2;
  static constexpr unsigned wsStarted = 4;
  static constexpr unsigned wsPaused = 8;
  static constexpr int kMaxBuffers = 500;
  // Posted to the own window to finish a stop that was asked for inside a buffer handler.
  static constexpr unsigned kDeferredStopMessage = 0x8002;

  ~TMMCustomWaveIn() override;

  // -1 the server's default source, 0 .. NumDevs()-1 a source; anything else stores -2.
  void SetDeviceID(int value) override;
  int DeviceID() const override { return deviceId_; }
  // Read-only: the selected device's name, for display.
  void SetProductName(const QString& value) override;
  QString ProductName() const override { return productName_; }
  void SetNumBuffers(int value) override;
  int NumBuffers() const override { return numBuffers_; }
  void SetCallBackMode(TMMCBMode value) override;
  TMMCBMode CallBackMode() const override { return callBackMode_; }
  void SetBufferSize(std::int32_t value) override;
  std::int32_t BufferSize() const override;

  TMMMode Mode() const { return mode_; }
  void SetMode(TMMMode value);
  TMMBitLength BitLength() const { return bitLength_; }
  void SetBitLength(TMMBitLength value);
  int SampleRate() const { return sampleRate_; }
  void SetSampleRate(int value);
  TMMTimeFormats TimeFormat() const { return timeFormat_; }
  void SetTimeFormat(TMMTimeFormats value);
  // Recording limit in TimeFormat units; -1 or 0: none.
  std::int64_t MaxRecordTime() const { return maxRecordTime_; }
  void SetMaxRecordTime(std::int64_t value);
  TThreadPriority Priority() const { return priority_; }
  void SetPriority(TThreadPriority value) { priority_ = value; }

  unsigned State() const { return state_.load(); }
  // Devices counted at creation.
  int NumDevs() const { return numDevs_; }
  // Bytes handed down since the last start.
  std::int64_t BytesRecorded() const { return bytesRecorded_.load(); }

  void SetFormat(const WAVEFORMATEX* format) override;
  void Open() override;
  void Close() override;
  void Start() override;
  void Pause() override;
  void Restart() override;
  void Stop() override;
  // Counts the bytes, cuts the buffer at the limit and hands it down; called on the thread
  // the callback mode gives, the header stays the device's.
  void BufferReady(PWaveHdr lpWaveHdr) override;

  // Fires OnError, then raises EMMWaveInError with `message`.
  virtual void Error(const QString& message);
  virtual void OpenDevice();
  // Never raises: its errors only fire OnError.
  virtual void CloseDevice();
  virtual void StartDevice();
  virtual void PauseDevice();
  virtual void RestartDevice();
  virtual void StopDevice();
  // Stops as StopDevice does but drops the audio the driver still holds: for a chain that
  // can take no more (its file is already finished).
  void StopDeviceAtOnce();

  TNotifyEvent OnError;
  TNotifyEvent OnOpen;
  TNotifyEvent OnStart;
  TNotifyEvent OnPause;
  TNotifyEvent OnRestart;
  TNotifyEvent OnStop;
  TNotifyEvent OnClose;
  // On the main thread, after the new input's first buffers came in.
  TInputChangeEvent OnInputChange;

 protected:
  // `driver` is the wave-in service in use; it must outlive the device.
  explicit TMMCustomWaveIn(WaveInDriver& driver);

 private:
  friend class TWaveInThread;

  bool IsOpen() const { return (state_.load() & wsOpen) != 0; }
  void RefuseWhileOpen();
  void RebuildFormat();
  void ComputeLimit();
  bool FormatSupported(int deviceId, const WAVEFORMATEX* format);
  void DeviceError(const char* prefix, MMRESULT code);
  QString ErrorText(MMRESULT code);
  WaveInBuffer View(PWaveHdr header);
  void QueueHeader(PWaveHdr header);
  void HandleData(PWaveHdr header);
  void FinishHandler();
  void DataHandedOver();
  bool LimitReached() const;
  void DrainDriver();
  void Notify(unsigned msg, WaveInHandle handle, void* buffer, MMRESULT code);
  void WindowMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);
  void StartThread();
  void EndThread();
  void FireError();

  WaveInDriver& driver_;
  std::unique_ptr<MessageWindow> window_;
  std::unique_ptr<TWaveInThread> thread_;
  TMMAllocator allocator_;
  std::array<PWaveHdr, kMaxBuffers> headers_{};

  int deviceId_ = 0;
  QString productName_;
  std::uint32_t formatBits_ = 0;
  int numDevs_ = 0;
  TMMMode mode_ = mMono;
  TMMBitLength bitLength_ = b8Bit;
  int sampleRate_ = 11025;
  int numBuffers_ = 10;
  TMMCBMode callBackMode_ = TMMCBMode::cmWindow;
  TMMTimeFormats timeFormat_ = tfByte;
  std::int64_t maxRecordTime_ = -1;
  TThreadPriority priority_ = TThreadPriority::tpHigher;

  std::atomic<unsigned> state_{wsClosed};
  std::atomic<WaveInHandle> handle_{0};
  std::atomic<std::int64_t> bytesRecorded_{0};
  std::int64_t byteLimit_ = 0;
  std::mutex lock_;  // the queued count and the resetting flag, against a worker thread
  int queued_ = 0;
  std::atomic<int> inCallback_{0};
  std::atomic<bool> stopPending_{false};
  std::atomic<bool> closePending_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> resetting_{false};
  std::atomic<bool> stopPosted_{false};
  std::atomic<bool> closing_{false};
  // Stopping, but buffers still carry what the driver captured before the stop.
  std::atomic<bool> draining_{false};
  // Data notifications on their way to the handler (posted, not yet handled).
  std::atomic<int> dataInTransit_{0};
  bool dropHeld_ = false;  // the stop under way drops what the driver holds
  QString threadError_;
};

// The wave-in device on the system's sound server.
class TMMWaveIn : public TMMCustomWaveIn {
 public:
  TMMWaveIn();
};

}  // namespace sonarelle
