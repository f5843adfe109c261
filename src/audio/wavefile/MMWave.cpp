#include "audio/wavefile/MMWave.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace sonarelle {

namespace {

struct FormatTagName {
  int tag;
  const char* name;
};

// The registered format tags; the first match wins.
constexpr std::array<FormatTagName, 38> kFormatTags = {{
    {0x0001, "PCM"},
    {0x0002, "Microsoft ADPCM"},
    {0x0003, "IEEE Float"},
    {0x0006, "CCITT A-Law"},
    {0x0007, "CCITT u-Law"},
    {0x0010, "OKI ADPCM"},
    {0x0011, "IMA ADPCM"},
    {0x0012, "MediaSpace ADPCM"},
    {0x0013, "Sierra ADPCM"},
    {0x0014, "G.723 ADPCM"},
    {0x0015, "DSP Solutions DIGISTD"},
    {0x0016, "DSP Solutions DIGIFIX"},
    {0x0017, "Dialogic OKI ADPCM"},
    {0x0020, "Yamaha ADPCM"},
    {0x0021, "Speech Compression SONARC"},
    {0x0022, "DSP Group TrueSpeech"},
    {0x0023, "Echo Speech SC1"},
    {0x0024, "Audiofile AF36"},
    {0x0025, "Audio Processing Technology"},
    {0x0026, "Audiofile AF10"},
    {0x0030, "Dolby AC2"},
    {0x0031, "GSM 6.10"},
    {0x0032, "MSN Audio"},
    {0x0033, "Antex ADPCME"},
    {0x0034, "Control Resources VQLPC"},
    {0x0035, "DSP Solutions DIGIREAL"},
    {0x0036, "DSP Solutions DIGIADPCM"},
    {0x0037, "Control Resources CR10"},
    {0x0038, "Natural MicroSystems VBXADPCM"},
    {0x0040, "G.721 ADPCM"},
    {0x0041, "G.728 CELP"},
    {0x0050, "MPEG"},
    {0x0055, "MPEG Layer-3"},
    {0x0200, "Creative ADPCM"},
    {0x0202, "Creative FastSpeech8"},
    {0x0203, "Creative FastSpeech10"},
    {0x0300, "Fujitsu FM Towns Snd"},
    {0x1000, "Olivetti GSM"},
}};

// Size of the file on disk, -1 when there is none.
std::int64_t SizeOnDisk(const QString& name) {
  const QFileInfo info(name);
  return info.exists() && info.isFile() ? info.size() : -1;
}

}  // namespace

TMMWave::TMMWave() = default;

TMMWave::~TMMWave() {
  if (block_) {
    FinaliseWaveFile(*block_);
  }
  ReleaseWaveFile(block_);
  regions_.Clear();
  observable_.DetachAll();
}

void TMMWave::Assign(const TMMWave& other) {
  if (&other == this) {
    return;
  }
  SetFileMustExist(other.fileMustExist_);
  SetTimeFormat(other.timeFormat_);
  SetIOBufferSize(other.ioBufferSize_);
  SetFileName(other.fileName_);
}

void TMMWave::DoChanged() {
  observable_.NotifyObservers(this);
}

QString TMMWave::ExpandName(const QString& name) {
  if (name.isEmpty()) {
    return name;
  }
  return QDir::cleanPath(QFileInfo(name).absoluteFilePath());
}

void TMMWave::DropBlock() {
  if (block_) {
    FinaliseWaveFile(*block_);
  }
  ReleaseWaveFile(block_);
  opened_ = false;
}

void TMMWave::TakeBlock(WaveIOPtr block) {
  DropBlock();
  block_ = std::move(block);
  startSample_ = block_->firstSample;
  endSample_ = block_->endSample;
  position_ = block_->currentSample;
  bytesRemaining_ = block_->bytesLeft;
}

void TMMWave::SetFileName(const QString& value) {
  const QString name = ExpandName(value);
  if (name == fileName_ && SizeOnDisk(name) == FileSize()) {
    return;
  }
  if (name.isEmpty()) {
    if (!fileName_.isEmpty() || block_) {
      DropBlock();
      fileName_.clear();
      startSample_ = endSample_ = position_ = bytesRemaining_ = totalBytes_ = 0;
      RebuildRegions();
      Changed();
    }
    return;
  }
  const bool exists = SizeOnDisk(name) >= 0;
  WaveIOPtr block;
  int result = exists ? OpenWaveFile(name, block) : kWaveIOCannotOpen;
  if (exists && result == kWaveIOOk) {
    block->ioBufferSize = ioBufferSize_;
    TakeBlock(std::move(block));
    fileName_ = name;
    RebuildRegions();
    Changed();
    return;
  }
  if (exists || fileMustExist_) {
    // A second attempt tells a passing read failure from a file that is not WAVE.
    if (exists && result != kWaveIOCannotOpen) {
      result = OpenWaveFile(name, block);
    }
    if (!exists || result == kWaveIOOk || result == kWaveIOCannotOpen) {
      throw EMMWaveError(kErrorReadingWaveFile);
    }
    throw EMMWaveError(kInvalidWaveFile);
  }
  DropBlock();
  fileName_ = name;
  startSample_ = endSample_ = position_ = bytesRemaining_ = totalBytes_ = 0;
  RebuildRegions();
  Changed();
}

void TMMWave::SetTimeFormat(TMMTimeFormats value) {
  if (value == timeFormat_) {
    return;
  }
  timeFormat_ = value;
  RebuildRegions();
}

void TMMWave::SetIOBufferSize(int value) {
  value = std::max(value, kMinIOBufferSize);
  if (value == ioBufferSize_) {
    return;
  }
  ioBufferSize_ = value;
  if (block_ && SetIOBuffer(*block_, value) != kWaveIOOk) {
    throw EMMWaveError(kUnableToSetupIOBuffer);
  }
}

std::int64_t TMMWave::FileSize() const {
  return block_ ? block_->fileSize : 0;
}

std::int64_t TMMWave::DataSize() const {
  return block_ ? SamplesToTime(block_->samples) : 0;
}

int TMMWave::FormatTag() const {
  const WAVEFORMATEX* format = GetFormat();
  return format != nullptr ? format->wFormatTag : 0;
}

int TMMWave::BitLength() const {
  const WAVEFORMATEX* format = GetFormat();
  return format != nullptr ? format->wBitsPerSample : 0;
}

TMMMode TMMWave::Mode() const {
  const WAVEFORMATEX* format = GetFormat();
  return format != nullptr && format->nChannels == 2 ? mStereo : mMono;
}

int TMMWave::SampleRate() const {
  const WAVEFORMATEX* format = GetFormat();
  return format != nullptr ? static_cast<int>(format->nSamplesPerSec) : 11025;
}

QString TMMWave::FormatTagName(int tag) {
  for (const auto& entry : kFormatTags) {
    if (entry.tag == tag) {
      return QString::fromLatin1(entry.name);
    }
  }
  return QStringLiteral("Unknown");
}

QString TMMWave::FormatString() const {
  return FormatTagName(FormatTag());
}

std::int64_t TMMWave::Position() const {
  return block_ ? SamplesToTime(position_) : -1;
}

const WAVEFORMATEX* TMMWave::GetFormat() const {
  return block_ ? block_->Format() : nullptr;
}

std::int64_t TMMWave::ReadBytes(void* buffer, std::int64_t count) {
  return block_ ? sonarelle::ReadBytes(*block_, buffer, count) : 0;
}

std::int64_t TMMWave::SamplesToBytes(std::int64_t samples) const {
  return sonarelle::SamplesToBytes(GetFormat(), samples);
}

std::int64_t TMMWave::BytesToSamples(std::int64_t bytes) const {
  return sonarelle::BytesToSamples(GetFormat(), bytes);
}

std::int64_t TMMWave::SamplesToTime(std::int64_t samples) const {
  switch (timeFormat_) {
    case tfMillisecond:
      return SamplesToMs(GetFormat(), samples);
    case tfByte:
      return SamplesToBytes(samples);
    case tfSample:
      break;
  }
  return samples;
}

std::int64_t TMMWave::TimeToSamples(std::int64_t time) const {
  switch (timeFormat_) {
    case tfMillisecond:
      return MsToSamples(GetFormat(), time);
    case tfByte:
      return BytesToSamples(time);
    case tfSample:
      break;
  }
  return time;
}

void TMMWave::RebuildRegions() {
  regions_.Clear();
  currentRegion_ = 0;
  if (GetFormat() == nullptr) {
    return;
  }
  TMMCutRegion region;
  region.startSample = startSample_;
  region.startByte = SamplesToBytes(startSample_);
  region.lengthSamples = std::max<std::int64_t>(0, endSample_ - startSample_);
  region.lengthBytes = SamplesToBytes(region.lengthSamples);
  regions_.Add(region);
}

void TMMWave::OpenFile() {
  if (!block_) {
    return;
  }
  if (ReopenWaveFile(*block_) != kWaveIOOk) {
    throw EMMWaveError(kUnableToOpenWaveFile);
  }
  if (SetIOBuffer(*block_, ioBufferSize_) != kWaveIOOk) {
    throw EMMWaveError(kUnableToSetupIOBuffer);
  }
  RebuildRegions();
  opened_ = true;
  SetPosition(Position());
}

void TMMWave::CloseFile() {
  if (block_) {
    FinaliseWaveFile(*block_);
  }
  opened_ = false;
  position_ = 0;
  bytesRemaining_ = 0;
}

void TMMWave::SetPosition(std::int64_t position) {
  if (!block_) {
    return;
  }
  position_ = TimeToSamples(position);
  if (!opened_) {
    return;
  }
  const std::int64_t total = regions_.TotalSamples();
  const std::int64_t target = std::clamp<std::int64_t>(position_, 0, total);
  position_ = target;
  totalBytes_ = SamplesToBytes(total);
  bytesRemaining_ = totalBytes_ - SamplesToBytes(target);
  std::int64_t sum = 0;
  for (int i = 0; i < regions_.Count(); ++i) {
    const TMMCutRegion& region = regions_.Item(i);
    sum += region.lengthSamples;
    if (sum < target) {
      continue;
    }
    const std::int64_t fileSample = region.startSample + region.lengthSamples + target - sum;
    if (SeekSamples(*block_, fileSample) != kWaveIOOk &&
        SeekSamples(*block_, fileSample) != kWaveIOOk) {
      throw EMMWaveError(kErrorSeekingFilePosition);
    }
    regionBytesLeft_ = SamplesToBytes(sum - target);
    currentRegion_ = i;
    return;
  }
  throw EMMWaveError(kErrorSeekingFilePosition);
}

void TMMWave::CreateFile(const QString& name, const WAVEFORMATEX* format) {
  if (name.isEmpty() || format == nullptr) {
    return;
  }
  const QString expanded = ExpandName(name);
  const QFileInfo info(expanded);
  WaveIOPtr block;
  // The folder must be there; the file itself is replaced.
  const bool validPath = !expanded.contains(QChar(0)) && info.dir().exists() && !info.isDir();
  if (validPath) {
    // Replaced in place where it can be, so that a lock its owner holds on it stays valid;
    // a file that cannot be opened for writing is deleted first.
    int result = CreateWaveFile(expanded, format, block);
    if (result == kWaveIOCannotOpen && info.exists()) {
      QFile::remove(expanded);
      result = CreateWaveFile(expanded, format, block);
    }
    if (result == kWaveIOOk) {
      TakeBlock(std::move(block));
      fileName_ = expanded;
      RebuildRegions();
      Changed();
      if (SetIOBuffer(*block_, ioBufferSize_) != kWaveIOOk) {
        throw EMMWaveError(kUnableToSetupIOBuffer);
      }
      return;
    }
  }
  if (block) {
    FinaliseWaveFile(*block);
  }
  ReleaseWaveFile(block);
  throw EMMWaveError(kUnableToCreateWaveFile);
}

std::int64_t TMMWave::ReadData(void* buffer, std::int64_t count) {
  if (!block_ || bytesRemaining_ <= 0 || count <= 0) {
    return -1;
  }
  auto* out = static_cast<char*>(buffer);
  const std::int64_t wanted = std::min(count, bytesRemaining_);
  std::int64_t read = 0;
  while (read < wanted) {
    if (regionBytesLeft_ > 0) {
      const std::int64_t n =
          sonarelle::ReadBytes(*block_, out + read, std::min(wanted - read, regionBytesLeft_));
      if (n <= 0) {
        break;
      }
      read += n;
      regionBytesLeft_ -= n;
      continue;
    }
    if (currentRegion_ + 1 >= regions_.Count()) {
      bytesRemaining_ = 0;
      break;
    }
    ++currentRegion_;
    const TMMCutRegion& region = regions_.Item(currentRegion_);
    regionBytesLeft_ = region.lengthBytes;
    if (SeekSamples(*block_, region.startSample) != kWaveIOOk) {
      break;
    }
  }
  if (read == 0) {
    // The file ended before its data did: hand out a little silence and stop.
    const std::int64_t silence = std::min<std::int64_t>(4, count);
    std::memset(buffer, 0, static_cast<size_t>(silence));
    bytesRemaining_ = 0;
    regionBytesLeft_ = 0;
    position_ = regions_.TotalSamples();
    return silence;
  }
  bytesRemaining_ = std::max<std::int64_t>(0, bytesRemaining_ - read);
  position_ = BytesToSamples(totalBytes_ - bytesRemaining_);
  return read;
}

std::int64_t TMMWave::WriteData(const void* buffer, std::int64_t count) {
  if (!block_) {
    return -1;
  }
  const std::int64_t written = WriteBytes(*block_, buffer, count);
  endSample_ = block_->endSample;
  RebuildRegions();
  return written;
}

bool TMMWave::UpdateHeader() {
  return block_ && UpdateWaveHeader(*block_) == kWaveIOOk;
}

}  // namespace sonarelle
