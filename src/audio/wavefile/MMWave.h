#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include <QString>

#include "audio/chain/SampleMode.h"
#include "audio/chain/WaveFormat.h"
#include "audio/wavefile/MMCutList.h"
#include "audio/wavefile/MMObject.h"
#include "audio/wavefile/WaveIO.h"
#include "platform/Exception.h"

namespace sonarelle {

// Raised by TMMWave with one of the texts below.
class EMMWaveError : public Exception {
 public:
  using Exception::Exception;
  explicit EMMWaveError(const char* message) : Exception(std::string(message)) {}
};

inline constexpr const char* kErrorReadingWaveFile = "Error reading wave file";
inline constexpr const char* kInvalidWaveFile = "Invalid wave file...";
inline constexpr const char* kUnableToCreateWaveFile = "Unable to create wave file";
inline constexpr const char* kUnableToOpenWaveFile = "Unable to open wave file";
inline constexpr const char* kUnableToSetupIOBuffer = "Unable to setup file IO buffer";
inline constexpr const char* kErrorSeekingFilePosition = "Error seeking file position";

// Unit of DataSize and of positions.
enum TMMTimeFormats { tfMillisecond, tfByte, tfSample };

// A WAVE file by name, read or written through a buffer, with positions in a chosen unit
// and observers told of every change of file. Reading runs through the play regions, which
// here always span the whole data. No lock: one chain drives a wave at a time, on the
// thread its owner chooses.
class TMMWave : public TMMObject {
 public:
  static constexpr int kDefaultIOBufferSize = 32768;
  static constexpr int kMinIOBufferSize = 8192;

  TMMWave();
  ~TMMWave() override;

  // Copies the settings and then the file name (which opens the file) of `other`.
  void Assign(const TMMWave& other);

  // Setting a name opens an existing WAVE file, remembers a new one (unless FileMustExist)
  // or, when empty, clears the wave. Raises EMMWaveError and keeps the old file on failure.
  QString FileName() const { return fileName_; }
  virtual void SetFileName(const QString& value);
  bool FileMustExist() const { return fileMustExist_; }
  void SetFileMustExist(bool value) { fileMustExist_ = value; }
  TMMTimeFormats TimeFormat() const { return timeFormat_; }
  void SetTimeFormat(TMMTimeFormats value);
  // Bytes of the file buffer, at least kMinIOBufferSize; applied to an open file at once.
  int IOBufferSize() const { return ioBufferSize_; }
  void SetIOBufferSize(int value);
  // Progress of in-memory loading, which this program does not use.
  std::function<void(TMMWave* sender, std::int64_t curByte, std::int64_t numBytes, bool& cancel)>
      OnProgress;

  std::int64_t FileSize() const;
  // Samples of data in TimeFormat units, 0 without a file.
  std::int64_t DataSize() const;
  int FormatTag() const;
  int BitLength() const;
  TMMMode Mode() const;
  int SampleRate() const;
  // Name of the format tag, "Unknown" when it is not a registered one.
  QString FormatString() const;
  static QString FormatTagName(int tag);
  // In TimeFormat units; -1 without a file. May be read from another thread while one
  // thread reads the file.
  std::int64_t Position() const;
  // Whether the wave holds any audio bytes.
  bool HasData() const { return block_ != nullptr && block_->dataSize > 0; }
  bool Opened() const { return opened_; }
  // Bytes still to be read from the position to the end of the play regions.
  std::int64_t BytesRemaining() const { return bytesRemaining_; }
  const TMMCutList& Regions() const { return regions_; }
  TMMObservable& Observable() { return observable_; }

  virtual std::int64_t ReadBytes(void* buffer, std::int64_t count);
  // The file's format, or none.
  virtual const WAVEFORMATEX* GetFormat() const;
  // Moves to a position in TimeFormat units; raises "Error seeking file position".
  virtual void SetPosition(std::int64_t position);
  virtual std::int64_t SamplesToBytes(std::int64_t samples) const;
  virtual std::int64_t BytesToSamples(std::int64_t bytes) const;
  virtual std::int64_t SamplesToTime(std::int64_t samples) const;
  virtual std::int64_t TimeToSamples(std::int64_t time) const;
  // Runs before a reader starts a sequence of reads; nothing here.
  virtual void BeforeRead() {}
  // Runs when a reader wraps to the start; nothing here.
  virtual void Wrapped() {}
  // Opens the parsed file for reading or appending at the current position.
  virtual void OpenFile();
  // Fixes the header of a written file and closes it.
  virtual void CloseFile();

  // Creates (replacing) a file of `format` for writing; raises EMMWaveError on failure.
  void CreateFile(const QString& name, const WAVEFORMATEX* format);
  // Bytes read into `buffer`, -1 when nothing remains; see the source for the end case.
  std::int64_t ReadData(void* buffer, std::int64_t count);
  // Bytes written at the position, -1 without a file.
  std::int64_t WriteData(const void* buffer, std::int64_t count);
  // Brings the header of a file being written up to date with the data written so far;
  // false when that failed.
  bool UpdateHeader();

 protected:
  void DoChanged() override;

 private:
  void RebuildRegions();
  void TakeBlock(WaveIOPtr block);
  void DropBlock();
  static QString ExpandName(const QString& name);

  WaveIOPtr block_;
  QString fileName_;
  bool fileMustExist_ = true;
  TMMTimeFormats timeFormat_ = tfSample;
  int ioBufferSize_ = kDefaultIOBufferSize;

  std::int64_t startSample_ = 0;  // the data range
  std::int64_t endSample_ = 0;
  // In samples. Atomic: a progress display reads it while a worker reads the file.
  std::atomic<std::int64_t> position_{0};
  std::int64_t bytesRemaining_ = 0;
  std::int64_t totalBytes_ = 0;  // of all regions
  TMMCutList regions_;
  int currentRegion_ = 0;
  std::int64_t regionBytesLeft_ = 0;
  bool opened_ = false;
  TMMObservable observable_;
};

}  // namespace sonarelle
