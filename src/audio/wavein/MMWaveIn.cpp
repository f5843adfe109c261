#include "audio/wavein/MMWaveIn.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <utility>

#include <QScopeGuard>

#include "audio/chain/UIWait.h"
#include "platform/CaptionedMessage.h"
#include "platform/MessageWindow.h"

namespace sonarelle {

namespace {

const char* const kNoDevice = "No wave audio recording device found";
const char* const kChangeWhileOpen = "Change to property while device was open";
const char* const kUnknownError = "Specified error number is out of range (unknown error)";
// Posted by a failed worker thread: the device closes on the main thread and shows why.
constexpr unsigned kThreadFailedMessage = 0x8003;
constexpr std::int64_t kNoLimit = 0xFFFFFFFFLL;
constexpr int kWaitSteps = 100;
constexpr int kWaitStepMs = 10;
constexpr int kThreadWaitMs = 5000;

}  // namespace

// The worker of cmThread mode: runs the filled-buffer handling for the data notifications
// the driver's thread hands it.
class TWaveInThread : public TMMDSPThread {
 public:
  explicit TWaveInThread(TMMCustomWaveIn* owner) : TMMDSPThread(owner), owner_(owner) {}
  ~TWaveInThread() override { Finish(); }
  TWaveInThread(const TWaveInThread&) = delete;
  TWaveInThread& operator=(const TWaveInThread&) = delete;

  // Any thread.
  void Post(WaveInHandle handle, void* buffer) {
    {
      const std::lock_guard<std::mutex> guard(lock_);
      queue_.emplace_back(handle, buffer);
    }
    changed_.notify_all();
  }

  bool WaitStarted(int timeoutMs) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                             [this] { return started_; });
  }

  // Ends the loop and waits for the thread; true when it ended in time.
  bool Finish() {
    {
      const std::lock_guard<std::mutex> guard(lock_);
      stop_ = true;
    }
    changed_.notify_all();
    Terminate();
    Resume();
    return WaitFor(kThreadWaitMs);
  }

  bool Failed() const { return failed_.load(); }

 protected:
  void Execute() override {
    {
      const std::lock_guard<std::mutex> guard(lock_);
      started_ = true;
    }
    changed_.notify_all();
    for (;;) {
      std::pair<WaveInHandle, void*> message;
      {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [this] { return stop_ || !queue_.empty(); });
        if (stop_) {
          return;
        }
        message = queue_.front();
        queue_.pop_front();
      }
      if (message.first != owner_->handle_.load()) {
        continue;
      }
      owner_->DataHandedOver();
      try {
        owner_->HandleData(static_cast<PWaveHdr>(message.second));
      } catch (const std::exception& error) {
        owner_->threadError_ = QString::fromUtf8(error.what());
        failed_ = true;
        owner_->window_->PostMessage(kThreadFailedMessage, message.first);
        return;
      }
    }
  }

 private:
  TMMCustomWaveIn* owner_;  // not owned
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::pair<WaveInHandle, void*>> queue_;
  bool started_ = false;
  bool stop_ = false;
  std::atomic<bool> failed_{false};
};

TMMCustomWaveIn::TMMCustomWaveIn(WaveInDriver& driver) : driver_(driver) {
  window_ = std::make_unique<MessageWindow>(
      [this](unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
        WindowMessage(msg, wParam, lParam);
      });
  numDevs_ = std::max(driver_.GetNumDevs(), 0);
  SetDeviceID(0);
  RebuildFormat();
}

TMMCustomWaveIn::~TMMCustomWaveIn() {
  MarkDestroying();
  if (handle_.load() != 0) {
    CloseDevice();
  }
  thread_.reset();
  window_.reset();
  allocator_.FreeAll();
}

void TMMCustomWaveIn::FireError() {
  if (OnError) {
    OnError(this);
  }
}

void TMMCustomWaveIn::Error(const QString& message) {
  FireError();
  throw EMMWaveInError(message);
}

QString TMMCustomWaveIn::ErrorText(MMRESULT code) {
  QString text = driver_.GetErrorText(code);
  return text.isEmpty() ? QString::fromUtf8(kUnknownError) : text;
}

void TMMCustomWaveIn::DeviceError(const char* prefix, MMRESULT code) {
  Error(QString::fromUtf8(prefix) + ErrorText(code));
}

void TMMCustomWaveIn::RefuseWhileOpen() {
  if (IsOpen()) {
    Error(QString::fromUtf8(kChangeWhileOpen));
  }
}

void TMMCustomWaveIn::SetDeviceID(int value) {
  if (value != deviceId_) {
    RefuseWhileOpen();
  }
  productName_ = QString::fromUtf8(kNoDevice);
  formatBits_ = 0;
  const bool valid = value >= -1 && value < numDevs_;
  if (numDevs_ > 0 && valid) {
    WaveInCaps caps;
    if (driver_.GetDevCaps(value, caps) == MMSYSERR_NOERROR) {
      productName_ = caps.productName;
      formatBits_ = caps.formats;
    }
  }
  deviceId_ = valid ? value : -2;
}

void TMMCustomWaveIn::SetProductName(const QString& /*value*/) {
  // Read-only: it follows DeviceID.
}

void TMMCustomWaveIn::SetNumBuffers(int value) {
  if (value <= 1) {
    return;
  }
  value = std::min(value, kMaxBuffers);
  if (value == numBuffers_) {
    return;
  }
  RefuseWhileOpen();
  numBuffers_ = value;
}

void TMMCustomWaveIn::SetCallBackMode(TMMCBMode value) {
  if (value == callBackMode_) {
    return;
  }
  RefuseWhileOpen();
  if (value == TMMCBMode::cmCallback) {
    ShowCaptionedMessage(QStringLiteral("TMMWaveIn"),
                         QStringLiteral("\"CallBacks\" are called at interrupt time !\n\r"
                                        "This is currently only supported under Windows 95"));
    return;
  }
  callBackMode_ = value;
}

void TMMCustomWaveIn::SetBufferSize(std::int32_t value) {
  value = std::max<std::int32_t>(value, 32);
  if (value == BufferSize()) {
    return;
  }
  RefuseWhileOpen();
  TMMCustomSoundComponent::SetBufferSize(value);
}

std::int32_t TMMCustomWaveIn::BufferSize() const {
  return TMMCustomSoundComponent::BufferSize();
}

void TMMCustomWaveIn::SetMode(TMMMode value) {
  if (value > mStereo || value == mode_) {
    return;
  }
  RefuseWhileOpen();
  mode_ = value;
  RebuildFormat();
}

void TMMCustomWaveIn::SetBitLength(TMMBitLength value) {
  if (value > b16Bit || value == bitLength_) {
    return;
  }
  RefuseWhileOpen();
  bitLength_ = value;
  RebuildFormat();
}

void TMMCustomWaveIn::SetSampleRate(int value) {
  value = std::clamp(value, 8000, 100000);
  if (value == sampleRate_) {
    return;
  }
  RefuseWhileOpen();
  sampleRate_ = value;
  RebuildFormat();
}

void TMMCustomWaveIn::RebuildFormat() {
  const WAVEFORMATEX format = MakePCMFormat((static_cast<int>(bitLength_) + 1) * 8,
                                            static_cast<int>(mode_) + 1, sampleRate_);
  SetFormat(&format);
}

void TMMCustomWaveIn::SetFormat(const WAVEFORMATEX* format) {
  CloseDevice();
  if (format != nullptr && format->wFormatTag == WAVE_FORMAT_PCM &&
      (format->wBitsPerSample == 8 || format->wBitsPerSample == 16) &&
      (format->nChannels == 1 || format->nChannels == 2) && format->nSamplesPerSec >= 4000 &&
      format->nSamplesPerSec <= 100000) {
    sampleRate_ = static_cast<int>(format->nSamplesPerSec);
    bitLength_ = format->wBitsPerSample == 16 ? b16Bit : b8Bit;
    mode_ = format->nChannels == 2 ? mStereo : mMono;
  }
  TMMCustomSoundComponent::SetFormat(format);
}

void TMMCustomWaveIn::ComputeLimit() {
  const WAVEFORMATEX* format = GetFormat();
  std::int64_t limit = kNoLimit;
  if (maxRecordTime_ >= 0) {
    switch (timeFormat_) {
      case tfMillisecond:
        limit = format != nullptr ? MsToBytes(format, maxRecordTime_) : kNoLimit;
        break;
      case tfSample:
        limit = format != nullptr ? SamplesToBytes(format, maxRecordTime_) : kNoLimit;
        break;
      case tfByte:
        limit = maxRecordTime_;
        break;
    }
  }
  if (format != nullptr && format->nBlockAlign > 0) {
    limit -= limit % format->nBlockAlign;
  }
  byteLimit_ = limit;
}

void TMMCustomWaveIn::SetMaxRecordTime(std::int64_t value) {
  maxRecordTime_ = value;
  ComputeLimit();
}

void TMMCustomWaveIn::SetTimeFormat(TMMTimeFormats value) {
  if (value == timeFormat_) {
    return;
  }
  if (maxRecordTime_ >= 0) {
    ComputeLimit();
    const WAVEFORMATEX* format = GetFormat();
    switch (value) {
      case tfMillisecond:
        maxRecordTime_ = BytesToMs(format, byteLimit_);
        break;
      case tfSample:
        maxRecordTime_ = BytesToSamples(format, byteLimit_);
        break;
      case tfByte:
        maxRecordTime_ = byteLimit_;
        break;
    }
  }
  timeFormat_ = value;
}

bool TMMCustomWaveIn::FormatSupported(int deviceId, const WAVEFORMATEX* format) {
  if (deviceId < -1 || deviceId >= numDevs_ || format == nullptr) {
    return false;
  }
  // A device that is not there cannot record anything: say that, not that the format is
  // wrong.
  WaveInCaps present;
  if (const MMRESULT result = driver_.GetDevCaps(deviceId, present); result != MMSYSERR_NOERROR) {
    DeviceError("WaveInOpen:\n\r", result);
  }
  const WaveInFormat wanted{format->wFormatTag, format->nChannels, format->nSamplesPerSec,
                            format->nBlockAlign, format->wBitsPerSample};
  WaveInHandle none = 0;
  if (driver_.Open(&none, deviceId, wanted, {}, true) != MMSYSERR_NOERROR) {
    return false;
  }
  if (format->wFormatTag != WAVE_FORMAT_PCM) {
    return true;
  }
  const unsigned rate = format->nSamplesPerSec & 0xFFFFU;
  int group = -1;
  if (rate >= 8000 && rate <= 11025) {
    group = 0;
  } else if (rate >= 11026 && rate <= 22050) {
    group = 1;
  } else if (rate >= 22051 && rate <= 48000) {
    group = 2;
  }
  const bool standard = (format->nChannels == 1 || format->nChannels == 2) &&
                        (format->wBitsPerSample == 8 || format->wBitsPerSample == 16);
  if (group < 0 || !standard) {
    return true;
  }
  const int index =
      group * 4 + (format->wBitsPerSample == 16 ? 2 : 0) + (format->nChannels == 2 ? 1 : 0);
  return (present.formats & (WAVE_FORMAT_1M08 << index)) != 0;
}

WaveInBuffer TMMCustomWaveIn::View(PWaveHdr header) {
  return WaveInBuffer{header, header->lpData, header->dwBufferLength, &header->dwBytesRecorded,
                      &header->dwFlags};
}

void TMMCustomWaveIn::QueueHeader(PWaveHdr header) {
  header->dwFlags &= ~WHDR_DONE;
  header->dwFlags |= WHDR_PREPARED;
  // Counted first: with a worker thread the buffer may come back before AddBuffer returns.
  {
    const std::lock_guard<std::mutex> guard(lock_);
    ++queued_;
  }
  const MMRESULT result = driver_.AddBuffer(handle_.load(), View(header));
  if (result != MMSYSERR_NOERROR) {
    {
      const std::lock_guard<std::mutex> guard(lock_);
      --queued_;
    }
    DeviceError("WaveInAddBuffer:\n\r", result);
  }
}

void TMMCustomWaveIn::Notify(unsigned msg, WaveInHandle handle, void* buffer, MMRESULT code) {
  if (msg == MM_WIM_DATA) {
    ++dataInTransit_;
  }
  if (msg == MM_WIM_DATA && callBackMode_ == TMMCBMode::cmThread && thread_ != nullptr) {
    thread_->Post(handle, buffer);
    return;
  }
  const std::intptr_t lParam = msg == MM_WIM_FAILED ? static_cast<std::intptr_t>(code)
                                                    : reinterpret_cast<std::intptr_t>(buffer);
  window_->PostMessage(msg, handle, lParam);
}

void TMMCustomWaveIn::WindowMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
  if (wParam == 0 || wParam != handle_.load()) {
    return;
  }
  try {
    switch (msg) {
      case MM_WIM_OPEN:
        state_ = wsOpen;
        break;
      case MM_WIM_CLOSE:
        state_ = wsClosed;
        break;
      case MM_WIM_DATA:
        DataHandedOver();
        // The message carries our own header back; the handle check above drops stale ones.
        HandleData(reinterpret_cast<PWaveHdr>(lParam));  // NOLINT(performance-no-int-to-ptr)
        break;
      case kDeferredStopMessage:
        StopDevice();
        break;
      case MM_WIM_MOVED: {
        WaveInInputChange change;
        while (driver_.TakeInputChange(static_cast<WaveInHandle>(wParam), change)) {
          if (OnInputChange) {
            OnInputChange(this, change);
          }
        }
        break;
      }
      case MM_WIM_FAILED:
        if (stopping_.load() || closing_.load()) {
          break;  // going down anyway
        }
        // What was recorded so far goes down the chain and the file is finished first.
        StopDevice();
        Error(QStringLiteral("WaveIn:\n\r") + ErrorText(static_cast<MMRESULT>(lParam)));
        break;
      case kThreadFailedMessage:
        throw EMMWaveInError(threadError_);
      default:
        break;
    }
  } catch (...) {
    CloseDevice();
    throw;
  }
}

void TMMCustomWaveIn::HandleData(PWaveHdr header) {
  if (header == nullptr || (state_.load() & wsStarted) == 0) {
    return;
  }
  if (resetting_.load() || (stopping_.load() && !draining_.load())) {
    if (!resetting_.load() && header->dwBytesRecorded > 0) {
      BufferReady(header);
    }
    const std::lock_guard<std::mutex> guard(lock_);
    if (--queued_ <= 0) {
      queued_ = 0;
      resetting_ = false;
    }
    return;
  }
  ++inCallback_;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    --queued_;
  }
  try {
    BufferReady(header);
    if (!stopPending_.load()) {
      QueueHeader(header);
    }
  } catch (...) {
    FireError();
    FinishHandler();
    throw;
  }
  FinishHandler();
}

void TMMCustomWaveIn::DataHandedOver() {
  int count = dataInTransit_.load();
  while (count > 0 && !dataInTransit_.compare_exchange_weak(count, count - 1)) {
  }
}

bool TMMCustomWaveIn::LimitReached() const {
  return maxRecordTime_ > 0 && bytesRecorded_.load() >= byteLimit_;
}

// After the driver stopped: buffers keep being handled as while recording, handed down and
// queued again, until neither the driver nor the message queue holds audio of the take.
// Ends when the device stops or closes meanwhile, and after about a second without
// progress.
void TMMCustomWaveIn::DrainDriver() {
  const WaveInHandle handle = handle_.load();
  const bool dispatch = callBackMode_ == TMMCBMode::cmWindow && IsMainThread();
  std::uint32_t lastHeld = 0;
  int lastInTransit = 0;
  std::int64_t lastBytes = bytesRecorded_.load();
  for (int idle = 0; idle < kWaitSteps;) {
    if (handle_.load() != handle || (state_.load() & (wsStarted | wsPaused)) == 0 ||
        stopPending_.load() || LimitReached()) {
      break;
    }
    const std::uint32_t held = driver_.HeldBytes(handle);
    const int inTransit = dataInTransit_.load();
    if (held == 0 && inTransit == 0 && inCallback_.load() == 0) {
      break;
    }
    const std::int64_t bytes = bytesRecorded_.load();
    if (held != lastHeld || inTransit != lastInTransit || bytes != lastBytes) {
      idle = 0;
      lastHeld = held;
      lastInTransit = inTransit;
      lastBytes = bytes;
    } else {
      ++idle;
    }
    WaitKeepingUIAlive(kWaitStepMs, dispatch);
  }
  draining_ = false;
}

void TMMCustomWaveIn::FinishHandler() {
  if (--inCallback_ == 0 && stopPending_.load() && !stopPosted_.load()) {
    stopPosted_ = true;
    stopping_ = true;
    window_->PostMessage(kDeferredStopMessage, handle_.load());
  }
}

void TMMCustomWaveIn::BufferReady(PWaveHdr lpWaveHdr) {
  bytesRecorded_ += lpWaveHdr->dwBytesRecorded;
  bool limitReached = false;
  if (maxRecordTime_ > 0 && bytesRecorded_.load() >= byteLimit_) {
    const std::int64_t excess = bytesRecorded_.load() - byteLimit_;
    lpWaveHdr->dwBytesRecorded -=
        static_cast<std::uint32_t>(std::min<std::int64_t>(excess, lpWaveHdr->dwBytesRecorded));
    bytesRecorded_ = byteLimit_;
    limitReached = true;
  }
  TMMCustomSoundComponent::BufferReady(lpWaveHdr);
  if (limitReached) {
    StopDevice();
  }
}

void TMMCustomWaveIn::StartThread() {
  thread_ = std::make_unique<TWaveInThread>(this);
  thread_->SetPriority(priority_);
  try {
    thread_->Resume();
  } catch (const std::exception&) {
    thread_.reset();
    Error(QStringLiteral("WaveIn:\n\rCould not create thread"));
  }
  if (!thread_->WaitStarted(kThreadWaitMs)) {
    thread_.reset();
    Error(QStringLiteral("WaveIn:\n\rCould not create thread"));
  }
}

void TMMCustomWaveIn::EndThread() {
  if (thread_ != nullptr) {
    thread_->Finish();
    thread_.reset();
  }
}

void TMMCustomWaveIn::OpenDevice() {
  if (numDevs_ == 0) {
    Error(QString::fromUtf8(kNoDevice));
  }
  if (deviceId_ == -2) {
    Error(QStringLiteral("Invalid DeviceID"));
  }
  if (GetFormat() == nullptr) {
    Error(QStringLiteral("Invalid wave format"));
  }
  if (IsOpen()) {
    CloseDevice();
  }
  if (IsOpen() || closing_.load()) {
    return;
  }
  closing_ = false;
  resetting_ = false;
  stopping_ = false;
  stopPosted_ = false;
  draining_ = false;
  dataInTransit_ = 0;
  try {
    if (!FormatSupported(deviceId_, GetFormat())) {
      Error(QStringLiteral("WaveInOpen:\n\rThe actual device can't record this format"));
    }
    handle_ = 0;
    closePending_ = false;
    if (callBackMode_ == TMMCBMode::cmThread) {
      StartThread();
    }
    const WAVEFORMATEX* format = GetFormat();
    const WaveInFormat wanted{format->wFormatTag, format->nChannels, format->nSamplesPerSec,
                              format->nBlockAlign, format->wBitsPerSample};
    WaveInHandle handle = 0;
    const MMRESULT result = driver_.Open(
        &handle, deviceId_, wanted,
        [this](unsigned msg, WaveInHandle h, void* buffer, MMRESULT code) {
          Notify(msg, h, buffer, code);
        },
        false);
    if (result != MMSYSERR_NOERROR) {
      DeviceError("WaveInOpen:\n\r", result);
    }
    handle_ = handle;

    // The walk sees a closed device, so its settings may change and a close asked for
    // from inside it does nothing.
    const unsigned remembered = state_.load();
    state_ = wsClosed;
    TMMCustomSoundComponent::Open();
    state_ = remembered;

    for (int i = 0; i < kWaitSteps && !IsOpen(); ++i) {
      WaitKeepingUIAlive(kWaitStepMs, true);
    }
    if (!IsOpen()) {
      Error(QStringLiteral("WaveInOpen:\n\rUnable to open device"));
    }

    const auto size = static_cast<std::uint32_t>(BufferSize());
    for (int i = 0; i < numBuffers_; ++i) {
      if (headers_[i] != nullptr) {
        continue;
      }
      void* block = allocator_.AllocBlock(GHND, size + kWaveHdrSize);
      if (block == nullptr) {
        Error(QStringLiteral("Unable to allocate memory for wave header"));
      }
      auto* header = static_cast<PWaveHdr>(block);
      header->lpData = static_cast<char*>(block) + kWaveHdrSize;
      header->dwBufferLength = size;
      header->dwBytesRecorded = 0;
      header->dwUser = 0;
      header->dwFlags = 0;
      header->dwLoops = 0;
      header->lpNext = nullptr;
      headers_[i] = header;
    }
    for (int i = 0; i < numBuffers_; ++i) {
      const MMRESULT prepared = driver_.PrepareHeader(handle_.load(), View(headers_[i]));
      if (prepared != MMSYSERR_NOERROR) {
        DeviceError("WaveInPrepareHeader:\n\r", prepared);
      }
    }
    Open();
  } catch (...) {
    FireError();
    state_ = wsOpen;
    CloseDevice();
    state_ = wsClosed;
    throw;
  }
}

void TMMCustomWaveIn::StartDevice() {
  if (!IsOpen()) {
    OpenDevice();
  }
  if (!IsOpen() || (state_.load() & wsStarted) != 0) {
    return;
  }
  bytesRecorded_ = 0;
  inCallback_ = 0;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    queued_ = 0;
  }
  stopPending_ = false;
  stopping_ = false;
  resetting_ = false;
  stopPosted_ = false;
  ComputeLimit();
  try {
    for (int i = 0; i < numBuffers_; ++i) {
      QueueHeader(headers_[i]);
    }
    Start();
  } catch (...) {
    FireError();
    state_ |= wsStarted;
    CloseDevice();
    state_ = wsClosed;
    throw;
  }
}

void TMMCustomWaveIn::PauseDevice() {
  if (!IsOpen()) {
    OpenDevice();
  }
  if (!IsOpen() || (state_.load() & wsPaused) != 0) {
    return;
  }
  try {
    if ((state_.load() & wsStarted) != 0) {
      const MMRESULT result = driver_.Stop(handle_.load());
      if (result != MMSYSERR_NOERROR) {
        DeviceError("WaveInPause:\n\r", result);
      }
    }
    Pause();
  } catch (...) {
    FireError();
    CloseDevice();
    throw;
  }
}

void TMMCustomWaveIn::RestartDevice() {
  const unsigned state = state_.load();
  if ((state & wsStarted) == 0 || (state & wsPaused) == 0) {
    return;
  }
  try {
    const MMRESULT result = driver_.Start(handle_.load());
    if (result != MMSYSERR_NOERROR) {
      DeviceError("WaveInRestart:\n\r", result);
    }
    Restart();
  } catch (...) {
    FireError();
    CloseDevice();
    throw;
  }
}

void TMMCustomWaveIn::StopDevice() {
  if ((state_.load() & (wsStarted | wsPaused)) == 0) {
    return;
  }
  const WaveInHandle handle = handle_.load();
  // What was captured up to now belongs to the take. A stop asked for inside a buffer
  // handler ends at that buffer, the limit ends the take exactly where it is, and a device
  // being destroyed hands nothing more down.
  const bool drain = inCallback_.load() == 0 && !stopPending_.load() && !draining_.load() &&
                     !LimitReached() && !dropHeld_ && (ComponentState() & csDestroying) == 0;
  try {
    {
      std::unique_lock<std::mutex> guard(lock_);
      // Set first, so that no buffer coming back from here on is kept from the queue.
      if (drain) {
        draining_ = true;
      }
      stopping_ = true;
      const MMRESULT result = driver_.Stop(handle);
      if (result != MMSYSERR_NOERROR) {
        guard.unlock();
        DeviceError("WaveInStop:\n\r", result);
      }
    }
    if (drain) {
      DrainDriver();
      // A message handled meanwhile may have finished the stop already.
      if (handle_.load() != handle || (state_.load() & (wsStarted | wsPaused)) == 0) {
        return;
      }
    }
    {
      std::unique_lock<std::mutex> guard(lock_);
      resetting_ = true;
      const MMRESULT result = driver_.Reset(handle);
      if (result != MMSYSERR_NOERROR) {
        guard.unlock();
        DeviceError("WaveInReset:\n\r", result);
      }
    }
    if (inCallback_.load() == 0) {
      const bool dispatch = callBackMode_ == TMMCBMode::cmWindow && IsMainThread();
      for (int i = 0; i < kWaitSteps; ++i) {
        {
          const std::lock_guard<std::mutex> guard(lock_);
          if (queued_ <= 0) {
            break;
          }
        }
        WaitKeepingUIAlive(kWaitStepMs, dispatch);
      }
    }
    Stop();
  } catch (...) {
    if (drain) {
      draining_ = false;
    }
    FireError();
    CloseDevice();
    throw;
  }
}

void TMMCustomWaveIn::StopDeviceAtOnce() {
  dropHeld_ = true;
  const auto restore = qScopeGuard([this] { dropHeld_ = false; });
  StopDevice();
}

void TMMCustomWaveIn::CloseDevice() {
  if (!IsOpen() || (closing_.load() && !closePending_.load())) {
    return;
  }
  closing_ = true;
  // Every step runs even after one failed, so the handle is given back and the chain
  // (the file behind it) is closed; the first failure is reported at the end.
  QString failure;
  auto attempt = [&failure](auto&& step) {
    try {
      step();
    } catch (const std::exception& error) {
      if (failure.isEmpty()) {
        failure = QString::fromUtf8(error.what());
      }
    }
  };
  if ((state_.load() & (wsStarted | wsPaused)) != 0) {
    attempt([this] { StopDevice(); });
  }
  if (stopPending_.load()) {
    closePending_ = true;
    return;
  }
  closePending_ = false;
  bool closeSeen = true;
  const WaveInHandle handle = handle_.load();
  if (handle != 0) {
    driver_.Stop(handle);
    driver_.Reset(handle);
    for (PWaveHdr header : headers_) {
      if (header == nullptr) {
        continue;
      }
      // The driver gives every buffer back in Reset; a buffer it kept is taken back anyway.
      if ((header->dwFlags & WHDR_DONE) == 0 && (header->dwFlags & WHDR_INQUEUE) != 0) {
        header->dwFlags = WHDR_DONE;
      }
      const MMRESULT result = driver_.UnprepareHeader(handle, View(header));
      if (result != MMSYSERR_NOERROR) {
        attempt([&] { DeviceError("WaveInUnprepareHeader:\n\r", result); });
      }
    }
    const MMRESULT result = driver_.Close(handle);
    if (result != MMSYSERR_NOERROR) {
      attempt([&] { DeviceError("WaveInClose:\n\r", result); });
    }
    for (int i = 0; i < kWaitSteps && IsOpen(); ++i) {
      WaitKeepingUIAlive(kWaitStepMs, true);
    }
    closeSeen = !IsOpen();
  } else {
    state_ = wsClosed;
  }
  attempt([this] { TMMCustomSoundComponent::Close(); });
  EndThread();
  attempt([this] { Close(); });
  if (!closeSeen && failure.isEmpty()) {
    attempt([this] { Error(QStringLiteral("WaveInClose:\n\rUnable to close device")); });
  }
  closing_ = false;
}

void TMMCustomWaveIn::Open() {
  if (OnOpen) {
    OnOpen(this);
  }
}

void TMMCustomWaveIn::Close() {
  handle_ = 0;
  for (PWaveHdr& header : headers_) {
    if (header != nullptr) {
      allocator_.FreeBlock(header);
      header = nullptr;
    }
  }
  closing_ = false;
  if ((ComponentState() & csDestroying) == 0 && OnClose) {
    OnClose(this);
  }
}

void TMMCustomWaveIn::Start() {
  state_ |= wsStarted;
  if ((state_.load() & wsPaused) == 0) {
    const MMRESULT result = driver_.Start(handle_.load());
    if (result != MMSYSERR_NOERROR) {
      DeviceError("WaveInStart:\n\r", result);
    }
  }
  TMMCustomSoundComponent::Start();
  if (OnStart) {
    OnStart(this);
  }
}

void TMMCustomWaveIn::Pause() {
  state_ |= wsPaused;
  TMMCustomSoundComponent::Pause();
  if (OnPause) {
    OnPause(this);
  }
}

void TMMCustomWaveIn::Restart() {
  state_ &= ~wsPaused;
  TMMCustomSoundComponent::Restart();
  if (OnRestart) {
    OnRestart(this);
  }
}

void TMMCustomWaveIn::Stop() {
  if ((state_.load() & (wsStarted | wsPaused)) == 0) {
    return;
  }
  if (inCallback_.load() > 0) {
    stopPending_ = true;
    return;
  }
  state_ &= ~(wsStarted | wsPaused);
  stopPending_ = false;
  {
    const std::lock_guard<std::mutex> guard(lock_);
    queued_ = 0;
  }
  TMMCustomSoundComponent::Stop();
  if ((ComponentState() & csDestroying) == 0 && OnStop) {
    OnStop(this);
  }
  if (closePending_.load()) {
    CloseDevice();
  }
}

TMMWaveIn::TMMWaveIn() : TMMCustomWaveIn(PulseWaveInDriver()) {}

}  // namespace sonarelle
