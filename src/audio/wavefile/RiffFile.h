#pragma once

#include <cstdint>
#include <vector>

#include <QString>

namespace sonarelle {

// Four-character code of a RIFF chunk identifier or form type, as stored (little-endian).
constexpr std::uint32_t FourCC(const char (&code)[5]) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 8) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(code[3])) << 24);
}

// One chunk as the file service keeps it. `size` is what the header says, or what Ascend
// wrote: a size read from a file is not checked against anything and may run past the end.
struct RiffChunk {
  std::uint32_t id = 0;
  std::uint32_t size = 0;       // data bytes, without the 8-byte header and the pad byte
  std::uint32_t formType = 0;   // "RIFF" and "LIST" chunks only
  std::int64_t dataOffset = 0;  // first byte after the header; the form type for RIFF/LIST
  bool dirty = false;           // Ascend writes the size from the file position

  // End of the data as the header claims it, without the pad byte.
  std::int64_t End() const { return dataOffset + size; }
};

// A buffered file of RIFF chunks over a POSIX file descriptor: reads and writes go through
// one buffer, chunks are entered, left and created with their sizes patched on the way out.
// Not thread-safe; one owner at a time.
class RiffFile {
 public:
  enum class Access { ReadOnly, ReadWrite, Create };
  enum class Origin { Begin, Current, End };
  // What Descend looks for: the next chunk, a chunk with `id`, or a "RIFF"/"LIST" chunk
  // with `formType`.
  enum class Find { Any, Chunk, Riff, List };

  static constexpr int kDefaultBufferSize = 8192;

  RiffFile() = default;
  ~RiffFile();
  RiffFile(const RiffFile&) = delete;
  RiffFile& operator=(const RiffFile&) = delete;

  // Create truncates or makes the file. Fails (false) if the file cannot be opened so.
  bool Open(const QString& path, Access access, int bufferSize = kDefaultBufferSize);
  // Writes what is buffered and closes; false when the buffered bytes could not be written
  // (the file is closed all the same).
  bool Close();
  bool IsOpen() const { return fd_ >= 0; }
  bool Writable() const { return writable_; }

  // Bytes read, 0 at the end of the file, -1 on an error with nothing read.
  std::int64_t Read(void* data, std::int64_t count);
  // Bytes taken, -1 on an error with nothing taken. Taken bytes reach the file at the next
  // flush; a failure there shows in Flush, Close or a later Write.
  std::int64_t Write(const void* data, std::int64_t count);
  // New position, or -1 for a position before the start. Seeking past the end is allowed.
  std::int64_t Seek(std::int64_t offset, Origin origin = Origin::Begin);
  std::int64_t Position() const { return pos_; }
  // The file's size including bytes still buffered, or -1 without a file.
  std::int64_t Size() const;

  // Writes the buffered bytes to the file.
  bool Flush();
  // Forgets buffered bytes that were not written yet, e.g. after a write failed for want of
  // space, so that what is on disk can be trusted again.
  void DiscardBuffer();
  // Flushes, then cuts or extends the file to `size` bytes.
  bool Truncate(std::int64_t size);
  // Flushes and replaces the buffer; sizes below 1 fail.
  bool SetBufferSize(int size);
  int BufferSize() const { return static_cast<int>(buffer_.size()); }

  // Reads the chunk header at the position; with a find mode other than Any, skips chunks
  // until one matches. Never looks at headers that start past `parent`'s claimed end or
  // past the end of the file. On success the position is after the header (and after the
  // form type of a "RIFF" or "LIST" chunk); on failure it is where it was.
  bool Descend(RiffChunk& chunk, const RiffChunk* parent = nullptr, Find find = Find::Any);
  // Leaves a chunk: a dirty chunk gets its size from the position, a pad byte if that is
  // odd, and its header patched; any other chunk is skipped to its padded end.
  bool Ascend(RiffChunk& chunk);
  // Writes a chunk header at the position (id, `size`, and the form type for Riff/List)
  // and marks the chunk dirty.
  bool CreateChunk(RiffChunk& chunk, Find kind = Find::Chunk);

  // Little-endian helpers over Read/Write.
  bool ReadU32(std::uint32_t& value);
  bool WriteU32(std::uint32_t value);

 private:
  // Makes the buffer start at `pos_`, writing out dirty bytes first.
  bool Refill();
  std::int64_t DiskSize() const;

  int fd_ = -1;
  bool writable_ = false;
  std::int64_t pos_ = 0;
  std::vector<char> buffer_;
  std::int64_t bufStart_ = 0;  // file position of buffer_[0]
  std::int64_t bufLen_ = 0;    // valid bytes in the buffer
  std::int64_t dirtyLo_ = 0;   // buffer range still to be written: [dirtyLo_, dirtyHi_)
  std::int64_t dirtyHi_ = 0;
};

}  // namespace sonarelle
