#include "platform/OpticalDrives.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace sonarelle {

namespace {

// /proc/mounts writes blanks and other special characters of paths as octal escapes.
QString UnescapeMountPath(const QByteArray& field) {
  QByteArray out;
  for (qsizetype i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      bool ok = false;
      int code = field.mid(i + 1, 3).toInt(&ok, 8);
      if (ok) {
        out += static_cast<char>(code);
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return QString::fromUtf8(out);
}

}  // namespace

QList<OpticalDrive> OpticalDrives() {
  QList<OpticalDrive> drives;
  QStringList names =
      QDir(QStringLiteral("/sys/block"))
          .entryList({QStringLiteral("sr*")}, QDir::Dirs | QDir::System | QDir::NoDotAndDotDot);
  std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  for (const QString& name : names) drives.append({QStringLiteral("/dev/") + name, QString()});

  QFile mounts(QStringLiteral("/proc/mounts"));
  if (!drives.isEmpty() && mounts.open(QIODevice::ReadOnly)) {
    for (const QByteArray& line : mounts.readAll().split('\n')) {
      const QList<QByteArray> fields = line.split(' ');
      if (fields.size() < 2) continue;
      const QString device = QFileInfo(UnescapeMountPath(fields[0])).canonicalFilePath();
      for (OpticalDrive& drive : drives) {
        if (drive.mountPoint.isEmpty() && device == drive.device) {
          drive.mountPoint = UnescapeMountPath(fields[1]);
        }
      }
    }
  }
  return drives;
}

QString FindPathIgnoringCase(const QString& root, const QString& relative) {
  if (root.isEmpty()) return QString();
  QString path = root;
  for (const QString& part : relative.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
    const QStringList entries =
        QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    auto match = std::find_if(entries.begin(), entries.end(), [&](const QString& entry) {
      return entry.compare(part, Qt::CaseInsensitive) == 0;
    });
    if (match == entries.end()) return QString();
    path = QDir(path).filePath(*match);
  }
  return path;
}

}  // namespace sonarelle
