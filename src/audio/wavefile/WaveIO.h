#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <QByteArray>
#include <QString>

#include "audio/chain/WaveFormat.h"
#include "audio/wavefile/RiffFile.h"

namespace sonarelle {

// Results of the wave I/O operations; 0 is success.
enum WaveIOResult : int {
  kWaveIOOk = 0,
  kWaveIOCannotOpen = 1,  // the file could not be opened or created
  kWaveIOInvalid = 2,     // not a WAVE file this program can read
  kWaveIOReadError = 3,
  kWaveIOWriteError = 4,
  kWaveIONoFile = 5,  // the block has no open file
  kWaveIOBadArgument = 6,
  kWaveIOUnreadable = 7,  // a WAVE file whose header or format this program cannot read
};

// An entry of the "LIST"/"INFO" chunk: sub-chunk id and its text without the final zero.
struct WaveInfoEntry {
  std::uint32_t id = 0;
  QByteArray text;
};

// A "DISP" chunk: clipboard type and the bytes behind it.
struct WaveDispEntry {
  std::uint32_t type = 0;
  QByteArray data;
};

// One WAVE file, open or closed between uses, with its parsed header. Positions count
// sample frames; byte counts are of audio data.
struct WaveIOBlock {
  int mode = 0;                    // 0 created here, 1 opened from disk
  std::unique_ptr<RiffFile> file;  // none while closed
  RiffChunk riff;
  RiffChunk data;
  std::int64_t fileSize = 0;
  std::int64_t dataSize = 0;
  std::int64_t dataPosition = 0;  // file position of the first audio byte
  std::int64_t samples = 0;
  std::int64_t firstSample = 0;
  std::int64_t endSample = 0;
  std::int64_t bytesLeft = 0;  // from the current position to the end sample
  std::int64_t currentSample = 0;
  QString fileName;
  std::vector<WaveDispEntry> disp;
  std::vector<WaveInfoEntry> info;
  std::int64_t bytesPerSample = 0;  // 0: convert with the format's own rates
  // The file's "fmt " chunk follows its data: the chunks written behind the data on close
  // carry it again, since they take its place.
  bool formatBehindData = false;
  int ioBufferSize = RiffFile::kDefaultBufferSize;
  FormatPtr format;  // the "fmt " chunk, at least 18 bytes

  const WAVEFORMATEX* Format() const { return format.get(); }
};

using WaveIOPtr = std::unique_ptr<WaveIOBlock>;

// A RIFF chunk's size field cannot count more bytes than this.
inline constexpr std::int64_t kMaxRiffSize = 0xFFFFFFFFLL;

// Checks the format of a file's "fmt " chunk and, for PCM, sets the block size and byte rate
// that its channels and bits give. False for a format no conversion can work with. Whatever
// reads or repairs a file goes by this one check, so that a file mended is a file that opens.
bool NormaliseFileFormat(WAVEFORMATEX& format);

// Parses an existing file into a new block; the file is closed again afterwards.
int OpenWaveFile(const QString& name, WaveIOPtr& block);
// Creates `name` with the header of `format` and an empty "data" chunk, left open for
// writing. A failed create removes the file again.
int CreateWaveFile(const QString& name, const WAVEFORMATEX* format, WaveIOPtr& block);
// Opens the block's file again if it is closed and seeks to the current sample.
int ReopenWaveFile(WaveIOBlock& block);
int SeekSamples(WaveIOBlock& block, std::int64_t sample);
// Bytes read, 0 at the end or without an open file.
std::int64_t ReadBytes(WaveIOBlock& block, void* buffer, std::int64_t count);
// Bytes written at the current position, 0 when nothing was (or a write would take the
// file past what RIFF sizes can count), -1 without an open file.
std::int64_t WriteBytes(WaveIOBlock& block, const void* buffer, std::int64_t count);
int SetIOBuffer(WaveIOBlock& block, int size);
// Fixes the header of a written file and closes it. When the disk refused bytes, the file
// still ends valid, holding the whole blocks that reached it, and failure is reported.
int FinaliseWaveFile(WaveIOBlock& block);
// Closes the file if open and frees the block.
void ReleaseWaveFile(WaveIOPtr& block);
// Writes what is buffered and brings the sizes in the header of a file being written up to
// date, so that the file, if cut off now, is a valid WAVE file of all data so far.
int UpdateWaveHeader(WaveIOBlock& block);
// Finishes a file whose writer ended before finalising it (a killed recording): the data
// runs to the end of the file in whole blocks, and the sizes and the "fact" chunk are
// written as on a normal close. A file whose data is followed by other chunks is left as
// it is. kWaveIOInvalid when the file is no WAVE file at all; kWaveIOUnreadable, with the
// file untouched, when it is one that OpenWaveFile would refuse even once repaired.
int RepairWaveFile(const QString& name);

}  // namespace sonarelle
