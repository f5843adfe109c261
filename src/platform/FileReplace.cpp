#include "platform/FileReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include <QFile>
#include <QFileInfo>

#include "platform/PosixFile.h"

namespace sonarelle {

namespace {

using posix_file::ErrnoText;
using posix_file::Fd;

// Flushes the folder holding `path` (its entries) to disk; 0 or the error number.
int SyncFolderOf(const QString& path) {
  const Fd folder(::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                         O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.Get() < 0) return errno;
  return ::fsync(folder.Get()) == 0 ? 0 : errno;
}

}  // namespace

QString RenameOver(const QString& from, const QString& to) {
  const QByteArray source = QFile::encodeName(from);
  const QByteArray target = QFile::encodeName(to);
  const Fd file(::open(source.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (file.Get() < 0) return ErrnoText(errno);
  struct stat sourceInfo {};
  if (::fstat(file.Get(), &sourceInfo) != 0) return ErrnoText(errno);
  if (!S_ISREG(sourceInfo.st_mode)) return QStringLiteral("not a regular file");
  struct stat targetInfo {};
  if (::stat(target.constData(), &targetInfo) == 0) {
    if (S_ISDIR(targetInfo.st_mode)) return ErrnoText(EISDIR);
    if (::fchmod(file.Get(), targetInfo.st_mode & 07777) != 0) return ErrnoText(errno);
  } else if (errno != ENOENT) {
    return ErrnoText(errno);
  }
  // Without these a power cut soon after the rename can leave an empty file under `to`.
  if (::fsync(file.Get()) != 0) return ErrnoText(errno);
  if (const int error = SyncFolderOf(from)) return ErrnoText(error);
  if (std::rename(source.constData(), target.constData()) != 0) return ErrnoText(errno);
  // Past the rename either contents is sound; this only makes the new one the one kept.
  SyncFolderOf(to);
  return {};
}

}  // namespace sonarelle
