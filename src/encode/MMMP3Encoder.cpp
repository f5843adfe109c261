#include "encode/MMMP3Encoder.h"

#include <cstring>

#include <QFileInfo>

#include "audio/chain/DiskSpace.h"
#include "audio/wavefile/MMWave.h"
#include "platform/Exception.h"

namespace sonarelle {

namespace {

// Room kept free on the disk beyond the bytes of each write.
constexpr std::int64_t kDiskReserve = 10240;
constexpr std::uint16_t kFormatMpegLayer3 = 0x55;
constexpr std::uint16_t kMpegLayer3ExtraBytes = 12;

std::int32_t Flag(bool value) {
  return value ? -1 : 0;
}

// The WAVE format record of an ftWAV output: MPEG layer 3 at the input's rate and
// channels, with the usual 12-byte extension.
FormatPtr MpegLayer3Format(const WAVEFORMATEX& input, int kbps) {
  FormatPtr format = AllocFormat(sizeof(WAVEFORMATEX) + kMpegLayer3ExtraBytes);
  format->wFormatTag = kFormatMpegLayer3;
  format->nChannels = input.nChannels;
  format->nSamplesPerSec = input.nSamplesPerSec;
  format->nAvgBytesPerSec = static_cast<std::uint32_t>(kbps) * 125;
  format->nBlockAlign = 1;
  format->wBitsPerSample = 0;
  format->cbSize = kMpegLayer3ExtraBytes;
  const std::uint16_t id = 1;     // MPEG
  const std::uint32_t flags = 2;  // no padding
  const auto blockSize = static_cast<std::uint16_t>(
      144 * 1000 * kbps / static_cast<int>(std::max<std::uint32_t>(input.nSamplesPerSec, 1)));
  const std::uint16_t framesPerBlock = 1;
  const std::uint16_t codecDelay = 1393;
  auto* extra = reinterpret_cast<std::uint8_t*>(format.get()) + sizeof(WAVEFORMATEX);
  std::memcpy(extra, &id, 2);
  std::memcpy(extra + 2, &flags, 4);
  std::memcpy(extra + 6, &blockSize, 2);
  std::memcpy(extra + 8, &framesPerBlock, 2);
  std::memcpy(extra + 10, &codecDelay, 2);
  return format;
}

}  // namespace

int BitrateKbps(TMMMP3Bitrate value) {
  static constexpr int kKbps[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  return kKbps[static_cast<int>(value)];
}

TMMMP3Encoder::TMMMP3Encoder() = default;

TMMMP3Encoder::~TMMMP3Encoder() {
  try {
    Close();
  } catch (...) {
    Release();
  }
}

void TMMMP3Encoder::SetFileName(const QString& value) {
  if (opened_) throw Exception(std::string(kChangeWhileDeviceOpen));
  fileName_ = value;
  outputCreated_ = false;
}

bool TMMMP3Encoder::DiscardOutput(const QString& name) {
  if (!outputCreated_ || name != fileName_) return false;
  outputCreated_ = false;
  return QFile::remove(name);
}

void TMMMP3Encoder::SetFileType(TMMMP3FileType value) {
  if (opened_) throw Exception(std::string(kChangeWhileDeviceOpen));
  fileType_ = value;
}

void TMMMP3Encoder::Open() {
  TMMDSPComponent::Open();
  const WAVEFORMATEX* format = GetFormat();
  if (opened_ || format == nullptr || Input() == nullptr || fileName_.isEmpty()) return;
  writeError_.clear();
  outputCreated_ = false;

  if (!LoadMp3EncoderLibrary()) {
    throw Exception(std::string(kMp3LibraryMissing) + kMp3EncoderDownloadLocation);
  }
  const std::uint32_t rate = format->nSamplesPerSec;
  // The format is checked before the target is touched, so a refused take leaves no file.
  if (format->wFormatTag != WAVE_FORMAT_PCM || format->wBitsPerSample != 16 ||
      (rate != 48000 && rate != 44100 && rate != 32000) ||
      (format->nChannels != 1 && format->nChannels != 2)) {
    throw Exception(std::string(kUnsupportedInputFormat));
  }

  config_ = BE_CONFIG{};
  config_.dwConfig = BE_CONFIG_MP3;
  config_.dwSampleRate = rate;
  if (format->nChannels == 1) {
    config_.byMode = BE_MP3_MODE_MONO;
  } else {
    config_.byMode = channelMode_ == cmDualChannel ? BE_MP3_MODE_DUALCHANNEL : BE_MP3_MODE_STEREO;
  }
  config_.wBitrate = static_cast<std::uint16_t>(BitrateKbps(bitrate_));
  config_.bPrivate = Flag(private_);
  config_.bCRC = Flag(crc_);
  config_.bCopyright = Flag(copyright_);
  config_.bOriginal = Flag(original_);

  CreateOutput(*format);

  std::uint32_t bufferSize = 0;
  if (beInitStream(config_, chunkSamples_, bufferSize, stream_) != BE_ERR_SUCCESSFUL) {
    // An empty file left behind would pass for a finished conversion.
    Release();
    QFile::remove(fileName_);
    throw Exception(std::string(kUnableToInitializeStream));
  }
  chunkBytes_ = chunkSamples_ * 2;
  output_.assign(bufferSize, 0);
  chunk_.assign(chunkBytes_, 0);
  accumulated_ = 0;
  opened_ = true;
}

void TMMMP3Encoder::CreateOutput(const WAVEFORMATEX& input) {
  if (QFileInfo::exists(fileName_)) QFile::remove(fileName_);
  if (fileType_ == ftRAW) {
    file_.setFileName(fileName_);
    // Unbuffered, so that a failing write shows at once and not at the close.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
      throw Exception(std::string(kUnableToCreateFile));
    }
    outputCreated_ = true;
    return;
  }
  auto wave = std::make_unique<TMMWave>();
  wave->SetFileMustExist(false);
  const FormatPtr format = MpegLayer3Format(input, BitrateKbps(bitrate_));
  try {
    wave->CreateFile(fileName_, format.get());
  } catch (const Exception&) {
    throw Exception(std::string(kUnableToCreateFile));
  }
  wave_ = std::move(wave);
  outputCreated_ = true;
}

void TMMMP3Encoder::Start() {
  TMMDSPComponent::Start();
  if (opened_ && !started_) {
    started_ = true;
    accumulated_ = 0;
  }
}

void TMMMP3Encoder::BufferReady(PWaveHdr lpWaveHdr) {
  if (started_ && Input() != nullptr && !fileName_.isEmpty() && lpWaveHdr->dwBytesRecorded > 0) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(lpWaveHdr->lpData);
    std::uint32_t left = lpWaveHdr->dwBytesRecorded;
    std::uint32_t at = 0;
    if (accumulated_ > 0) {
      const std::uint32_t take = std::min(chunkBytes_ - accumulated_, left);
      std::memcpy(chunk_.data() + accumulated_, data, take);
      accumulated_ += take;
      at += take;
      left -= take;
      if (accumulated_ == chunkBytes_) {
        if (!EncodeAndWrite(chunk_.data(), chunkSamples_)) return;
        accumulated_ = 0;
      }
    }
    // Whole chunks go to the library straight from the buffer.
    while (left >= chunkBytes_) {
      if (!EncodeAndWrite(data + at, chunkSamples_)) return;
      at += chunkBytes_;
      left -= chunkBytes_;
    }
    if (left > 0) {
      std::memcpy(chunk_.data(), data + at, left);
      accumulated_ = left;
    }
  }
  TMMDSPComponent::BufferReady(lpWaveHdr);
}

void TMMMP3Encoder::Stop() {
  if (opened_ && started_) {
    started_ = false;
    if (accumulated_ > 0) {
      const std::uint32_t samples = accumulated_ / 2;
      accumulated_ = 0;
      if (!EncodeAndWrite(chunk_.data(), samples)) return;
    }
    std::uint32_t bytes = 0;
    if (beDeinitStream(stream_.get(), output_.data(), bytes) != BE_ERR_SUCCESSFUL) {
      throw Exception(std::string(kUnableToDeinitializeStream));
    }
    if (bytes > 0 && !WriteOutput(bytes)) return;
  }
  TMMDSPComponent::Stop();
}

void TMMMP3Encoder::Close() {
  if (opened_) {
    try {
      Stop();
    } catch (...) {
      // The file and the stream must not outlive a failed flush.
      Release();
      TMMDSPComponent::Close();
      throw;
    }
    Release();
  }
  TMMDSPComponent::Close();
}

void TMMMP3Encoder::Release() {
  if (file_.isOpen()) file_.close();
  if (wave_) {
    wave_->CloseFile();
    wave_.reset();
  }
  if (stream_) beCloseStream(stream_);
  output_ = {};
  chunk_ = {};
  accumulated_ = 0;
  started_ = false;
  opened_ = false;
}

bool TMMMP3Encoder::EncodeAndWrite(const std::uint8_t* pcm, std::uint32_t samples) {
  std::uint32_t bytes = 0;
  // The pump's buffers hold whole 16-bit samples, so the data may be read as such.
  const auto* samplesIn = reinterpret_cast<const std::int16_t*>(pcm);
  if (beEncodeChunk(stream_.get(), samples, samplesIn, output_.data(), bytes) !=
      BE_ERR_SUCCESSFUL) {
    throw Exception(std::string(kUnableToEncodeData));
  }
  return bytes == 0 || WriteOutput(bytes);
}

bool TMMMP3Encoder::WriteOutput(std::uint32_t bytes) {
  if (WriteBytes(output_.data(), bytes)) return true;
  // What was written so far stays a playable stream.
  Release();
  TMMDSPComponent::Close();
  return false;
}

bool TMMMP3Encoder::WriteBytes(const std::uint8_t* data, std::int64_t bytes) {
  if (!EnoughDiskSpace(fileName_, bytes + kDiskReserve)) {
    writeError_ = QStringLiteral("There is not enough free space on the disk");
    return false;
  }
  if (fileType_ == ftRAW) {
    if (file_.write(reinterpret_cast<const char*>(data), bytes) == bytes) return true;
    writeError_ = file_.errorString();
    return false;
  }
  if (wave_ && wave_->WriteData(data, bytes) == bytes) return true;
  writeError_ = QStringLiteral("Unable to write the file");
  return false;
}

}  // namespace sonarelle
