#pragma once

// A chain driver for the connector tests: it pushes buffers it is given down its chain with
// BufferReady, as a capture driver does with what the device filled.

#include <cstring>
#include <vector>

#include "audio/chain/MMCustomSoundComponent.h"
#include "audio/chain/WaveHeader.h"

namespace sonarelle::test {

class ChainDriver : public TMMCustomSoundComponent {
 public:
  void SetNumBuffers(int value) override { numBuffers_ = value; }
  int NumBuffers() const override { return numBuffers_; }
  void SetDeviceID(int value) override { deviceId_ = value; }
  int DeviceID() const override { return deviceId_; }
  void SetProductName(const QString& value) override { productName_ = value; }
  QString ProductName() const override { return productName_; }
  void SetCallBackMode(TMMCBMode value) override { mode_ = value; }
  TMMCBMode CallBackMode() const override { return mode_; }

  // Sends `bytes` down the chain in one header, header and data in one block.
  void Push(const std::vector<char>& bytes) {
    block_.assign(kWaveHdrSize + bytes.size(), 0);
    auto* header = reinterpret_cast<PWaveHdr>(block_.data());
    header->lpData = block_.data() + kWaveHdrSize;
    header->dwBufferLength = static_cast<std::uint32_t>(bytes.size());
    header->dwBytesRecorded = static_cast<std::uint32_t>(bytes.size());
    std::memcpy(header->lpData, bytes.data(), bytes.size());
    BufferReady(header);
  }

 private:
  std::vector<char> block_;
  int numBuffers_ = 4;
  int deviceId_ = 0;
  QString productName_;
  TMMCBMode mode_ = TMMCBMode::cmWindow;
};

}  // namespace sonarelle::test
