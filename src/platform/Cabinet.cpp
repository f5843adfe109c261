#include "platform/Cabinet.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringList>

#include <mspack.h>

#include "platform/PosixFile.h"

namespace sonarelle {

namespace {

using posix_file::ErrnoText;
using posix_file::Fd;

// libmspack's file access over POSIX descriptors. Reads open the named file; every write
// goes to the descriptor the caller prepared (a temporary file made with O_EXCL in the right
// folder), so the library never opens an output path itself and cannot follow a symlink.
struct OutputSystem {
  mspack_system base;  // first, so the library's pointer is also ours
  int outputFd = -1;
  int writeErrno = 0;  // why the last write failed, for the message
};

struct PosixFile {
  int fd;
  OutputSystem* owner;
};

OutputSystem* Self(mspack_system* system) {
  return reinterpret_cast<OutputSystem*>(system);
}

mspack_file* SysOpen(mspack_system* system, const char* filename, int mode) {
  int fd = -1;
  if (mode == MSPACK_SYS_OPEN_READ) {
    fd = ::open(filename, O_RDONLY | O_CLOEXEC);
  } else if (mode == MSPACK_SYS_OPEN_WRITE && Self(system)->outputFd >= 0) {
    fd = ::fcntl(Self(system)->outputFd, F_DUPFD_CLOEXEC, 0);
  }
  if (fd < 0) return nullptr;
  auto* file = static_cast<PosixFile*>(std::malloc(sizeof(PosixFile)));
  if (file == nullptr) {
    ::close(fd);
    return nullptr;
  }
  file->fd = fd;
  file->owner = Self(system);
  return reinterpret_cast<mspack_file*>(file);
}

void SysClose(mspack_file* file) {
  auto* f = reinterpret_cast<PosixFile*>(file);
  if (f == nullptr) return;
  ::close(f->fd);
  std::free(f);
}

int SysRead(mspack_file* file, void* buffer, int bytes) {
  auto* f = reinterpret_cast<PosixFile*>(file);
  int done = 0;
  while (done < bytes) {
    ssize_t n = ::read(f->fd, static_cast<char*>(buffer) + done, bytes - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<int>(n);
  }
  return done;
}

int SysWrite(mspack_file* file, void* buffer, int bytes) {
  auto* f = reinterpret_cast<PosixFile*>(file);
  int done = 0;
  while (done < bytes) {
    ssize_t n = ::write(f->fd, static_cast<const char*>(buffer) + done, bytes - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      f->owner->writeErrno = n < 0 ? errno : ENOSPC;
      return -1;
    }
    done += static_cast<int>(n);
  }
  return done;
}

int SysSeek(mspack_file* file, off_t offset, int mode) {
  int whence = mode == MSPACK_SYS_SEEK_START ? SEEK_SET
               : mode == MSPACK_SYS_SEEK_CUR ? SEEK_CUR
                                             : SEEK_END;
  return ::lseek(reinterpret_cast<PosixFile*>(file)->fd, offset, whence) < 0 ? -1 : 0;
}

off_t SysTell(mspack_file* file) {
  return ::lseek(reinterpret_cast<PosixFile*>(file)->fd, 0, SEEK_CUR);
}

// The library's diagnostics would go to stderr; the caller gets our texts instead.
void SysMessage(mspack_file* /*file*/, const char* /*format*/, ...) {}

void* SysAlloc(mspack_system* /*system*/, size_t bytes) {
  return std::malloc(bytes);
}
void SysFree(void* buffer) {
  std::free(buffer);
}
void SysCopy(void* src, void* dest, size_t bytes) {
  std::memmove(dest, src, bytes);
}

OutputSystem MakeSystem() {
  OutputSystem system{};
  system.base = mspack_system{SysOpen,    SysClose, SysRead, SysWrite, SysSeek, SysTell,
                              SysMessage, SysAlloc, SysFree, SysCopy,  nullptr};
  return system;
}

QString LibraryErrorText(int error) {
  switch (error) {
    case MSPACK_ERR_OPEN:
      return QStringLiteral("cannot be opened");
    case MSPACK_ERR_READ:
      return QStringLiteral("cannot be read");
    case MSPACK_ERR_WRITE:
      return QStringLiteral("cannot be written");
    case MSPACK_ERR_SEEK:
      return QStringLiteral("cannot be positioned in");
    case MSPACK_ERR_NOMEMORY:
      return QStringLiteral("out of memory");
    case MSPACK_ERR_SIGNATURE:
      return QStringLiteral("unknown format");
    case MSPACK_ERR_CHECKSUM:
      return QStringLiteral("checksum error");
    default:
      return QStringLiteral("damaged data");
  }
}

// A file of `name` in the folder `dirFd` that nobody else can have opened: created new,
// never through a symlink. Its name goes to `tempName`.
Fd CreateTemporary(int dirFd, QByteArray* tempName) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *tempName =
        ".sonarelle-" + QByteArray::number(QRandomGenerator::global()->generate(), 16) + ".part";
    Fd fd(::openat(dirFd, tempName->constData(),
                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (fd.Valid() || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return Fd();
}

// The finishing steps shared by both formats: keep the mode of the file being replaced,
// flush, and rename over the final name in one step. On failure the temporary file goes.
QString Commit(int dirFd, Fd& fd, const QByteArray& tempName, const QByteArray& finalName) {
  struct stat old {};
  int error = 0;
  if (::fstatat(dirFd, finalName.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(old.st_mode) && ::fchmod(fd.Get(), old.st_mode & 0777) != 0) {
    error = errno;
  }
  if (error == 0 && ::fsync(fd.Get()) != 0) error = errno;
  if (::close(fd.Release()) != 0 && error == 0) error = errno;
  if (error == 0 && ::renameat(dirFd, tempName.constData(), dirFd, finalName.constData()) != 0) {
    error = errno;
  }
  if (error != 0) {
    ::unlinkat(dirFd, tempName.constData(), 0);
    return ErrnoText(error);
  }
  return {};
}

// An open archive of one of the library's formats, closed with its decompressor.
template <class Decompressor, class Handle, Decompressor* (*Create)(mspack_system*),
          void (*Destroy)(Decompressor*)>
class OpenArchive {
 public:
  explicit OpenArchive(const QString& path)
      : system_(MakeSystem()), fileName_(QFile::encodeName(path)) {
    decompressor_.reset(Create(&system_.base));
    if (!decompressor_) {
      error_ = MSPACK_ERR_NOMEMORY;
      return;
    }
    handle_ = decompressor_->open(decompressor_.get(), fileName_.constData());
    if (handle_ == nullptr) error_ = decompressor_->last_error(decompressor_.get());
  }
  ~OpenArchive() {
    if (handle_ != nullptr) decompressor_->close(decompressor_.get(), handle_);
  }
  OpenArchive(const OpenArchive&) = delete;
  OpenArchive& operator=(const OpenArchive&) = delete;

  Handle* Get() const { return handle_; }
  int Error() const { return error_; }

  // Writes `entry` (a cabinet's file, or an SZDD file's header) into the descriptor `fd`; an
  // empty text on success.
  template <class Entry>
  QString ExtractTo(Entry* entry, int fd) {
    system_.outputFd = fd;
    system_.writeErrno = 0;
    int result = decompressor_->extract(decompressor_.get(), entry, "-");
    system_.outputFd = -1;
    if (result == MSPACK_ERR_OK) return {};
    if (result == MSPACK_ERR_WRITE && system_.writeErrno != 0) {
      return ErrnoText(system_.writeErrno);
    }
    return LibraryErrorText(result);
  }

 private:
  struct Deleter {
    void operator()(Decompressor* d) const { Destroy(d); }
  };

  OutputSystem system_;
  // The library keeps this pointer and opens the file again by it for every extraction.
  QByteArray fileName_;
  std::unique_ptr<Decompressor, Deleter> decompressor_;
  Handle* handle_ = nullptr;
  int error_ = MSPACK_ERR_OK;
};

// --- cabinets

using OpenCabinet = OpenArchive<mscab_decompressor, mscabd_cabinet, mspack_create_cab_decompressor,
                                mspack_destroy_cab_decompressor>;

QString EntryName(const mscabd_file* file) {
  return (file->attribs & MSCAB_ATTRIB_UTF_NAME) != 0 ? QString::fromUtf8(file->filename)
                                                      : QString::fromLatin1(file->filename);
}

// The folders and file name of an entry below the target, or an empty list when the name
// could lead anywhere else or is no plain file name.
QList<QByteArray> SafeParts(const QString& stored) {
  for (QChar c : stored) {
    // Control characters, and what a broken UTF-8 name decodes to.
    if (c.unicode() < 0x20 || c.unicode() == 0x7f || c == QChar::ReplacementCharacter) return {};
    // A drive letter or an alternate data stream: neither is a path below the folder.
    if (c == u':') return {};
  }
  QString path = stored;
  path.replace(u'\\', u'/');
  if (path.startsWith(u'/')) return {};
  QList<QByteArray> parts;
  for (const QString& part : path.split(u'/')) {
    if (part.isEmpty() || part == u"." || part == u"..") return {};
    QByteArray encoded = QFile::encodeName(part);
    if (encoded.size() > NAME_MAX) return {};
    parts.push_back(encoded);
  }
  return parts;
}

// Why an entry's way below the folder is blocked by what exists there already: a symlink or
// a file where a folder should be, or a folder where the file should be. Empty when clear.
QString BlockedWay(int rootFd, const QList<QByteArray>& parts) {
  Fd current(::fcntl(rootFd, F_DUPFD_CLOEXEC, 0));
  for (qsizetype i = 0; i < parts.size(); ++i) {
    const bool last = i == parts.size() - 1;
    struct stat st {};
    if (::fstatat(current.Get(), parts[i].constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      return errno == ENOENT ? QString() : ErrnoText(errno);
    }
    if (last) return S_ISDIR(st.st_mode) ? QStringLiteral("a folder has its name") : QString();
    if (S_ISLNK(st.st_mode)) return QStringLiteral("its folder is a symbolic link");
    if (!S_ISDIR(st.st_mode)) return QStringLiteral("its folder is a file");
    current = Fd(::openat(current.Get(), parts[i].constData(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!current.Valid()) return ErrnoText(errno);
  }
  return {};
}

// The entry's folder below the root, made with its parents where missing and never reached
// through a symlink (O_NOFOLLOW on every step, also against one planted meanwhile).
Fd OpenEntryFolder(int rootFd, const QList<QByteArray>& parts) {
  Fd current(::fcntl(rootFd, F_DUPFD_CLOEXEC, 0));
  for (qsizetype i = 0; i + 1 < parts.size() && current.Valid(); ++i) {
    if (::mkdirat(current.Get(), parts[i].constData(), 0777) != 0 && errno != EEXIST) {
      return Fd();
    }
    current = Fd(::openat(current.Get(), parts[i].constData(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
  return current;
}

// The stored time is the local time of the machine that made the cabinet, as the format has it.
void SetStoredTime(int fd, const mscabd_file* file) {
  QDateTime stored(QDate(file->date_y, file->date_m, file->date_d),
                   QTime(file->time_h, file->time_m, file->time_s), Qt::LocalTime);
  if (!stored.isValid()) return;
  timespec times[2]{};
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(stored.toSecsSinceEpoch());
  ::futimens(fd, times);
}

// --- SZDD

using OpenSzdd = OpenArchive<msszdd_decompressor, msszddd_header, mspack_create_szdd_decompressor,
                             mspack_destroy_szdd_decompressor>;

}  // namespace

namespace Cabinet {

bool IsCabinet(const QString& path) {
  if (!QFileInfo(path).isFile()) return false;
  OpenCabinet cabinet(path);
  return cabinet.Get() != nullptr;
}

QString Extract(const QString& path, const QString& folder) {
  if (!QFileInfo(path).isFile()) return QStringLiteral("Cannot open cabinet %1").arg(path);
  OpenCabinet cabinet(path);
  if (cabinet.Get() == nullptr) {
    if (cabinet.Error() == MSPACK_ERR_SIGNATURE || cabinet.Error() == MSPACK_ERR_DATAFORMAT) {
      return QStringLiteral("%1 is not a cabinet").arg(path);
    }
    return QStringLiteral("Cannot open cabinet %1: %2")
        .arg(path, LibraryErrorText(cabinet.Error()));
  }

  const QString target = folder.isEmpty() ? QStringLiteral(".") : folder;
  Fd root(::open(QFile::encodeName(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!root.Valid()) {
    return QStringLiteral("Cannot open folder %1: %2").arg(target, ErrnoText(errno));
  }

  // Every name is checked before anything is written.
  struct Entry {
    mscabd_file* file;
    QString name;
    QList<QByteArray> parts;
  };
  std::vector<Entry> entries;
  for (mscabd_file* file = cabinet.Get()->files; file != nullptr; file = file->next) {
    Entry entry{file, EntryName(file), {}};
    entry.parts = SafeParts(entry.name);
    if (entry.parts.isEmpty()) {
      return QStringLiteral("Cabinet %1 holds an unsafe name: %2")
          .arg(path, entry.name.toUtf8().toPercentEncoding("/\\ "));
    }
    QString blocked = BlockedWay(root.Get(), entry.parts);
    if (!blocked.isEmpty()) {
      return QStringLiteral("Cannot extract %1 from cabinet %2: %3").arg(entry.name, path, blocked);
    }
    entries.push_back(std::move(entry));
  }

  for (const Entry& entry : entries) {
    auto failed = [&](const QString& why) {
      return QStringLiteral("Cannot extract %1 from cabinet %2: %3").arg(entry.name, path, why);
    };
    Fd dir = OpenEntryFolder(root.Get(), entry.parts);
    if (!dir.Valid()) return failed(ErrnoText(errno));
    QByteArray tempName;
    Fd out = CreateTemporary(dir.Get(), &tempName);
    if (!out.Valid()) return failed(ErrnoText(errno));
    QString error = cabinet.ExtractTo(entry.file, out.Get());
    if (error.isEmpty()) {
      SetStoredTime(out.Get(), entry.file);
      error = Commit(dir.Get(), out, tempName, entry.parts.back());
    } else {
      ::unlinkat(dir.Get(), tempName.constData(), 0);
    }
    if (!error.isEmpty()) return failed(error);
  }
  return {};
}

}  // namespace Cabinet

namespace Szdd {

bool IsSzdd(const QString& path) {
  if (!QFileInfo(path).isFile()) return false;
  OpenSzdd szdd(path);
  return szdd.Get() != nullptr;
}

QString ExpandedName(const QString& path) {
  if (!path.endsWith(u'_')) return path;
  OpenSzdd szdd(path);
  if (szdd.Get() == nullptr) return path;
  const char stored = szdd.Get()->missing_char;
  // Only a character that can end a file name in this folder.
  if (stored <= ' ' || stored > '~' || stored == '/' || stored == '\\' || stored == ':' ||
      stored == '.') {
    return path;
  }
  QChar restored = QChar::fromLatin1(stored);
  // COMPRESS stores the character in upper case; the name's own letters decide its case.
  const QString name = QFileInfo(path).fileName();
  bool lower = false;
  bool upper = false;
  for (QChar c : name) {
    lower = lower || c.isLower();
    upper = upper || c.isUpper();
  }
  if (lower && !upper) restored = restored.toLower();
  if (upper && !lower) restored = restored.toUpper();
  QString expanded = path;
  expanded[expanded.size() - 1] = restored;
  return expanded;
}

QString Expand(const QString& path, const QString& target) {
  if (!QFileInfo(path).isFile()) return QStringLiteral("Cannot open %1").arg(path);
  OpenSzdd szdd(path);
  if (szdd.Get() == nullptr) {
    if (szdd.Error() == MSPACK_ERR_SIGNATURE) {
      return QStringLiteral("%1 is not SZDD-compressed").arg(path);
    }
    return QStringLiteral("Cannot open %1: %2").arg(path, LibraryErrorText(szdd.Error()));
  }
  const QFileInfo targetInfo(target);
  const QString folder = targetInfo.absolutePath();
  Fd dir(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.Valid()) {
    return QStringLiteral("Cannot open folder %1: %2").arg(folder, ErrnoText(errno));
  }
  auto failed = [&](const QString& why) {
    return QStringLiteral("Cannot expand %1 into %2: %3").arg(path, target, why);
  };
  QByteArray tempName;
  Fd out = CreateTemporary(dir.Get(), &tempName);
  if (!out.Valid()) return failed(ErrnoText(errno));
  QString error = szdd.ExtractTo(szdd.Get(), out.Get());
  // The format has no checksum; a cut-off file shows only in its length.
  struct stat written {};
  if (error.isEmpty() && ::fstat(out.Get(), &written) != 0) error = ErrnoText(errno);
  if (error.isEmpty() && written.st_size != szdd.Get()->length) {
    error = QStringLiteral("the file is cut short (%1 of %2 bytes)")
                .arg(written.st_size)
                .arg(szdd.Get()->length);
  }
  if (error.isEmpty()) {
    error = Commit(dir.Get(), out, tempName, QFile::encodeName(targetInfo.fileName()));
  } else {
    ::unlinkat(dir.Get(), tempName.constData(), 0);
  }
  return error.isEmpty() ? QString() : failed(error);
}

}  // namespace Szdd

}  // namespace sonarelle
