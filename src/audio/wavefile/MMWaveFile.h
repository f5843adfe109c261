#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "audio/chain/MMDSPComponent.h"
#include "audio/wavefile/MMObject.h"
#include "audio/wavefile/MMWave.h"

namespace sonarelle {

// A chain component around an owned TMMWave. With an Input it is a writer: it records what
// comes down the chain into the wave's file. Without one it is a reader at the head of a
// chain that fills pulled buffers from the file.
//
// Writer, behind a capture driver:  wavein -> writer -> ...
//   writer.Wave().SetFileMustExist(false); writer.Wave().SetFileName(name);
//   writer.SetInput(&wavein);   // the driver's Open/Start/Close walk reaches the writer
// Reader, in front of a pulling driver:  reader -> pump -> ...
//   reader.Wave().SetFileName(name);  // parses the file and hands its format down
//   reader.SetOutput(&pump);
class TMMCustomWaveFile : public TMMDSPComponent {
 public:
  TMMCustomWaveFile();
  // Closes first, which finalises a written file.
  ~TMMCustomWaveFile() override;

  TMMWave& Wave() { return *wave_; }
  const TMMWave& Wave() const { return *wave_; }
  // Copies the other wave's settings and file into the owned one.
  void SetWave(const TMMWave& value) { wave_->Assign(value); }

  // A disabled writer passes buffers on without writing; a disabled reader gives silence.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value) { enabled_ = value; }
  // A writer replaces an existing file rather than appending to it.
  bool OverwriteExisting() const { return overwriteExisting_; }
  void SetOverwriteExisting(bool value) { overwriteExisting_ = value; }
  // The byte that fills silent buffers: 128 for 8-bit PCM, else 0.
  std::uint8_t SilenceByte() const { return silence_; }
  // How often a writer brings the file's header up to date, in milliseconds (0: only on
  // close), and at least every half of that much audio, so that a file cut off by a crash
  // or a kill still holds what was recorded.
  int HeaderUpdateInterval() const { return headerInterval_; }
  void SetHeaderUpdateInterval(int value) { headerInterval_ = value < 0 ? 0 : value; }
  static constexpr int kDefaultHeaderUpdateInterval = 500;

  // Whether the writer closed itself because the disk refused the audio (full, or the write
  // failed); until the next open.
  bool WriteFailed() const { return writeFailed_; }

  // Fired through RunSynchronized, so on the main thread even when a worker opens or
  // closes the chain. OnClose also tells the owner that a writer closed itself.
  TNotifyEvent OnOpen;
  TNotifyEvent OnClose;
  // Before and after the component follows a change of its wave's file.
  TNotifyEvent OnChange;
  TNotifyEvent OnChanged;
  // A reader wrapped to the start; on the pulling thread.
  TNotifyEvent OnLooping;

  void SetFormat(const WAVEFORMATEX* format) override;
  void Open() override;
  void Close() override;
  void Start() override;
  void Stop() override;
  void Reset() override;
  // Writer: appends the header's bytes to the file, then passes the buffer on. Called on
  // the driver's thread; the header stays the caller's.
  void BufferReady(PWaveHdr lpWaveHdr) override;
  // Reader: fills the header from the file. Writer: lets the Input fill it, then writes it.
  // Called on the pulling driver's thread; the header stays the caller's.
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

 private:
  void WaveChanged();
  // The full-disk rule and the write; closes the writer when either fails.
  void WriteBuffer(PWaveHdr lpWaveHdr);
  bool IsWriting() const;

  std::unique_ptr<TMMWave> wave_;
  TMMObserver observer_;
  bool enabled_ = true;
  bool overwriteExisting_ = true;
  bool fileOpened_ = false;
  bool fileStarted_ = false;
  bool writeFailed_ = false;
  std::int64_t startPosition_ = 0;  // a reader's, in the wave's TimeFormat units
  std::uint8_t silence_ = 128;
  int headerInterval_ = kDefaultHeaderUpdateInterval;
  std::chrono::steady_clock::time_point headerUpdated_;  // a writer's last header update
  std::int64_t bytesSinceHeader_ = 0;                    // written since then
};

// The wave file component as the program's windows hold it.
class TMMWaveFile : public TMMCustomWaveFile {};

}  // namespace sonarelle
