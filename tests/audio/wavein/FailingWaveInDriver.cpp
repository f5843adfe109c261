#include "FailingWaveInDriver.h"

using namespace sonarelle;

MMRESULT FailingWaveInDriver::Check(Op op) {
  const int call = calls_[op]++;
  auto found = failures_.find(op);
  if (found == failures_.end() || call < found->second.second) {
    return MMSYSERR_NOERROR;
  }
  return found->second.first;
}

int FailingWaveInDriver::Calls(Op op) const {
  auto found = calls_.find(op);
  return found != calls_.end() ? found->second : 0;
}

int FailingWaveInDriver::GetNumDevs() {
  const int real = real_.GetNumDevs();
  return deviceCount_ >= 0 ? deviceCount_ : real;
}

MMRESULT FailingWaveInDriver::GetDevCaps(int deviceId, WaveInCaps& caps) {
  if (MMRESULT code = Check(Op::Caps)) {
    return code;
  }
  return real_.GetDevCaps(deviceId, caps);
}

QString FailingWaveInDriver::GetErrorText(MMRESULT code) {
  return real_.GetErrorText(code);
}

MMRESULT FailingWaveInDriver::Open(WaveInHandle* handle, int deviceId, const WaveInFormat& format,
                                   const WaveInNotify& notify, bool query) {
  if (MMRESULT code = Check(query ? Op::Query : Op::Open)) {
    return code;
  }
  if (query) {
    return real_.Open(handle, deviceId, format, notify, true);
  }
  WaveInNotify filtered = [this, notify](unsigned msg, WaveInHandle h, void* buffer,
                                         MMRESULT code) {
    if ((msg == MM_WIM_OPEN && dropOpen_) || (msg == MM_WIM_DATA && keeping_)) {
      return;
    }
    notify(msg, h, buffer, code);
  };
  keeping_ = false;
  const MMRESULT result = real_.Open(handle, deviceId, format, filtered, false);
  if (result == MMSYSERR_NOERROR) {
    lastHandle_ = *handle;
  }
  return result;
}

MMRESULT FailingWaveInDriver::Close(WaveInHandle handle) {
  if (MMRESULT code = Check(Op::Close)) {
    return code;
  }
  return real_.Close(handle);
}

MMRESULT FailingWaveInDriver::PrepareHeader(WaveInHandle handle, const WaveInBuffer& buffer) {
  if (MMRESULT code = Check(Op::Prepare)) {
    return code;
  }
  return real_.PrepareHeader(handle, buffer);
}

MMRESULT FailingWaveInDriver::UnprepareHeader(WaveInHandle handle, const WaveInBuffer& buffer) {
  if (MMRESULT code = Check(Op::Unprepare)) {
    return code;
  }
  return real_.UnprepareHeader(handle, buffer);
}

MMRESULT FailingWaveInDriver::AddBuffer(WaveInHandle handle, const WaveInBuffer& buffer) {
  if (MMRESULT code = Check(Op::Add)) {
    return code;
  }
  return real_.AddBuffer(handle, buffer);
}

MMRESULT FailingWaveInDriver::Start(WaveInHandle handle) {
  if (MMRESULT code = Check(Op::Start)) {
    return code;
  }
  return real_.Start(handle);
}

MMRESULT FailingWaveInDriver::Stop(WaveInHandle handle) {
  if (MMRESULT code = Check(Op::Stop)) {
    return code;
  }
  keeping_ = keeping_.load() || keepOnStop_;
  return real_.Stop(handle);
}

MMRESULT FailingWaveInDriver::Reset(WaveInHandle handle) {
  if (MMRESULT code = Check(Op::Reset)) {
    return code;
  }
  keeping_ = keeping_.load() || keepOnReset_;
  return real_.Reset(handle);
}

std::uint32_t FailingWaveInDriver::HeldBytes(WaveInHandle handle) {
  return real_.HeldBytes(handle);
}
