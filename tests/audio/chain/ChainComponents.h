#pragma once

// Small chain components for the tests: a passive component and a driver that log what
// happens to them, and a source that serves bytes by pull. They are components of the chain
// in their own right, built on the real base classes.

#include <cstring>
#include <string>
#include <vector>

#include "audio/chain/MMCustomSoundComponent.h"
#include "audio/chain/MMDSPComponent.h"

namespace sonarelle::test {

using Log = std::vector<std::string>;

class LoggingComponent : public TMMDSPComponent {
 public:
  LoggingComponent(std::string name, Log* log) : name_(std::move(name)), log_(log) {}
  ~LoggingComponent() override = default;

  void Open() override {
    Note("open", BufferSize());
    TMMDSPComponent::Open();
  }
  void Close() override {
    Note("close");
    TMMDSPComponent::Close();
  }
  void Start() override {
    Note("start");
    TMMDSPComponent::Start();
  }
  void Stop() override {
    if (Started()) Note("stop");
    TMMDSPComponent::Stop();
  }
  void Pause() override {
    Note("pause");
    TMMDSPComponent::Pause();
  }
  void FormatChanged(const WAVEFORMATEX* format) override {
    ++formatChanges;
    TMMDSPComponent::FormatChanged(format);
  }
  bool ExposesInput() const override { return exposesInput; }
  bool ExposesOutput() const override { return exposesOutput; }

  const std::string& Name() const { return name_; }
  int formatChanges = 0;
  bool exposesInput = true;
  bool exposesOutput = true;

 protected:
  void Note(const std::string& what, int value = -1) {
    if (log_ == nullptr) return;
    log_->push_back(name_ + ":" + what + (value >= 0 ? "(" + std::to_string(value) + ")" : ""));
  }

 private:
  std::string name_;
  Log* log_;
};

// A driver whose control operations log their begin and end around the chain walk.
class LoggingDriver : public TMMCustomSoundComponent {
 public:
  LoggingDriver(std::string name, Log* log) : name_(std::move(name)), log_(log) {}

  void SetNumBuffers(int value) override { numBuffers_ = value; }
  int NumBuffers() const override { return numBuffers_; }
  void SetDeviceID(int value) override { deviceId_ = value; }
  int DeviceID() const override { return deviceId_; }
  void SetProductName(const QString& value) override { productName_ = value; }
  QString ProductName() const override { return productName_; }
  void SetCallBackMode(TMMCBMode value) override { mode_ = value; }
  TMMCBMode CallBackMode() const override { return mode_; }

  void Open() override {
    Around("open", [this] { TMMCustomSoundComponent::Open(); });
  }
  void Close() override {
    Around("close", [this] { TMMCustomSoundComponent::Close(); });
  }
  void Start() override {
    Around("start", [this] { TMMCustomSoundComponent::Start(); });
  }
  void Stop() override {
    if (!Started() && !Opened()) {
      TMMCustomSoundComponent::Stop();
      return;
    }
    Around("stop", [this] { TMMCustomSoundComponent::Stop(); });
  }

 private:
  template <class F>
  void Around(const std::string& what, F body) {
    if (log_ != nullptr) log_->push_back(name_ + ":" + what + "{");
    body();
    if (log_ != nullptr) log_->push_back(name_ + ":}");
  }

  std::string name_;
  Log* log_;
  int numBuffers_ = 0;
  int deviceId_ = 0;
  QString productName_;
  TMMCBMode mode_ = TMMCBMode::cmWindow;
};

// The head of a pull chain: serves `total` bytes (byte i has value i % 251) in pulls of at
// most the header's capacity, with MoreBuffers set while bytes remain after the read.
class ByteSource : public TMMDSPComponent {
 public:
  explicit ByteSource(std::size_t total) : total_(total) {}

  bool ExposesInput() const override { return false; }

  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override {
    ++pulls;
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);  // OnBufferLoad sees it unfilled
    const std::size_t left = total_ - served_;
    const std::size_t n = std::min<std::size_t>(left, lpWaveHdr->dwBufferLength);
    for (std::size_t i = 0; i < n; ++i) {
      lpWaveHdr->lpData[i] = static_cast<char>((served_ + i) % 251);
    }
    served_ += n;
    lpWaveHdr->dwBytesRecorded = static_cast<std::uint32_t>(n);
    if (n > 0 && served_ < total_) MoreBuffers = true;
  }

  void Start() override {
    TMMDSPComponent::Start();
    served_ = 0;
  }

  std::size_t Served() const { return served_; }
  int pulls = 0;

 private:
  std::size_t total_;
  std::size_t served_ = 0;
};

}  // namespace sonarelle::test
