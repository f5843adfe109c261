#include "audio/wavefile/WaveIO.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <unordered_map>

#include <QFile>

namespace sonarelle {

namespace {

// cbSize is 16 bits, so no format record is longer than this.
constexpr std::int64_t kMaxFormatBytes = 18 + 0xFFFF;
// Text and picture entries beyond this are skipped rather than held in memory.
constexpr std::int64_t kMaxEntryBytes = 1 << 20;
constexpr std::uint32_t kClipboardText = 1;
constexpr std::uint32_t kClipboardBitmap = 2;
constexpr std::uint32_t kClipboardDib = 8;

std::int64_t RoundDown(std::int64_t bytes, std::int64_t block) {
  return block > 0 ? bytes - bytes % block : bytes;
}

// Reads up to `count` bytes (bounded by `limit`, the end of what may be read) into `out`.
bool ReadBounded(RiffFile& file, std::int64_t count, std::int64_t limit, QByteArray& out) {
  count = std::min(count, limit - file.Position());
  if (count < 0 || count > kMaxEntryBytes) {
    return false;
  }
  out.resize(static_cast<qsizetype>(count));
  return file.Read(out.data(), count) == count;
}

QByteArray WithoutTrailingZeros(QByteArray text) {
  while (!text.isEmpty() && text.back() == '\0') {
    text.chop(1);
  }
  return text;
}

// `index` maps an entry id to its place in `info`, over every list of the file, so that a
// file of many entries is read in linear time.
void ReadInfoList(RiffFile& file, const RiffChunk& list, std::int64_t fileSize,
                  std::vector<WaveInfoEntry>& info,
                  std::unordered_map<std::uint32_t, std::size_t>& index) {
  const std::int64_t end = std::min(list.End(), fileSize);
  RiffChunk entry;
  while (file.Descend(entry, &list)) {
    QByteArray text;
    if (ReadBounded(file, entry.size, end, text)) {
      // A later list repeating an entry replaces it, so rewriting never duplicates.
      const auto [place, added] = index.try_emplace(entry.id, info.size());
      if (added) {
        info.push_back({entry.id, WithoutTrailingZeros(text)});
      } else {
        info[place->second].text = WithoutTrailingZeros(text);
      }
    }
    if (!file.Ascend(entry)) {
      break;
    }
  }
}

void ReadDisp(RiffFile& file, const RiffChunk& chunk, std::int64_t fileSize,
              std::vector<WaveDispEntry>& disp) {
  const std::int64_t end = std::min(chunk.End(), fileSize);
  std::uint32_t type = 0;
  QByteArray data;
  if (chunk.size < 4 || !file.ReadU32(type) || !ReadBounded(file, chunk.size - 4, end, data)) {
    return;
  }
  if (type == kClipboardText || type == kClipboardBitmap || type == kClipboardDib) {
    disp.push_back({type, data});
  }
}

// The format must allow every conversion: no zero rate, block or channel count.
bool UsableFormat(const WAVEFORMATEX& format) {
  return format.nChannels > 0 && format.nSamplesPerSec > 0 && format.nBlockAlign > 0 &&
         format.nAvgBytesPerSec > 0;
}

// Sizes of the chunks written behind the data on close.
std::int64_t TrailerSize(const WaveIOBlock& block) {
  std::int64_t size = 12;  // "fact"
  if (block.formatBehindData) {
    const auto format = static_cast<std::int64_t>(FormatSize(block.Format()));
    size += 8 + format + (format & 1);
  }
  for (const WaveDispEntry& entry : block.disp) {
    size += 8 + 4 + entry.data.size() + ((4 + entry.data.size()) & 1);
  }
  std::int64_t list = 0;
  for (const WaveInfoEntry& entry : block.info) {
    if (!entry.text.isEmpty()) {
      const std::int64_t n = entry.text.size() + 1;
      list += 8 + n + (n & 1);
    }
  }
  return list > 0 ? size + 12 + list : size;
}

bool WriteTrailer(WaveIOBlock& block) {
  RiffFile& file = *block.file;
  if (file.Seek(block.dataPosition + block.dataSize) < 0 || !file.Ascend(block.data)) {
    return false;
  }
  RiffChunk fact;
  fact.id = FourCC("fact");
  fact.size = 4;
  if (!file.CreateChunk(fact) ||
      !file.WriteU32(
          static_cast<std::uint32_t>(std::min<std::int64_t>(block.samples, kMaxRiffSize))) ||
      !file.Ascend(fact)) {
    return false;
  }
  if (block.formatBehindData) {
    RiffChunk fmt;
    fmt.id = FourCC("fmt ");
    const auto size = static_cast<std::int64_t>(FormatSize(block.Format()));
    if (!file.CreateChunk(fmt) || file.Write(block.format.get(), size) != size ||
        !file.Ascend(fmt)) {
      return false;
    }
  }
  for (const WaveDispEntry& entry : block.disp) {
    RiffChunk disp;
    disp.id = FourCC("DISP");
    if (!file.CreateChunk(disp) || !file.WriteU32(entry.type) ||
        file.Write(entry.data.constData(), entry.data.size()) != entry.data.size() ||
        !file.Ascend(disp)) {
      return false;
    }
  }
  const bool anyInfo = std::any_of(block.info.begin(), block.info.end(),
                                   [](const WaveInfoEntry& e) { return !e.text.isEmpty(); });
  if (anyInfo) {
    RiffChunk list;
    list.formType = FourCC("INFO");
    if (!file.CreateChunk(list, RiffFile::Find::List)) {
      return false;
    }
    for (const WaveInfoEntry& entry : block.info) {
      if (entry.text.isEmpty()) {
        continue;
      }
      RiffChunk sub;
      sub.id = entry.id;
      // Written with its terminating zero.
      if (!file.CreateChunk(sub) ||
          file.Write(entry.text.constData(), entry.text.size() + 1) != entry.text.size() + 1 ||
          !file.Ascend(sub)) {
        return false;
      }
    }
    if (!file.Ascend(list)) {
      return false;
    }
  }
  return file.Ascend(block.riff) && file.Flush();
}

// The disk had no room for the chunks behind the data: end the file right after the data,
// with the sizes patched in place, which needs no new space.
bool EndAfterData(WaveIOBlock& block) {
  RiffFile& file = *block.file;
  file.DiscardBuffer();
  if ((block.dataSize & 1) != 0) {
    // Drop a block rather than need a pad byte; an odd size means an odd block size.
    block.dataSize = std::max<std::int64_t>(0, block.dataSize - block.format->nBlockAlign);
    block.samples = BytesToSamples(block.Format(), block.dataSize);
  }
  const std::int64_t end = block.dataPosition + block.dataSize;
  if (!file.Truncate(end) || file.Seek(block.dataPosition - 4) < 0 ||
      !file.WriteU32(static_cast<std::uint32_t>(block.dataSize)) || file.Seek(4) < 0 ||
      !file.WriteU32(static_cast<std::uint32_t>(end - 8)) || !file.Flush()) {
    return false;
  }
  block.data.size = static_cast<std::uint32_t>(block.dataSize);
  block.data.dirty = false;
  block.riff.size = static_cast<std::uint32_t>(end - 8);
  block.riff.dirty = false;
  file.Seek(end);
  return true;
}

}  // namespace

bool NormaliseFileFormat(WAVEFORMATEX& format) {
  // The file's own block size divides its data, so it must not be 0 even for PCM.
  if (format.nBlockAlign == 0) {
    return false;
  }
  if (format.wFormatTag == WAVE_FORMAT_PCM) {
    // Whole bytes per sample, which is channels * bits / 8 whenever bits are whole bytes.
    const std::int64_t blockAlign =
        static_cast<std::int64_t>(format.nChannels) * ((format.wBitsPerSample + 7) / 8);
    const std::int64_t byteRate = blockAlign * format.nSamplesPerSec;
    if (blockAlign <= 0 || blockAlign > 0xFFFF || byteRate > kMaxRiffSize) {
      return false;
    }
    format.nBlockAlign = static_cast<std::uint16_t>(blockAlign);
    format.nAvgBytesPerSec = static_cast<std::uint32_t>(byteRate);
  }
  return UsableFormat(format);
}

int OpenWaveFile(const QString& name, WaveIOPtr& block) {
  block.reset();
  // Only parsed here: reading is all it needs.
  auto file = std::make_unique<RiffFile>();
  if (!file->Open(name, RiffFile::Access::ReadOnly)) {
    return kWaveIOCannotOpen;
  }
  RiffChunk riff;
  if (!file->Descend(riff) || riff.id != FourCC("RIFF") || riff.formType != FourCC("WAVE") ||
      riff.size < 4) {
    return kWaveIOInvalid;
  }
  const std::int64_t fileSize = file->Size();
  if (riff.End() > fileSize) {
    riff.size = static_cast<std::uint32_t>(fileSize - riff.dataOffset);
  }
  file->Seek(riff.dataOffset + 4);

  auto result = std::make_unique<WaveIOBlock>();
  bool haveFmt = false;
  bool haveData = false;
  bool haveFact = false;
  std::uint32_t factSamples = 0;
  std::int64_t dataEnd = 0;
  std::unordered_map<std::uint32_t, std::size_t> infoIndex;
  RiffChunk chunk;
  while (file->Descend(chunk, &riff)) {
    if (chunk.End() > riff.End()) {
      if (haveFmt && haveData) {
        break;
      }
      if (chunk.End() > fileSize) {
        chunk.size = static_cast<std::uint32_t>(fileSize - chunk.dataOffset);
      }
    }
    if (chunk.id == FourCC("fmt ")) {
      if (haveFmt) {
        break;
      }
      const std::int64_t size = std::min<std::int64_t>(chunk.size, kMaxFormatBytes);
      const std::int64_t room = std::max<std::int64_t>(size, sizeof(WAVEFORMATEX));
      result->format = AllocFormat(static_cast<std::size_t>(room));
      // Older files carry a 14- or 16-byte record; the rest stays zero.
      if (size < 14 || file->Read(result->format.get(), size) != size) {
        return kWaveIOInvalid;
      }
      if (size < static_cast<std::int64_t>(sizeof(WAVEFORMATEX))) {
        result->format->cbSize = 0;
      } else if (result->format->wFormatTag != WAVE_FORMAT_PCM &&
                 FormatSize(result->format.get()) > static_cast<std::size_t>(room)) {
        // Never claim more extra bytes than the chunk held.
        result->format->cbSize = static_cast<std::uint16_t>(room - sizeof(WAVEFORMATEX));
      }
      haveFmt = true;
      result->formatBehindData = haveData;
    } else if (chunk.id == FourCC("data")) {
      if (haveData) {
        break;
      }
      result->data = chunk;
      result->dataPosition = chunk.dataOffset;
      // Runs up to the next chunk header (the pad byte included) or the end of the file.
      dataEnd = std::min(chunk.End() + (chunk.size & 1), fileSize);
      haveData = true;
    } else if (chunk.id == FourCC("fact")) {
      if (haveFact) {
        break;
      }
      haveFact = chunk.size >= 4 && file->ReadU32(factSamples);
    } else if (chunk.id == FourCC("LIST") && chunk.formType == FourCC("INFO")) {
      ReadInfoList(*file, chunk, fileSize, result->info, infoIndex);
    } else if (chunk.id == FourCC("DISP")) {
      ReadDisp(*file, chunk, fileSize, result->disp);
    }
    if (!file->Ascend(chunk)) {
      if (haveData) {
        break;
      }
      return kWaveIOInvalid;
    }
  }
  // Without a "data" chunk there is nothing to play and nowhere to write.
  if (!haveFmt || !haveData) {
    return kWaveIOInvalid;
  }

  WAVEFORMATEX& format = *result->format;
  // Whole blocks of the file's own block size, then of the one the format really has.
  std::int64_t dataSize = RoundDown(dataEnd - result->dataPosition, format.nBlockAlign);
  if (!NormaliseFileFormat(format)) {
    return kWaveIOInvalid;
  }
  dataSize = RoundDown(dataSize, format.nBlockAlign);
  result->dataSize = std::max<std::int64_t>(dataSize, 0);
  result->samples = BytesToSamples(result->Format(), result->dataSize);

  result->mode = 1;
  result->riff = riff;
  result->fileSize = fileSize;
  result->firstSample = 0;
  result->endSample = result->samples;
  result->currentSample = 0;
  result->bytesLeft = result->dataSize;
  result->fileName = name;
  file->Close();
  block = std::move(result);
  return kWaveIOOk;
}

int CreateWaveFile(const QString& name, const WAVEFORMATEX* format, WaveIOPtr& block) {
  block.reset();
  if (name.isEmpty() || format == nullptr || !UsableFormat(*format)) {
    return kWaveIOBadArgument;
  }
  auto result = std::make_unique<WaveIOBlock>();
  result->format = CopyFormat(format);
  result->file = std::make_unique<RiffFile>();
  RiffFile& file = *result->file;
  if (!file.Open(name, RiffFile::Access::Create)) {
    return kWaveIOCannotOpen;
  }
  const auto formatSize = static_cast<std::int64_t>(FormatSize(result->Format()));
  RiffChunk fmt;
  fmt.id = FourCC("fmt ");
  fmt.size = static_cast<std::uint32_t>(formatSize);
  result->riff.formType = FourCC("WAVE");
  result->data.id = FourCC("data");
  const bool written = file.CreateChunk(result->riff, RiffFile::Find::Riff) &&
                       file.CreateChunk(fmt) &&
                       file.Write(result->format.get(), formatSize) == formatSize &&
                       file.Ascend(fmt) && file.CreateChunk(result->data) && file.Flush();
  if (!written) {
    file.Close();
    QFile::remove(name);
    return kWaveIOWriteError;
  }
  result->mode = 0;
  result->dataPosition = result->data.dataOffset;
  result->fileSize = file.Size();
  result->fileName = name;
  block = std::move(result);
  return kWaveIOOk;
}

int ReopenWaveFile(WaveIOBlock& block) {
  if (block.file) {
    return kWaveIOOk;
  }
  auto file = std::make_unique<RiffFile>();
  if (!file->Open(block.fileName, RiffFile::Access::ReadWrite, block.ioBufferSize) &&
      !file->Open(block.fileName, RiffFile::Access::ReadOnly, block.ioBufferSize)) {
    return kWaveIOCannotOpen;
  }
  block.file = std::move(file);
  const int result = SeekSamples(block, block.currentSample);
  if (result != kWaveIOOk) {
    block.file.reset();
  }
  return result;
}

int SeekSamples(WaveIOBlock& block, std::int64_t sample) {
  if (!block.file) {
    return kWaveIONoFile;
  }
  if (sample < 0) {
    return kWaveIOBadArgument;
  }
  // The end itself is a valid place: a writer goes on from there.
  sample = std::max<std::int64_t>(0, std::min(sample, block.endSample - block.firstSample));
  // Enter the "data" chunk again, so a file changed under us is noticed.
  RiffChunk check;
  if (block.file->Seek(block.data.dataOffset - 8) < 0 || !block.file->Descend(check) ||
      check.id != FourCC("data")) {
    return kWaveIOReadError;
  }
  const std::int64_t distance = SamplesToBytes(block.Format(), sample);
  if (block.file->Seek(block.data.dataOffset + distance) < 0) {
    return kWaveIOReadError;
  }
  // Never past the data, whatever the rounding of the conversions.
  const std::int64_t left = SamplesToBytes(block.Format(), block.endSample) - distance;
  block.bytesLeft = std::max<std::int64_t>(0, std::min(left, block.dataSize - distance));
  block.currentSample = BytesToSamples(block.Format(), distance) - block.firstSample;
  return kWaveIOOk;
}

std::int64_t ReadBytes(WaveIOBlock& block, void* buffer, std::int64_t count) {
  if (!block.file || block.bytesLeft <= 0 || count <= 0) {
    return 0;
  }
  const std::int64_t wanted = std::min(count, block.bytesLeft);
  std::int64_t got = block.file->Read(buffer, wanted);
  if (got < wanted) {
    block.bytesLeft = 0;
  }
  if (got <= 0) {
    return 0;
  }
  block.bytesLeft = std::max<std::int64_t>(0, block.bytesLeft - got);
  block.currentSample =
      block.endSample - block.firstSample - BytesToSamples(block.Format(), block.bytesLeft);
  return got;
}

std::int64_t WriteBytes(WaveIOBlock& block, const void* buffer, std::int64_t count) {
  if (!block.file || count <= 0) {
    return -1;
  }
  RiffFile& file = *block.file;
  // Refuse what would take the RIFF size past its 32 bits: the file would be unreadable.
  const std::int64_t newEnd =
      std::max(file.Position() + count, block.dataPosition + block.dataSize);
  if (newEnd + 1 + TrailerSize(block) - 8 > kMaxRiffSize) {
    return 0;
  }
  const std::int64_t written = file.Write(buffer, count);
  if (written <= 0) {
    return written < 0 ? 0 : written;
  }
  block.data.dirty = true;
  const std::int64_t bytePos = file.Position() - block.dataPosition;
  block.currentSample = BytesToSamples(block.Format(), bytePos);
  block.dataSize = std::max(block.dataSize, bytePos);
  if (block.currentSample > block.samples) {
    block.samples = block.currentSample;
  }
  if (block.currentSample > block.endSample) {
    block.endSample = block.currentSample;
  }
  block.bytesLeft = SamplesToBytes(block.Format(), block.endSample - block.currentSample);
  return written;
}

int SetIOBuffer(WaveIOBlock& block, int size) {
  if (size < 1) {
    return kWaveIOBadArgument;
  }
  if (block.file && !block.file->SetBufferSize(size)) {
    return kWaveIOWriteError;
  }
  block.ioBufferSize = size;
  return kWaveIOOk;
}

int FinaliseWaveFile(WaveIOBlock& block) {
  if (!block.file) {
    return kWaveIOOk;
  }
  RiffFile& file = *block.file;
  if (!block.data.dirty) {
    file.Close();
    block.file.reset();
    return kWaveIOOk;
  }
  int result = kWaveIOOk;
  if (!file.Flush()) {
    // The disk took less than was written: keep the whole blocks that reached it.
    result = kWaveIOWriteError;
    file.DiscardBuffer();
    const std::int64_t onDisk = std::max<std::int64_t>(0, file.Size() - block.dataPosition);
    block.dataSize = RoundDown(std::min(block.dataSize, onDisk), block.format->nBlockAlign);
    block.samples = BytesToSamples(block.Format(), block.dataSize);
    file.Truncate(block.dataPosition + block.dataSize);
  }
  // Both sizes are rewritten from the positions, also for a file written a second time.
  block.riff.size = 0;
  block.data.size = 0;
  block.riff.dirty = true;
  block.data.dirty = true;
  if (!WriteTrailer(block)) {
    result = kWaveIOWriteError;
    EndAfterData(block);
  }
  block.fileSize = file.Size();
  block.endSample = block.samples;
  if (!file.Close()) {
    result = kWaveIOWriteError;
  }
  block.file.reset();
  block.bytesLeft = 0;
  block.currentSample = 0;
  return result;
}

void ReleaseWaveFile(WaveIOPtr& block) {
  if (block && block->file) {
    block->file->Close();
  }
  block.reset();
}

int UpdateWaveHeader(WaveIOBlock& block) {
  if (!block.file || !block.file->Writable()) {
    return kWaveIONoFile;
  }
  RiffFile& file = *block.file;
  const std::int64_t at = file.Position();
  const std::int64_t dataEnd = block.dataPosition + block.dataSize;
  // WriteBytes keeps the data within what 32-bit sizes can count.
  const bool written = file.Flush() && file.Seek(block.dataPosition - 4) >= 0 &&
                       file.WriteU32(static_cast<std::uint32_t>(block.dataSize)) &&
                       file.Seek(4) >= 0 &&
                       file.WriteU32(static_cast<std::uint32_t>(dataEnd - 8)) && file.Flush();
  file.Seek(at);
  return written ? kWaveIOOk : kWaveIOWriteError;
}

int RepairWaveFile(const QString& name) {
  auto file = std::make_unique<RiffFile>();
  if (!file->Open(name, RiffFile::Access::ReadWrite)) {
    return kWaveIOCannotOpen;
  }
  std::uint32_t id = 0;
  std::uint32_t size = 0;
  std::uint32_t form = 0;
  if (!file->ReadU32(id) || !file->ReadU32(size) || !file->ReadU32(form) || id != FourCC("RIFF") ||
      form != FourCC("WAVE")) {
    return kWaveIOInvalid;
  }
  const std::int64_t fileSize = file->Size();
  // Sizes may be anything here, so the walk trusts none beyond the file.
  // Nothing is written before the file is known to open once mended: the chunks before the
  // data are taken as OpenWaveFile takes them.
  FormatPtr format;
  bool haveFact = false;
  RiffChunk data;
  std::int64_t at = 12;
  while (at + 8 <= fileSize) {
    if (file->Seek(at) < 0 || !file->ReadU32(id) || !file->ReadU32(size)) {
      return kWaveIOReadError;
    }
    if (id == FourCC("fmt ")) {
      // The reader takes the first one, needs 14 bytes of it and stops at a second.
      if (format || size < 14) {
        return kWaveIOUnreadable;
      }
      const std::int64_t bytes = std::min<std::int64_t>(size, 16);
      format = AllocFormat(sizeof(WAVEFORMATEX));
      if (file->Read(format.get(), bytes) != bytes) {
        return kWaveIOReadError;
      }
      format->cbSize = 0;
    } else if (id == FourCC("fact")) {
      if (haveFact) {
        return kWaveIOUnreadable;
      }
      haveFact = true;
    } else if (id == FourCC("data")) {
      data.id = id;
      data.size = size;
      data.dataOffset = at + 8;
      break;
    }
    at += 8 + static_cast<std::int64_t>(size) + (size & 1);
  }
  if (!format || data.id == 0) {
    return kWaveIOUnreadable;
  }
  WAVEFORMATEX readable = *format;
  if (!NormaliseFileFormat(readable)) {
    return kWaveIOUnreadable;
  }
  const std::int64_t declaredEnd = data.End() + (data.size & 1);
  if (declaredEnd < fileSize) {
    // A chunk behind the data means the file was finished.
    RiffChunk next;
    file->Seek(declaredEnd);
    if (file->Descend(next) &&
        (next.id == FourCC("fact") || next.id == FourCC("LIST") || next.id == FourCC("DISP"))) {
      return kWaveIOOk;
    }
  } else if (declaredEnd == fileSize) {
    file->Seek(4);
    std::uint32_t riffSize = 0;
    if (file->ReadU32(riffSize) && riffSize == fileSize - 8) {
      return kWaveIOOk;
    }
  }
  auto block = std::make_unique<WaveIOBlock>();
  block->format = std::move(format);
  block->mode = 1;
  block->dataPosition = data.dataOffset;
  block->dataSize = RoundDown(std::min(fileSize - data.dataOffset, kMaxRiffSize - 1024),
                              block->format->nBlockAlign);
  block->samples = BytesToSamples(block->Format(), block->dataSize);
  block->riff.id = FourCC("RIFF");
  block->riff.formType = FourCC("WAVE");
  block->riff.dataOffset = 8;
  block->data = data;
  block->data.dirty = true;
  if (!file->Truncate(block->dataPosition + block->dataSize)) {
    return kWaveIOWriteError;
  }
  block->file = std::move(file);
  return FinaliseWaveFile(*block);
}

}  // namespace sonarelle
