#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <QDateTime>
#include <QString>
#include <QStringList>

#include "audio/chain/WaveFormat.h"
#include "platform/FileLock.h"

namespace sonarelle {

// One take on disk that this process holds: a WAVE file named "SWtemp" + a number + ".wav"
// in a take folder. It stays locked while it is held, so that no other instance records
// over it or offers it as left behind; a process that ends, however it ends, lets go of it.
class TTakeFile {
 public:
  // The name every take file has: "SWtemp" + 0 to 9999 without leading zeros + ".wav".
  static bool IsTakeName(const QString& fileName);

  // A new take file in `folder` (with its trailing separator) under a name no file has
  // yet, holding an empty WAVE file of `format`. Raises Exception when none can be made.
  static std::unique_ptr<TTakeFile> Create(const QString& folder, const WAVEFORMATEX* format);

  // The takes in `folders` that a process left behind without saving or discarding them,
  // oldest first, each now held by this process and finished so that it reads as a WAVE
  // file holding all it recorded. A WAVE file that cannot be read as a take is held too,
  // unchanged and marked Damaged. Files held elsewhere, other users' files and files that
  // are no WAVE file are left alone; a file holding no audio at all is removed.
  static std::vector<std::unique_ptr<TTakeFile>> FindLeft(const QStringList& folders);

  // Made by Create and FindLeft only.
  struct Key {
    explicit Key() = default;
  };
  explicit TTakeFile(Key /*key*/) {}
  TTakeFile(const TTakeFile&) = delete;
  TTakeFile& operator=(const TTakeFile&) = delete;

  QString Path() const { return lock_.Path(); }
  // Whether the file cannot be read as a take: it is kept as it was, to be discarded or
  // looked at, never saved.
  bool Damaged() const { return damaged_; }
  // When the take was last written.
  QDateTime Recorded() const;
  // Length of the take's audio in milliseconds, -1 when it cannot be read.
  std::int64_t LengthMs() const;
  // Deletes the file and lets go of it; false (and still held) when it could not be.
  bool Remove();

 private:
  FileLock lock_;
  bool damaged_ = false;
};

using TTakeFiles = std::vector<std::unique_ptr<TTakeFile>>;

}  // namespace sonarelle
