#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <QFile>
#include <QString>

#include "audio/chain/MMDSPComponent.h"
#include "platform/Mp3EncoderLibrary.h"

namespace sonarelle {

class TMMWave;

// The encoder's messages; every one is raised as a plain Exception.
inline constexpr const char* kMp3LibraryMissing =
    "Unable to load MP3 encoder library\n\rYou can download the MP3 encoder library at:\n\r";
inline constexpr const char* kUnsupportedInputFormat = "Unsupported Input Format";
inline constexpr const char* kUnableToCreateFile = "Unable to create file";
inline constexpr const char* kUnableToInitializeStream = "Unable to initialize stream";
inline constexpr const char* kUnableToEncodeData = "Unable to encode data";
inline constexpr const char* kUnableToDeinitializeStream = "Unable to deinitialize stream";
inline constexpr const char* kChangeWhileDeviceOpen = "Change to property while device was open";

// ftRAW writes the bare MP3 stream; ftWAV wraps it in a WAVE file of format tag 0x55.
enum TMMMP3FileType { ftWAV, ftRAW };
enum TMMMP3Bitrate {
  br32,
  br40,
  br48,
  br56,
  br64,
  br80,
  br96,
  br112,
  br128,
  br160,
  br192,
  br224,
  br256,
  br320
};
// For a 2-channel input only: a mono input is always encoded as mono, and cmMono on a
// stereo input encodes stereo.
enum TMMMP3ChannelMode { cmStereo, cmDualChannel, cmMono };

// The kbit/s a Bitrate value stands for.
int BitrateKbps(TMMMP3Bitrate value);

// The tail of a conversion chain (reader -> pump -> encoder): takes 16-bit PCM buffers
// through BufferReady, encodes them in the chunk size the encoder library asks for and
// writes the MP3 stream to FileName. Stop encodes the remainder and the library's final
// frames; a failed write or a full disk closes the file and keeps what was written.
//
// Open and Close run on the main thread, BufferReady on the driver's thread, Stop on the
// main thread after the driver's last cycle. No lock: the driver never overlaps them.
class TMMMP3Encoder : public TMMDSPComponent {
 public:
  TMMMP3Encoder();
  // Closes, which flushes and closes the file; errors of that last flush are dropped.
  ~TMMMP3Encoder() override;

  // Both raise kChangeWhileDeviceOpen while the file is open and then keep the old value.
  QString FileName() const { return fileName_; }
  void SetFileName(const QString& value);
  TMMMP3FileType FileType() const { return fileType_; }
  void SetFileType(TMMMP3FileType value);

  TMMMP3Bitrate Bitrate() const { return bitrate_; }
  void SetBitrate(TMMMP3Bitrate value) { bitrate_ = value; }
  TMMMP3ChannelMode ChannelMode() const { return channelMode_; }
  void SetChannelMode(TMMMP3ChannelMode value) { channelMode_ = value; }
  bool CRC() const { return crc_; }
  void SetCRC(bool value) { crc_ = value; }
  bool Copyright() const { return copyright_; }
  void SetCopyright(bool value) { copyright_ = value; }
  bool Privat() const { return private_; }
  void SetPrivat(bool value) { private_ = value; }
  bool Original() const { return original_; }
  void SetOriginal(bool value) { original_ = value; }

  // Whether the output file is open; false again after a failed write closed it.
  bool EncoderOpened() const { return opened_; }
  // Why a write failed and closed the encoder (a full disk, a write error), or empty.
  // Cleared by the next Open.
  QString WriteError() const { return writeError_; }
  // Deletes `name` when it is the output file this encoder created at its last Open: a
  // conversion that did not finish leaves no partial file. False when it is not.
  bool DiscardOutput(const QString& name);
  // The record handed to the library at the last Open.
  const BE_CONFIG& Config() const { return config_; }

  void Open() override;
  void Close() override;
  void Start() override;
  void Stop() override;
  void BufferReady(PWaveHdr lpWaveHdr) override;

 private:
  // Encodes `samples` 16-bit samples at `pcm` and writes the result; false when the write
  // failed and the encoder closed itself.
  bool EncodeAndWrite(const std::uint8_t* pcm, std::uint32_t samples);
  // Writes the output buffer's first `bytes`; closes the encoder and answers false when
  // the disk is too full or the write falls short.
  bool WriteOutput(std::uint32_t bytes);
  bool WriteBytes(const std::uint8_t* data, std::int64_t bytes);
  void CreateOutput(const WAVEFORMATEX& input);
  // Closes the output and frees the stream and buffers, without a flush.
  void Release();

  QString fileName_;
  TMMMP3FileType fileType_ = ftRAW;
  TMMMP3Bitrate bitrate_ = br128;
  TMMMP3ChannelMode channelMode_ = cmStereo;
  bool crc_ = false;
  bool copyright_ = false;
  bool private_ = false;
  bool original_ = false;

  bool opened_ = false;
  bool started_ = false;
  bool outputCreated_ = false;
  QString writeError_;
  BE_CONFIG config_{};
  QFile file_;                     // ftRAW
  std::unique_ptr<TMMWave> wave_;  // ftWAV
  HBE_STREAM stream_;
  std::uint32_t chunkSamples_ = 0;
  std::uint32_t chunkBytes_ = 0;
  std::vector<std::uint8_t> chunk_;  // one chunk of straddling input
  std::uint32_t accumulated_ = 0;
  std::vector<std::uint8_t> output_;
};

}  // namespace sonarelle
