// sonarelle-sign: the publisher's tool that makes update keys, fills the SHA-256 digests of
// an update control file's files and signs the control file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>
#include <QStringList>

#include "platform/IniProfile.h"
#include "platform/UpdateSignature.h"

namespace {

using sonarelle::IniProfile::ReadString;
using sonarelle::IniProfile::WriteString;
namespace Signature = sonarelle::UpdateSignature;

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsage = 2;

const char kUsageText[] =
    "Usage:\n"
    "  sonarelle-sign keygen SECRET-FILE PUBLIC-FILE\n"
    "      writes a new key pair as hex texts (the secret file readable by its owner only);\n"
    "      existing files are not overwritten\n"
    "  sonarelle-sign hash CONTROL-FILE FOLDER\n"
    "      writes \"sha256\" into every file section whose file lies in FOLDER\n"
    "  sonarelle-sign sign CONTROL-FILE SECRET-FILE\n"
    "      writes the signature CONTROL-FILE.sig\n"
    "  sonarelle-sign verify CONTROL-FILE PUBLIC-FILE\n"
    "      checks CONTROL-FILE.sig; exit status 0 when it is valid\n"
    "Exit status: 0 success, 1 failure, 2 wrong usage.\n";

void Say(const QString& text) {
  std::fputs(qPrintable(text + u'\n'), stdout);
  std::fflush(stdout);
}

int Fail(const QString& text) {
  std::fputs(qPrintable(QStringLiteral("sonarelle-sign: ") + text + u'\n'), stderr);
  return kFailure;
}

int CannotRead(const QString& path) {
  return Fail(QStringLiteral("cannot read %1").arg(path));
}

QString ErrnoText(int error) {
  return QString::fromStdString(std::error_code(error, std::generic_category()).message());
}

bool ReadAll(const QString& path, QByteArray* contents) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  *contents = file.readAll();
  return file.error() == QFileDevice::NoError;
}

// Writes a new file that must not exist yet, with `mode`, completely or not at all.
QString WriteNewFile(const QString& path, const QByteArray& contents, mode_t mode) {
  const QByteArray name = QFile::encodeName(path);
  int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return ErrnoText(errno);
  int error = ::fchmod(fd, mode) == 0 ? 0 : errno;
  for (qsizetype done = 0; error == 0 && done < contents.size();) {
    ssize_t n = ::write(fd, contents.constData() + done, contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) error = n < 0 ? errno : ENOSPC;
    if (n > 0) done += n;
  }
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    ::unlink(name.constData());
    return ErrnoText(error);
  }
  return {};
}

int Keygen(const QString& secretPath, const QString& publicPath) {
  // A release key that is overwritten by mistake can never sign for installed programs again.
  for (const QString& path : {secretPath, publicPath}) {
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
      return Fail(QStringLiteral("%1 exists already; not overwritten").arg(path));
    }
  }
  QByteArray publicKey;
  QByteArray secretKey;
  Signature::GenerateKeyPair(&publicKey, &secretKey);
  if (secretKey.isEmpty()) return Fail(QStringLiteral("no randomness for a key pair"));
  QString error = WriteNewFile(secretPath, secretKey + '\n', 0600);
  if (!error.isEmpty()) return Fail(QStringLiteral("cannot write %1: %2").arg(secretPath, error));
  error = WriteNewFile(publicPath, publicKey + '\n', 0644);
  if (!error.isEmpty()) {
    QFile::remove(secretPath);
    return Fail(QStringLiteral("cannot write %1: %2").arg(publicPath, error));
  }
  Say(QStringLiteral("Secret key written to %1, public key to %2").arg(secretPath, publicPath));
  Say(QStringLiteral("Public key: %1").arg(QString::fromLatin1(publicKey)));
  return kSuccess;
}

// The name a downloaded file gets: the text after the last "/" and then after the last "\".
QString LocalName(const QString& url) {
  QString name = url.mid(url.lastIndexOf(u'/') + 1);
  return name.mid(name.lastIndexOf(u'\\') + 1);
}

int Hash(const QString& controlPath, const QString& folder) {
  if (!QFileInfo(controlPath).isFile()) return CannotRead(controlPath);
  if (!QFileInfo(folder).isDir()) return Fail(QStringLiteral("%1 is not a folder").arg(folder));
  bool ok = false;
  const int count =
      ReadString(controlPath, QStringLiteral("files"), QStringLiteral("count"), QString())
          .toInt(&ok);
  if (!ok || count < 1) {
    return Fail(QStringLiteral("%1 lists no files ([files] count)").arg(controlPath));
  }
  int missing = 0;
  for (int i = 1; i <= count; ++i) {
    const QString section = QStringLiteral("file%1").arg(i);
    const QString url = ReadString(controlPath, section, QStringLiteral("url"), QString());
    const QString name = LocalName(url);
    const QString path = folder + u'/' + name;
    if (name.isEmpty() || !QFileInfo(path).isFile()) {
      Say(QStringLiteral("[%1] missing: %2").arg(section, name.isEmpty() ? "(no url)" : path));
      ++missing;
      continue;
    }
    const QString digest = Signature::FileSha256(path);
    if (digest.isEmpty()) return CannotRead(path);
    if (!WriteString(controlPath, section, QStringLiteral("sha256"), digest)) {
      return Fail(QStringLiteral("cannot write %1").arg(controlPath));
    }
    Say(QStringLiteral("[%1] sha256 of %2: %3").arg(section, name, digest));
  }
  if (missing > 0) return Fail(QStringLiteral("%1 of %2 files missing").arg(missing).arg(count));
  return kSuccess;
}

int Sign(const QString& controlPath, const QString& secretPath) {
  QByteArray control;
  QByteArray secret;
  if (!ReadAll(controlPath, &control)) return CannotRead(controlPath);
  if (!ReadAll(secretPath, &secret)) return CannotRead(secretPath);
  const QByteArray signature = Signature::Sign(control, secret);
  if (signature.isEmpty()) {
    return Fail(QStringLiteral("%1 holds no secret key (128 hex characters)").arg(secretPath));
  }
  const QString sigPath = controlPath + QStringLiteral(".sig");
  QSaveFile out(sigPath);
  // Unbuffered, so that a full disk fails the write instead of committing an empty file.
  if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
      out.write(signature) != signature.size() || !out.commit()) {
    return Fail(QStringLiteral("cannot write %1: %2").arg(sigPath, out.errorString()));
  }
  Say(QStringLiteral("Signature written to %1").arg(sigPath));
  return kSuccess;
}

int Verify(const QString& controlPath, const QString& publicPath) {
  const QString sigPath = controlPath + QStringLiteral(".sig");
  QByteArray control;
  QByteArray signature;
  QByteArray publicKey;
  if (!ReadAll(controlPath, &control)) return CannotRead(controlPath);
  if (!ReadAll(sigPath, &signature)) return CannotRead(sigPath);
  if (!ReadAll(publicPath, &publicKey)) return CannotRead(publicPath);
  if (!Signature::Verify(control, signature, publicKey)) {
    return Fail(QStringLiteral("the signature of %1 is NOT valid").arg(controlPath));
  }
  Say(QStringLiteral("The signature of %1 is valid").arg(controlPath));
  return kSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  QStringList args;
  for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  if (args.size() == 1 && (args[0] == u"-h" || args[0] == u"--help")) {
    std::fputs(kUsageText, stdout);
    return kSuccess;
  }
  if (args.size() != 3) {
    std::fputs(kUsageText, stderr);
    return kUsage;
  }
  const QString& command = args[0];
  if (command == u"keygen") return Keygen(args[1], args[2]);
  if (command == u"hash") return Hash(args[1], args[2]);
  if (command == u"sign") return Sign(args[1], args[2]);
  if (command == u"verify") return Verify(args[1], args[2]);
  std::fputs(qPrintable(QStringLiteral("sonarelle-sign: unknown command %1\n").arg(command)),
             stderr);
  std::fputs(kUsageText, stderr);
  return kUsage;
}
