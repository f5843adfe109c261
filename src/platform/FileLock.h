#pragma once

#include <QString>

namespace sonarelle {

// An exclusive advisory lock on one file, held until Release or destruction, and dropped by
// the system when the process ends however it ends. Another process, or another FileLock
// in this one, cannot take the same file meanwhile.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Creates `path`, which must not exist yet (readable by the owner only), and locks it.
  bool Create(const QString& path);
  // Locks the existing `path`; false when it is missing or someone holds it.
  bool Acquire(const QString& path);
  void Release();

  bool Locked() const { return fd_ >= 0; }
  QString Path() const { return path_; }

 private:
  bool Lock(int fd, const QString& path);

  int fd_ = -1;
  QString path_;
};

}  // namespace sonarelle
