#pragma once

#include <cstdint>
#include <memory>

#include <QString>

#include "audio/chain/MMDSPComponent.h"
#include "audio/wavefile/MMWaveFile.h"
#include "audio/wavein/MMWaveIn.h"

namespace sonarelle {

// Records the sound card input into a WAVE file and passes every recorded buffer on to its
// Output: inner wave-in -> inner wave file -> recorder -> Output. A take, on the main thread:
//   recorder.SetSampleRate(44100); recorder.SetBitLength(b16Bit); recorder.SetMode(mStereo);
//   recorder.SetNumBuffers(n); recorder.SetBufferSize(bytes);
//   recorder.SetFileName(tempWav); recorder.Open(); recorder.StartRecording();
//   ... recorder.StopRecording(); recorder.Close();   // the file is final after the stop
// OnStop also fires when the device stops by itself (limit reached, full disk, lost
// source); OnError fires before any error is raised.
class TMMWaveRecorder : public TMMDSPComponent {
 public:
  // On the system's sound server.
  TMMWaveRecorder();
  // On another device, for a different wave-in service.
  explicit TMMWaveRecorder(std::unique_ptr<TMMCustomWaveIn> waveIn);
  // Stops recording first, which finalises the file.
  ~TMMWaveRecorder() override;
  TMMWaveRecorder(const TMMWaveRecorder&) = delete;
  TMMWaveRecorder& operator=(const TMMWaveRecorder&) = delete;

  TMMWave& Wave() { return waveFile_->Wave(); }
  void SetWave(const TMMWave& value) { waveFile_->SetWave(value); }
  QString FileName() const { return waveFile_->Wave().FileName(); }
  // While recording this stops the take first; its file is finalised.
  void SetFileName(const QString& value);

  void SetBufferSize(std::int32_t value) override;
  int NumBuffers() const { return waveIn_->NumBuffers(); }
  void SetNumBuffers(int value) { waveIn_->SetNumBuffers(value); }
  int DeviceID() const { return waveIn_->DeviceID(); }
  void SetDeviceID(int value) { waveIn_->SetDeviceID(value); }
  // The recording device's name, for display.
  QString ProductName() const { return waveIn_->ProductName(); }
  TMMTimeFormats TimeFormat() const { return waveIn_->TimeFormat(); }
  void SetTimeFormat(TMMTimeFormats value);
  TMMCBMode CallBackMode() const { return waveIn_->CallBackMode(); }
  void SetCallBackMode(TMMCBMode value) { waveIn_->SetCallBackMode(value); }
  std::int64_t MaxRecordTime() const { return waveIn_->MaxRecordTime(); }
  void SetMaxRecordTime(std::int64_t value) { waveIn_->SetMaxRecordTime(value); }
  TMMMode Mode() const { return waveIn_->Mode(); }
  void SetMode(TMMMode value) { waveIn_->SetMode(value); }
  TMMBitLength BitLength() const { return waveIn_->BitLength(); }
  void SetBitLength(TMMBitLength value) { waveIn_->SetBitLength(value); }
  int SampleRate() const { return waveIn_->SampleRate(); }
  void SetSampleRate(int value) { waveIn_->SetSampleRate(value); }
  bool OverwriteExisting() const { return waveFile_->OverwriteExisting(); }
  void SetOverwriteExisting(bool value) { waveFile_->SetOverwriteExisting(value); }

  // The device's format for display, e.g. "PCM 44.100 kHz, 16 Bit, Stereo"; "Unknown"
  // without one.
  QString InputFormat() const;
  // Read-only: only tells the user so.
  void SetInputFormat(const QString& value);

  // Does nothing while recording or without a file name.
  void StartRecording();
  void StopRecording();
  bool Recording() const { return (waveIn_->State() & TMMCustomWaveIn::wsStarted) != 0; }

  void SetFormat(const WAVEFORMATEX* format) override;
  bool ExposesInput() const override { return false; }

  TMMCustomWaveIn& WaveIn() { return *waveIn_; }
  TMMWaveFile& WaveFile() { return *waveFile_; }

  TNotifyEvent OnStart;
  TNotifyEvent OnStop;
  TNotifyEvent OnPause;
  TNotifyEvent OnRestart;
  TNotifyEvent OnChange;
  TNotifyEvent OnError;
  // The device records from another input since a moment of the take.
  TInputChangeEvent OnInputChange;
  // Each recorded buffer, on the thread the device's callback mode gives.
  TMMBufferEvent OnData;

 private:
  void Hook();

  std::unique_ptr<TMMWaveFile> waveFile_;
  std::unique_ptr<TMMCustomWaveIn> waveIn_;
  bool formatLock_ = false;
};

}  // namespace sonarelle
