#include "audio/wavefile/RiffFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include <QFile>

namespace sonarelle {

namespace {

constexpr std::int64_t kMaxChunkSize = std::numeric_limits<std::uint32_t>::max();

std::int64_t PRead(int fd, char* data, std::int64_t count, std::int64_t at) {
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(fd, data + done, static_cast<size_t>(count - done), at + done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return done > 0 ? done : (n < 0 ? -1 : 0);
    }
    done += n;
  }
  return done;
}

// All or nothing: a short write is a failure, whatever part of it reached the disk.
bool PWrite(int fd, const char* data, std::int64_t count, std::int64_t at) {
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::pwrite(fd, data + done, static_cast<size_t>(count - done), at + done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    done += n;
  }
  return true;
}

bool IsListType(std::uint32_t id) {
  return id == FourCC("RIFF") || id == FourCC("LIST");
}

}  // namespace

RiffFile::~RiffFile() {
  Close();
}

bool RiffFile::Open(const QString& path, Access access, int bufferSize) {
  Close();
  if (bufferSize < 1 || path.isEmpty()) {
    return false;
  }
  int flags = O_CLOEXEC;
  switch (access) {
    case Access::ReadOnly:
      flags |= O_RDONLY;
      break;
    case Access::ReadWrite:
      flags |= O_RDWR;
      break;
    case Access::Create:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
  }
  const QByteArray name = QFile::encodeName(path);
  int fd = -1;
  do {
    fd = ::open(name.constData(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  writable_ = access != Access::ReadOnly;
  pos_ = 0;
  buffer_.assign(static_cast<size_t>(bufferSize), 0);
  bufStart_ = bufLen_ = dirtyLo_ = dirtyHi_ = 0;
  return true;
}

bool RiffFile::Close() {
  if (fd_ < 0) {
    return true;
  }
  const bool flushed = Flush();
  ::close(fd_);
  fd_ = -1;
  writable_ = false;
  buffer_.clear();
  buffer_.shrink_to_fit();
  bufStart_ = bufLen_ = dirtyLo_ = dirtyHi_ = pos_ = 0;
  return flushed;
}

bool RiffFile::Flush() {
  if (fd_ < 0) {
    return false;
  }
  if (dirtyHi_ > dirtyLo_) {
    if (!PWrite(fd_, buffer_.data() + dirtyLo_, dirtyHi_ - dirtyLo_, bufStart_ + dirtyLo_)) {
      return false;
    }
    dirtyLo_ = dirtyHi_ = 0;
  }
  return true;
}

void RiffFile::DiscardBuffer() {
  bufStart_ = bufLen_ = dirtyLo_ = dirtyHi_ = 0;
}

bool RiffFile::Truncate(std::int64_t size) {
  if (fd_ < 0 || !writable_ || size < 0 || !Flush()) {
    return false;
  }
  DiscardBuffer();
  return ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
}

bool RiffFile::SetBufferSize(int size) {
  if (fd_ < 0 || size < 1 || !Flush()) {
    return false;
  }
  DiscardBuffer();
  buffer_.assign(static_cast<size_t>(size), 0);
  return true;
}

std::int64_t RiffFile::DiskSize() const {
  struct stat info {};
  if (fd_ < 0 || ::fstat(fd_, &info) != 0) {
    return -1;
  }
  return info.st_size;
}

std::int64_t RiffFile::Size() const {
  const std::int64_t disk = DiskSize();
  if (disk < 0) {
    return -1;
  }
  return bufLen_ > 0 ? std::max(disk, bufStart_ + bufLen_) : disk;
}

std::int64_t RiffFile::Seek(std::int64_t offset, Origin origin) {
  if (fd_ < 0) {
    return -1;
  }
  std::int64_t base = 0;
  if (origin == Origin::Current) {
    base = pos_;
  } else if (origin == Origin::End) {
    base = Size();
  }
  if ((offset > 0 && base > std::numeric_limits<std::int64_t>::max() - offset) ||
      base + offset < 0) {
    return -1;
  }
  pos_ = base + offset;
  return pos_;
}

bool RiffFile::Refill() {
  if (!Flush()) {
    return false;
  }
  bufStart_ = pos_;
  bufLen_ = 0;
  const std::int64_t n =
      PRead(fd_, buffer_.data(), static_cast<std::int64_t>(buffer_.size()), bufStart_);
  if (n < 0) {
    return false;
  }
  bufLen_ = n;
  return true;
}

std::int64_t RiffFile::Read(void* data, std::int64_t count) {
  if (fd_ < 0 || count < 0 || (count > 0 && data == nullptr)) {
    return -1;
  }
  char* out = static_cast<char*>(data);
  std::int64_t done = 0;
  while (done < count) {
    if (pos_ >= bufStart_ && pos_ < bufStart_ + bufLen_) {
      const std::int64_t n = std::min(count - done, bufStart_ + bufLen_ - pos_);
      std::memcpy(out + done, buffer_.data() + (pos_ - bufStart_), static_cast<size_t>(n));
      done += n;
      pos_ += n;
      continue;
    }
    if (!Refill()) {
      return done > 0 ? done : -1;
    }
    if (bufLen_ == 0) {
      break;  // end of file
    }
  }
  return done;
}

std::int64_t RiffFile::Write(const void* data, std::int64_t count) {
  if (fd_ < 0 || !writable_ || count < 0 || (count > 0 && data == nullptr)) {
    return -1;
  }
  const char* in = static_cast<const char*>(data);
  const auto capacity = static_cast<std::int64_t>(buffer_.size());
  std::int64_t done = 0;
  while (done < count) {
    // Only contiguous with what the buffer holds, so it never has holes.
    const bool inside =
        pos_ >= bufStart_ && pos_ <= bufStart_ + bufLen_ && pos_ < bufStart_ + capacity;
    if (!inside) {
      if (!Refill()) {
        return done > 0 ? done : -1;
      }
      continue;
    }
    const std::int64_t at = pos_ - bufStart_;
    const std::int64_t n = std::min(count - done, capacity - at);
    std::memcpy(buffer_.data() + at, in + done, static_cast<size_t>(n));
    if (dirtyHi_ > dirtyLo_) {
      dirtyLo_ = std::min(dirtyLo_, at);
      dirtyHi_ = std::max(dirtyHi_, at + n);
    } else {
      dirtyLo_ = at;
      dirtyHi_ = at + n;
    }
    bufLen_ = std::max(bufLen_, at + n);
    done += n;
    pos_ += n;
  }
  return done;
}

bool RiffFile::ReadU32(std::uint32_t& value) {
  unsigned char b[4];
  if (Read(b, 4) != 4) {
    return false;
  }
  value = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
          (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
  return true;
}

bool RiffFile::WriteU32(std::uint32_t value) {
  const unsigned char b[4] = {
      static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
      static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
  return Write(b, 4) == 4;
}

bool RiffFile::Descend(RiffChunk& chunk, const RiffChunk* parent, Find find) {
  if (fd_ < 0) {
    return false;
  }
  const std::int64_t start = pos_;
  const std::int64_t fileSize = Size();
  const std::int64_t limit = parent != nullptr ? std::min(parent->End(), fileSize) : fileSize;
  std::uint32_t wantedId = chunk.id;
  if (find == Find::Riff) {
    wantedId = FourCC("RIFF");
  } else if (find == Find::List) {
    wantedId = FourCC("LIST");
  }
  std::int64_t at = pos_;
  // Every step moves on by at least a header, so a walk over any bytes ends.
  while (at + 8 <= limit) {
    RiffChunk found;
    if (Seek(at) < 0 || !ReadU32(found.id) || !ReadU32(found.size)) {
      break;
    }
    found.dataOffset = at + 8;
    const bool listType = IsListType(found.id);
    if (listType && found.size >= 4 && !ReadU32(found.formType)) {
      break;
    }
    if (!listType || found.size < 4) {
      Seek(found.dataOffset);
    }
    const bool match =
        find == Find::Any ||
        (found.id == wantedId && (find == Find::Chunk || found.formType == chunk.formType));
    if (match) {
      chunk = found;
      return true;
    }
    at = found.dataOffset + found.size + (found.size & 1);
  }
  Seek(start);
  return false;
}

bool RiffFile::Ascend(RiffChunk& chunk) {
  if (fd_ < 0) {
    return false;
  }
  if (!chunk.dirty) {
    return Seek(chunk.dataOffset + chunk.size + (chunk.size & 1)) >= 0;
  }
  const std::int64_t end = pos_;
  const std::int64_t size = end - chunk.dataOffset;
  if (chunk.dataOffset < 8 || size < 0 || size > kMaxChunkSize - 1) {
    return false;
  }
  if ((size & 1) != 0) {
    const char pad = 0;
    if (Write(&pad, 1) != 1) {
      return false;
    }
  }
  if (Seek(chunk.dataOffset - 4) < 0 || !WriteU32(static_cast<std::uint32_t>(size))) {
    return false;
  }
  chunk.size = static_cast<std::uint32_t>(size);
  chunk.dirty = false;
  return Seek(end + (size & 1)) >= 0;
}

bool RiffFile::CreateChunk(RiffChunk& chunk, Find kind) {
  if (fd_ < 0 || !writable_) {
    return false;
  }
  if (kind == Find::Riff) {
    chunk.id = FourCC("RIFF");
  } else if (kind == Find::List) {
    chunk.id = FourCC("LIST");
  }
  const std::int64_t start = pos_;
  if (!WriteU32(chunk.id) || !WriteU32(chunk.size)) {
    return false;
  }
  chunk.dataOffset = start + 8;
  if ((kind == Find::Riff || kind == Find::List) && !WriteU32(chunk.formType)) {
    return false;
  }
  chunk.dirty = true;
  return true;
}

}  // namespace sonarelle
