#pragma once

#include <atomic>
#include <map>
#include <utility>

#include "audio/wavein/MMWaveIn.h"
#include "platform/WaveInDriver.h"

// A driver table over the real one that fails chosen operations on demand, can claim a
// different device count and can lose notifications: the faults a sound server will not
// show when asked.
class FailingWaveInDriver : public sonarelle::WaveInDriver {
 public:
  enum class Op { Caps, Query, Open, Close, Prepare, Unprepare, Add, Start, Stop, Reset };

  explicit FailingWaveInDriver(sonarelle::WaveInDriver& real) : real_(real) {}

  // Calls of `op` after the first `after` ones return `code` without reaching the server.
  void FailOn(Op op, sonarelle::MMRESULT code, int after = 0) { failures_[op] = {code, after}; }
  void Heal() { failures_.clear(); }
  // -1: the real count.
  void SetDeviceCount(int count) { deviceCount_ = count; }
  void DropOpenNotification(bool value) { dropOpen_ = value; }
  // Buffers that come back after a reset are never reported.
  void KeepBuffersOnReset(bool value) { keepOnReset_ = value; }
  // Buffers that come back after a stop (or a reset) are never reported.
  void KeepBuffersOnStop(bool value) { keepOnStop_ = value; }
  int Calls(Op op) const;
  // The handle of the last device opened.
  sonarelle::WaveInHandle LastHandle() const { return lastHandle_; }

  int GetNumDevs() override;
  sonarelle::MMRESULT GetDevCaps(int deviceId, sonarelle::WaveInCaps& caps) override;
  QString GetErrorText(sonarelle::MMRESULT code) override;
  sonarelle::MMRESULT Open(sonarelle::WaveInHandle* handle, int deviceId,
                           const sonarelle::WaveInFormat& format,
                           const sonarelle::WaveInNotify& notify, bool query) override;
  sonarelle::MMRESULT Close(sonarelle::WaveInHandle handle) override;
  sonarelle::MMRESULT PrepareHeader(sonarelle::WaveInHandle handle,
                                    const sonarelle::WaveInBuffer& buffer) override;
  sonarelle::MMRESULT UnprepareHeader(sonarelle::WaveInHandle handle,
                                      const sonarelle::WaveInBuffer& buffer) override;
  sonarelle::MMRESULT AddBuffer(sonarelle::WaveInHandle handle,
                                const sonarelle::WaveInBuffer& buffer) override;
  sonarelle::MMRESULT Start(sonarelle::WaveInHandle handle) override;
  sonarelle::MMRESULT Stop(sonarelle::WaveInHandle handle) override;
  sonarelle::MMRESULT Reset(sonarelle::WaveInHandle handle) override;
  std::uint32_t HeldBytes(sonarelle::WaveInHandle handle) override;
  bool TakeInputChange(sonarelle::WaveInHandle handle,
                       sonarelle::WaveInInputChange& change) override {
    return real_.TakeInputChange(handle, change);
  }

 private:
  // The failure code for this call of `op`, or 0.
  sonarelle::MMRESULT Check(Op op);

  sonarelle::WaveInDriver& real_;
  std::map<Op, std::pair<sonarelle::MMRESULT, int>> failures_;
  std::map<Op, int> calls_;
  int deviceCount_ = -1;
  sonarelle::WaveInHandle lastHandle_ = 0;
  bool dropOpen_ = false;
  bool keepOnReset_ = false;
  bool keepOnStop_ = false;
  std::atomic<bool> keeping_{false};  // read on the driver's thread
};

// A wave-in device on any driver table.
class TTestWaveIn : public sonarelle::TMMCustomWaveIn {
 public:
  explicit TTestWaveIn(sonarelle::WaveInDriver& driver) : TMMCustomWaveIn(driver) {}
};
