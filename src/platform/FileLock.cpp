#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include <QFile>

namespace sonarelle {

FileLock::~FileLock() {
  Release();
}

bool FileLock::Lock(int fd, const QString& path) {
  if (fd < 0) return false;
  int result = 0;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  path_ = path;
  return true;
}

bool FileLock::Create(const QString& path) {
  Release();
  const QByteArray name = QFile::encodeName(path);
  int fd = -1;
  do {
    fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  } while (fd < 0 && errno == EINTR);
  return Lock(fd, path);
}

bool FileLock::Acquire(const QString& path) {
  Release();
  const QByteArray name = QFile::encodeName(path);
  int fd = -1;
  do {
    fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  } while (fd < 0 && errno == EINTR);
  return Lock(fd, path);
}

void FileLock::Release() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  path_.clear();
}

}  // namespace sonarelle
