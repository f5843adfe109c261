#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

// For the fuzz targets whose readers take a file name: the input as a file of this process's
// own, rewritten for every input.
namespace fuzz_file {

inline QByteArray Bytes(const std::uint8_t* data, std::size_t size) {
  return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

inline QByteArray Read(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes `bytes` to the file (named `name` in the temporary folder, with the process id) and
// answers its path. Stops the run when the file cannot be written: every input would be lost.
inline QString Put(const char* name, const QByteArray& bytes) {
  static const QString folder = QDir::tempPath();
  const QString path =
      QStringLiteral("%1/%2-%3").arg(folder, QString::fromLatin1(name)).arg(::getpid());
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
    std::abort();
  }
  return path;
}

}  // namespace fuzz_file
